#include "reader/BookSearchPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int HitRole = Qt::UserRole;
constexpr int SnippetColumn = 1;

// Draws the snippet with the word in the title colour of the shelf, bold.
class SnippetDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QStringList parts = index.data(HitRole).toStringList();
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        if (parts.size() != 3)
            return;
        painter->save();
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        const QColor normal = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QRect r = opt.rect.adjusted(4, 0, -4, 0);
        QFont bold = opt.font;
        bold.setBold(true);
        const QFont fonts[3] = {opt.font, bold, opt.font};
        for (int i = 0; i < 3 && r.width() > 0; ++i) {
            painter->setFont(fonts[i]);
            painter->setPen(i == 1 && !selected ? QColor(198, 79, 6) : normal);
            const QFontMetrics fm(fonts[i]);
            const QString text = fm.elidedText(parts.at(i), Qt::ElideRight, r.width());
            painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text);
            r.setLeft(r.left() + fm.horizontalAdvance(text));
        }
        painter->restore();
    }
};

} // namespace

BookSearchPanel::BookSearchPanel(QWidget *parent) : QWidget(parent), m_searcher(new BookSearcher(this))
{
    setObjectName(QStringLiteral("BookSearchPanel"));
    m_switch = new QToolButton;
    m_switch->setObjectName(QStringLiteral("WholeBookSwitch"));
    m_switch->setText(QStringLiteral("全书"));
    m_switch->setCheckable(true);
    m_switch->setToolTip(QStringLiteral("在全书中查找，列出每一处"));

    m_count = new QLabel(this);
    m_results = new QTreeWidget(this);
    m_results->setObjectName(QStringLiteral("BookSearchResults"));
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setHeaderLabels({QStringLiteral("章节"), QStringLiteral("内容")});
    m_results->setColumnWidth(0, 180);
    m_results->setItemDelegateForColumn(SnippetColumn, new SnippetDelegate(m_results));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 2, 4, 0);
    column->setSpacing(2);
    column->addWidget(m_count);
    column->addWidget(m_results, 1);
    setFixedHeight(190);
    hide();

    connect(m_switch, &QToolButton::toggled, this, [this](bool on) {
        setVisible(on);
        if (!on) {
            m_searcher->cancel();
            m_searchId = 0;
        }
    });
    connect(m_searcher, &BookSearcher::hitsFound, this, &BookSearchPanel::addHits);
    connect(m_searcher, &BookSearcher::finished, this, &BookSearchPanel::onFinished);
    connect(m_results, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const int i = m_results->indexOfTopLevelItem(item);
        if (i >= 0 && i < m_hits.size())
            Q_EMIT hitChosen(m_hits.at(i));
    });
    connect(m_results, &QTreeWidget::itemClicked, m_results, &QTreeWidget::itemActivated);
}

bool BookSearchPanel::isOn() const
{
    return m_switch->isChecked();
}

void BookSearchPanel::setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading)
{
    m_path = path;
    m_entries = entries;
    m_reading = reading;
    m_searcher->cancel();
    m_searchId = 0;
    m_hits.clear();
    m_results->clear();
    m_count->clear();
    if (isOn() && !m_word.isEmpty())
        search(m_word);
}

void BookSearchPanel::search(const QString &word)
{
    m_word = word;
    if (!isOn())
        return;
    m_hits.clear();
    m_results->clear();
    if (word.isEmpty() || m_path.isEmpty()) {
        m_searcher->cancel();
        m_searchId = 0;
        m_count->clear();
        return;
    }
    m_count->setText(QStringLiteral("正在全书查找“%1”…").arg(word));
    m_searchId = m_searcher->search(m_path, m_entries, word, m_reading);
}

void BookSearchPanel::addHits(quint64 id, const QList<BookSearchHit> &hits)
{
    if (id != m_searchId)
        return;
    QList<QTreeWidgetItem *> items;
    items.reserve(hits.size());
    for (const BookSearchHit &hit : hits) {
        const QString title = hit.chapter >= 1 && hit.chapter <= m_entries.size() ? m_entries.at(hit.chapter - 1).title
                                                                                  : QString();
        auto *item = new QTreeWidgetItem({title, hit.before + hit.word + hit.after});
        item->setData(SnippetColumn, HitRole, QStringList{hit.before, hit.word, hit.after});
        item->setToolTip(0, title);
        items.append(item);
    }
    m_hits += hits;
    m_results->addTopLevelItems(items);
    m_count->setText(QStringLiteral("正在全书查找“%1”… 已找到 %2 处").arg(m_word).arg(m_hits.size()));
}

void BookSearchPanel::onFinished(quint64 id, const BookSearchOutcome &outcome)
{
    if (id != m_searchId)
        return;
    if (outcome.failed)
        m_count->setText(QStringLiteral("无法读取本书，全书查找没有完成"));
    else if (outcome.total == 0)
        m_count->setText(QStringLiteral("全书中没有找到“%1”").arg(m_word));
    else if (outcome.total > m_hits.size())
        m_count->setText(QStringLiteral("全书共找到 %1 处“%2”，列出前 %3 处").arg(outcome.total).arg(m_word).arg(m_hits.size()));
    else
        m_count->setText(QStringLiteral("全书共找到 %1 处“%2”").arg(outcome.total).arg(m_word));
}
