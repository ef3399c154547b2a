#include "library/ShelfColumns.h"

#include "library/LibraryDb.h"
#include "platform/MainLayout.h"

#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

namespace {

// A cell text as wide as the widest a fixed column has to show.
QString widestText(const QString &key)
{
    if (key == u"id")
        return QStringLiteral("0000");
    if (key == u"type")
        return QStringLiteral("武侠仙侠");
    if (key == u"lastread")
        return QStringLiteral("2024/12/30 23:59");
    if (key == u"author")
        return QStringLiteral("某某某某某");
    if (key == u"progress")
        return QStringLiteral("100%");
    if (key == u"update")
        return QStringLiteral("有更新");
    return {};
}

// The column that takes whatever room the others leave, while it follows the list, and the
// least it is given when there is none.
const auto kFiller = QStringLiteral("path");
constexpr int NarrowestFiller = 20;
// "ID" to "文件地址": the columns the window's layout knows.
constexpr int LaidOutColumns = 6;

} // namespace

ShelfColumns::ShelfColumns(QTreeWidget *list, LibraryDb &db, const QStringList &keys, const QStringList &hiddenAtFirst)
    : QObject(list), m_list(list), m_db(db), m_keys(keys), m_dragged(int(keys.size()), 0)
{
    QHeaderView *header = m_list->header();
    header->setStretchLastSection(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    m_menu = new QMenu(m_list);
    m_menu->setObjectName(QStringLiteral("ShelfColumnsMenu"));

    // Once the user has shown or hidden a column, or dragged one, the option holds every column
    // hidden, possibly none.
    const QStringList hidden = m_db.option(hiddenOption(), hiddenAtFirst.join(u',')).split(u',', Qt::SkipEmptyParts);
    for (const QString &entry : m_db.option(widthsOption()).split(u',', Qt::SkipEmptyParts)) {
        const qsizetype column = m_keys.indexOf(entry.section(u'=', 0, 0));
        const int width = entry.section(u'=', 1).toInt();
        if (column >= 0 && width > 0)
            m_dragged[column] = width;
    }
    for (int c = 0; c < m_keys.size(); ++c) {
        QAction *item = m_menu->addAction(m_list->headerItem()->text(c));
        item->setObjectName(m_keys[c]);
        item->setCheckable(true);
        item->setChecked(!hidden.contains(m_keys[c]));
        header->setSectionHidden(c, !item->isChecked());
        connect(item, &QAction::toggled, this, [this, c](bool on) { setShown(c, on); });
    }
    connect(header, &QWidget::customContextMenuRequested, this,
            [this, header](const QPoint &pos) { m_menu->popup(header->mapToGlobal(pos)); });
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int newSize) { onSectionResized(column, newSize); });
    m_list->installEventFilter(this);
    fit();
}

void ShelfColumns::setListWidthTwips(int twips)
{
    m_listTwips = twips;
    fit();
}

int ShelfColumns::defaultWidth(int column, int listTwips) const
{
    if (column < LaidOutColumns) {
        if (const int twips = BookColumnTwips(column, listTwips); twips >= 0)
            return twipsToPixels(twips);
    }
    const QString &key = m_keys[column];
    const int caption = m_list->header()->fontMetrics().horizontalAdvance(m_list->headerItem()->text(column));
    const int cell = m_list->fontMetrics().horizontalAdvance(widestText(key));
    // "ID" keeps to its numbers, so that the laid-out columns leave the path some room in a
    // small window; the others have room for the caption with the sort arrow beside it.
    if (column == 0)
        return std::max(caption, cell) + 12;
    return std::max(caption + 28, cell + 16);
}

void ShelfColumns::fit()
{
    QHeaderView *header = m_list->header();
    // The vertical scroll bar is counted in from the start, so that a full page does not push
    // the last column out when it appears.
    const int room = m_list->width() - 2 * m_list->frameWidth() -
                     m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list->verticalScrollBar());
    // A layout refused for a window too small leaves the list as it was.
    const int listTwips = m_listTwips >= 0 ? m_listTwips : pixelsToTwips(m_list->width());
    int filler = int(m_keys.indexOf(kFiller));
    if (filler >= 0 && (header->isSectionHidden(filler) || m_dragged[filler] > 0))
        filler = -1;
    int used = 0;
    m_fitting = true;
    for (int c = 0; c < m_keys.size(); ++c) {
        if (c == filler)
            continue;
        const int width = m_dragged[c] > 0 ? m_dragged[c] : defaultWidth(c, listTwips);
        m_list->setColumnWidth(c, width);
        if (!header->isSectionHidden(c))
            used += width;
    }
    if (filler >= 0)
        m_list->setColumnWidth(filler, std::max({NarrowestFiller, header->minimumSectionSize(), room - used}));
    m_fitting = false;
}

void ShelfColumns::setShown(int column, bool shown)
{
    QHeaderView *header = m_list->header();
    if (shown == !header->isSectionHidden(column))
        return;
    // The last column shown stays.
    if (!shown && header->count() - header->hiddenSectionCount() <= 1) {
        const QSignalBlocker quiet(m_menu->actions().at(column));
        m_menu->actions().at(column)->setChecked(true);
        return;
    }
    m_fitting = true;
    header->setSectionHidden(column, !shown);
    m_fitting = false;
    const QSignalBlocker quiet(m_menu->actions().at(column));
    m_menu->actions().at(column)->setChecked(shown);
    fit();
    save();
}

void ShelfColumns::onSectionResized(int column, int newSize)
{
    if (m_fitting || newSize <= 0 || column < 0 || column >= m_keys.size())
        return;
    m_dragged[column] = newSize;
    save();
    fit();
}

void ShelfColumns::save()
{
    QStringList widths;
    QStringList hidden;
    for (int c = 0; c < m_keys.size(); ++c) {
        if (m_dragged[c] > 0)
            widths << QStringLiteral("%1=%2").arg(m_keys[c]).arg(m_dragged[c]);
        if (m_list->header()->isSectionHidden(c))
            hidden << m_keys[c];
    }
    m_db.setOption(widthsOption(), widths.join(u','));
    m_db.setOption(hiddenOption(), hidden.join(u','));
}

bool ShelfColumns::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::Resize)
        fit();
    return QObject::eventFilter(watched, event);
}
