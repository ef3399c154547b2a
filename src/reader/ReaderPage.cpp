#include "reader/ReaderPage.h"

#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"
#include "reader/BookSearch.h"
#include "reader/ChapterJumpBox.h"
#include "reader/ReadingView.h"
#include "text/TextRules.h"

#include <QFutureWatcher>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr int PositionRole = Qt::UserRole;
constexpr int IconSize = 16;

// A chapter as the page gets it: cleaned by the book's rules when it has some on.
struct ShownChapter
{
    ChapterText text;
    QStringList stopped;
    int occurrence = 0;       // of the word to highlight, counted on the cleaned text
    bool occurrenceGone = false; // a rule took that match away
    double fraction = 0;      // where its line stands then
};

QIcon drawNowChapterIcon()
{
    QPainterPath arrow;
    arrow.moveTo(4, 3);
    arrow.lineTo(13, 8);
    arrow.lineTo(4, 13);
    arrow.closeSubpath();
    return DrawnReaderIcon(arrow, QColor(0x2E, 0x7D, 0x32));
}

QIcon drawSpaceIcon()
{
    QPixmap pixmap(IconSize, IconSize);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

const QIcon &nowChapterIcon()
{
    static const QIcon icon = drawNowChapterIcon();
    return icon;
}

const QIcon &spaceIcon()
{
    static const QIcon icon = drawSpaceIcon();
    return icon;
}

} // namespace

QIcon DrawnReaderIcon(const QPainterPath &path, const QColor &colour)
{
    QPixmap pixmap(IconSize, IconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, colour);
    return QIcon(pixmap);
}

ReaderPage::ReaderPage(ReadingView *view, Prompter &prompter, QObject *parent)
    : QObject(parent), m_view(view), m_prompter(prompter)
{
    m_pool.setMaxThreadCount(2);
    connect(m_view, &ReadingView::keyPressedInPage, this, &ReaderPage::onPageKey);
}

void ReaderPage::addChapterList(QWidget *pane)
{
    m_list = new QTreeWidget(pane);
    m_list->setObjectName(QStringLiteral("ListView2"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setIconSize(QSize(IconSize, IconSize));
    m_list->setHeaderLabels({QStringLiteral("章节列表")});
    m_list->installEventFilter(this);
    SetTwips(m_list, 0, 360, 3000, 1000);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { showSelected(); });
}

void ReaderPage::addChapterJump(QWidget *pane)
{
    m_jump = new ChapterJumpBox(pane);
    connect(m_jump, &ChapterJumpBox::chapterChosen, this, [this](int position) { showAt(position, 0); });
}

void ReaderPage::setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading)
{
    m_path = path;
    m_entries = entries;
    m_reading = reading;
    m_shown = 0;
    const QIcon &space = spaceIcon();
    QList<QTreeWidgetItem *> items;
    items.reserve(entries.size());
    for (const ChapterEntry &e : entries) {
        auto *item = new QTreeWidgetItem({e.title});
        item->setData(0, PositionRole, e.number);
        item->setData(0, IconKeyRole, spaceKey());
        item->setIcon(0, space);
        item->setToolTip(0, e.title);
        items.append(item);
    }
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    m_list->addTopLevelItems(items);
    m_list->setUpdatesEnabled(true);
    m_titlesIn = ScriptConversion::None;
}

void ReaderPage::setConversion(ScriptConversion conversion)
{
    m_conversion = conversion;
    if (conversion == m_titlesIn)
        return;
    m_titlesIn = conversion;
    QStringList titles;
    titles.reserve(m_entries.size());
    for (const ChapterEntry &e : std::as_const(m_entries))
        titles.append(e.title);
    titles = ConvertScriptEach(titles, conversion);
    for (int i = 0; i < m_list->topLevelItemCount() && i < titles.size(); ++i) {
        m_list->topLevelItem(i)->setText(0, titles.at(i));
        m_list->topLevelItem(i)->setToolTip(0, titles.at(i));
    }
}

QString ReaderPage::shownTitle(int position) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(position - 1);
    return item ? item->text(0) : QString();
}

int ReaderPage::selected() const
{
    const QTreeWidgetItem *item = m_list->currentItem();
    return item ? item->data(0, PositionRole).toInt() : 0;
}

void ReaderPage::select(int position)
{
    if (QTreeWidgetItem *item = m_list->topLevelItem(position - 1))
        m_list->setCurrentItem(item);
}

void ReaderPage::prepare(int position, double fraction)
{
    select(position);
    m_scrollAfterShow = fraction;
}

void ReaderPage::markShown(int position)
{
    if (QTreeWidgetItem *old = m_list->topLevelItem(m_shown - 1)) {
        old->setIcon(0, spaceIcon());
        old->setData(0, IconKeyRole, spaceKey());
    }
    m_shown = position;
    if (QTreeWidgetItem *now = m_list->topLevelItem(position - 1)) {
        now->setIcon(0, nowChapterIcon());
        now->setData(0, IconKeyRole, nowChapterKey());
    }
}

