#include "catalogue/CatalogueBookList.h"

#include "catalogue/CatalogueNavigation.h"

#include <QCollator>
#include <QHeaderView>

namespace {

enum Column { ColId, ColClass, ColName, ColAuthor, ColStatue, ColTime, ColSize, ColAction, ColUrl };

// Where a row's entry sits in the answer, whatever order a header click put the rows in.
constexpr int EntryRole = Qt::UserRole + 1;
constexpr int SortRole = Qt::UserRole + 2;
// A catalogue row that sorts by its entry's sort key rather than by the text shown.
class CatalogueItem : public QTreeWidgetItem
{
public:
    CatalogueItem(const CatalogueEntry &entry, int index) : QTreeWidgetItem(entry.cells())
    {
        setData(ColId, EntryRole, index);
        for (int c = ColId; c <= ColUrl; ++c)
            setData(c, SortRole, entry.sortKey(c));
    }
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int c = treeWidget() ? treeWidget()->sortColumn() : ColId;
        const QVariant mine = data(c, SortRole);
        const QVariant theirs = other.data(c, SortRole);
        // Titles, authors and categories in pinyin order, as a Chinese reader looks for them.
        if (mine.typeId() == QMetaType::QString && theirs.typeId() == QMetaType::QString)
            return pinyinOrder().compare(mine.toString(), theirs.toString()) < 0;
        return QVariant::compare(mine, theirs) == QPartialOrdering::Less;
    }

private:
    static const QCollator &pinyinOrder()
    {
        static const QCollator collator = [] {
            QCollator c(QLocale(QLocale::Chinese, QLocale::China));
            c.setNumericMode(true);
            return c;
        }();
        return collator;
    }
};

QColor rgb(unsigned value)
{
    return QColor::fromRgb(QRgb(value));
}

} // namespace

CatalogueBookList::CatalogueBookList(QWidget *parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("NetBookList"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHeaderLabels(CatalogueEntry::columnCaptions());
    const int widths[] = {50, 70, 200, 90, 50, 80, 70, 70};
    for (int c = ColId; c <= ColAction; ++c)
        setColumnWidth(c, widths[c]);
    header()->setStretchLastSection(true);
    setMouseTracking(true);
    connect(this, &QTreeWidget::itemEntered, this, &CatalogueBookList::showRowToolTip);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &CatalogueBookList::sortBy);
}

void CatalogueBookList::fill(const QList<CatalogueEntry> &entries)
{
    m_entryCount = int(entries.size());
    clear();
    header()->setSortIndicatorShown(false);
    m_sortColumn = -1;
    QList<QTreeWidgetItem *> items;
    items.reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        auto *item = new CatalogueItem(entries[i], i);
        item->setForeground(ColName, rgb(TitleCellColor));
        item->setForeground(ColAction, rgb(DownloadCellColor));
        items.append(item);
    }
    addTopLevelItems(items);
    if (!items.isEmpty())
        setCurrentItem(items.first());
}

void CatalogueBookList::sortBy(int column)
{
    // The order is the list's own: by the time the click arrives the header may have flipped its
    // arrow already, and reading it back would flip the order twice.
    const Qt::SortOrder order =
        m_sortColumn == column && m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_sortColumn = column;
    m_sortOrder = order;
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, order);
    sortItems(column, order);
    if (QTreeWidgetItem *current = currentItem())
        scrollToItem(current);
}

int CatalogueBookList::selectedEntry() const
{
    const QTreeWidgetItem *item = currentItem();
    const int row = item ? item->data(ColId, EntryRole).toInt() : -1;
    return item && row >= 0 && row < m_entryCount ? row : -1;
}

void CatalogueBookList::showRowToolTip(QTreeWidgetItem *item)
{
    if (item)
        setToolTip(CatalogueRowToolTip(item->text(ColName), item->text(ColStatue)));
}