void ReaderPage::showSelected()
{
    if (m_entries.isEmpty())
        return;
    int position = selected();
    if (position < 1) {
        position = 1;
        select(1);
    }
    markShown(position);
    m_list->scrollToItem(m_list->topLevelItem(position - 1));

    // Asked again for every chapter (the source keeps what it made), so rules changed from the
    // settings apply from the next one.
    reloadTextCleaner();
    // A newer request makes this one's result moot.
    const quint64 id = ++m_request;
    m_fetching = true;
    Q_EMIT fetchingChanged();
    const double scroll = std::exchange(m_scrollAfterShow, 0);
    const QString highlight = std::exchange(m_highlightAfterShow, {});
    const QString wordInFile = std::exchange(m_highlightInFile, {});
    auto *watcher = new QFutureWatcher<ShownChapter>(this);
    connect(watcher, &QFutureWatcher<ShownChapter>::finished, this,
            [this, watcher, id, position, scroll, highlight] {
                watcher->deleteLater();
                if (id != m_request)
                    return;
                m_fetching = false;
                Q_EMIT fetchingChanged();
                const ShownChapter shown = watcher->result();
                const ChapterText &text = shown.text;
                // The page is cleared too, so the previous chapter's text is not taken for this one.
                m_view->showText(text.fragment);
                if (text.refusedBytes > 0)
                    m_prompter.message(ChapterTooLargeMessage(text.refusedBytes), Prompter::Icon::Critical,
                                       QStringLiteral("无法显示本章"));
                Q_EMIT textShown(position, scroll);
                if (!highlight.isEmpty() && shown.occurrenceGone)
                    m_view->scrollToFraction(shown.fraction);
                else if (!highlight.isEmpty())
                    m_view->highlightOccurrence(highlight, shown.occurrence);
                else if (scroll > 0)
                    m_view->scrollToFraction(scroll);
                Q_EMIT chapterShown(position);
                if (!shown.stopped.isEmpty())
                    Q_EMIT textRulesStopped(shown.stopped);
            });
    const ChapterEntry entry = m_entries.at(position - 1);
    watcher->setFuture(QtConcurrent::run(&m_pool, [path = m_path, entry, reading = m_reading, cleaner = m_cleaner,
                                                   conversion = m_conversion, wordInFile,
                                                   occurrence = m_highlightOccurrence] {
        ShownChapter shown;
        shown.text =
            ReadChapterText(path, entry.firstShownLine(), entry.lastShownLine(), MaxChapterBytes, reading);
        shown.occurrence = occurrence;
        if (cleaner && !cleaner->isEmpty() && !shown.text.fragment.isEmpty()) {
            // The rules are written against the file's own characters, so they run before any
            // conversion, and count the hit as the file spells it.
            TextCleaner::Result cleaned = cleaner->clean(shown.text.fragment, wordInFile, occurrence);
            shown.text.fragment = std::move(cleaned.fragment);
            shown.stopped = std::move(cleaned.stopped);
            shown.occurrence = cleaned.occurrence;
            shown.occurrenceGone = !wordInFile.isEmpty() && cleaned.occurrence < 0;
            shown.fraction = cleaned.lineFraction;
        }
        shown.text.fragment = ConvertScript(shown.text.fragment, conversion);
        return shown;
    }));
}

void ReaderPage::setTextCleanerSource(TextCleanerSource source)
{
    m_cleanerSource = std::move(source);
    reloadTextCleaner();
}

void ReaderPage::reloadTextCleaner()
{
    m_cleaner = m_cleanerSource && !m_path.isEmpty() ? m_cleanerSource(m_path) : nullptr;
}

void ReaderPage::showAt(int position, double fraction)
{
    if (position < 1 || position > m_entries.size())
        return;
    prepare(position, fraction);
    Q_EMIT jumping(position, fraction <= 0);
    showSelected();
}

void ReaderPage::showHit(const BookSearchHit &hit)
{
    if (hit.chapter < 1 || hit.chapter > m_entries.size())
        return;
    select(hit.chapter);
    m_highlightAfterShow = ConvertScript(hit.word, m_conversion);
    m_highlightInFile = hit.word;
    m_highlightOccurrence = hit.occurrence;
    Q_EMIT jumping(hit.chapter, false);
    showSelected();
}

void ReaderPage::keyNavigation(int keyCode)
{
    if (m_entries.isEmpty() || (keyCode != 13 && keyCode != 37 && keyCode != 39))
        return;
    const int i = selected();
    if (keyCode == 37) {
        if (i <= 1) {
            m_prompter.message(QStringLiteral("当前是第一章，前面没有章节！"), Prompter::Icon::Information);
            return;
        }
        select(i - 1);
        showSelected();
    } else if (keyCode == 39) {
        if (i >= m_entries.size()) {
            m_prompter.message(QStringLiteral("已经是最后一章了！"), Prompter::Icon::Information);
            return;
        }
        select(i + 1);
        showSelected();
    }
}

void ReaderPage::first()
{
    if (m_entries.isEmpty())
        return;
    select(1);
    showSelected();
}

void ReaderPage::last()
{
    if (m_entries.isEmpty())
        return;
    select(int(m_entries.size()));
    showSelected();
}

void ReaderPage::onPageKey(int keyCode)
{
    if (m_entries.isEmpty())
        return;
    // Paging on past the first or the last chapter just stops there; the boxes that say so
    // belong to the arrows and the toolbar.
    switch (keyCode) {
    case 34: // PageDown or Space at the end of the chapter
        if (m_shown < m_entries.size())
            showAt(m_shown + 1, 0);
        break;
    case 33: // PageUp at its top: the end of the chapter before
        if (m_shown > 1)
            showAt(m_shown - 1, 1);
        break;
    default:
        keyNavigation(keyCode);
    }
}

void ReaderPage::openJump()
{
    if (m_entries.isEmpty())
        return;
    const QRect page = m_view->geometry();
    m_jump->setGeometry(page.left() + 16, page.top() + 8, std::min(360, std::max(200, page.width() - 32)),
                        std::max(160, std::min(420, page.height() - 16)));
    QList<ChapterEntry> shown = m_entries;
    if (m_conversion != ScriptConversion::None)
        for (int i = 0; i < m_list->topLevelItemCount() && i < shown.size(); ++i)
            shown[i].title = m_list->topLevelItem(i)->text(0);
    m_jump->open(shown, m_shown);
}

bool ReaderPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_entries.isEmpty()) {
            showSelected();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
