#include "reader/BookmarkList.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "reader/ReaderPage.h"
#include "reader/ReadingStatus.h"
#include "reader/ReadingView.h"
#include "text/Chapters.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int IdRole = Qt::UserRole + 1;
constexpr int ExcerptLines = 8; // read from the place on; enough for an excerpt past blank lines

QString plainLine(QString line)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    line.remove(tag);
    line.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    line.replace(QLatin1String("&lt;"), QLatin1String("<"));
    line.replace(QLatin1String("&gt;"), QLatin1String(">"));
    line.replace(QLatin1String("&quot;"), QLatin1String("\""));
    line.replace(QLatin1String("&#39;"), QLatin1String("'"));
    line.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return line.simplified();
}

} // namespace

QString BookmarkExcerpt(const QString &fragment, const QString &skip, int length)
{
    QString text;
    const QString heading = plainLine(skip);
    for (const QString &raw : fragment.split(QStringLiteral("<br>"))) {
        const QString line = plainLine(raw);
        if (line.isEmpty() || (text.isEmpty() && line == heading))
            continue;
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += line;
        if (text.size() > length)
            return text.left(length) + QStringLiteral("…");
    }
    return text;
}

BookmarkList::BookmarkList(LibraryDb &db, Prompter &prompter, ReaderPage &page, ReadingView *view, QWidget *pane)
    : QWidget(pane, Qt::Tool), m_db(db), m_prompter(prompter), m_page(page), m_view(view)
{
    setObjectName(QStringLiteral("BookmarkList"));
    setWindowTitle(QStringLiteral("书签列表"));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setAlternatingRowColors(true);
    m_list->setHeaderLabels({QStringLiteral("章节"), QStringLiteral("位置"), QStringLiteral("摘录"),
                             QStringLiteral("备注"), QStringLiteral("添加时间")});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(ExcerptColumn, QHeaderView::Stretch);
    const int widths[] = {170, 48, 0, 110, 112};
    for (int column : {ChapterColumn, PlaceColumn, NoteColumn, MadeColumn})
        m_list->setColumnWidth(column, widths[column]);
    m_list->setToolTip(QStringLiteral("单击书签跳转到添加书签的位置"));
    m_note = new QLineEdit(this);
    m_note->setPlaceholderText(QStringLiteral("选中一个书签后在这里写备注，回车保存"));
    m_saveNote = new QPushButton(QStringLiteral("保存备注"), this);
    m_remove = new QPushButton(QStringLiteral("删除书签"), this);
    m_remove->setToolTip(QStringLiteral("从列表中删除选中的书签 (Delete)"));
    m_hint = new QLabel(this);

    auto *noteRow = new QHBoxLayout;
    noteRow->addWidget(new QLabel(QStringLiteral("备注："), this));
    noteRow->addWidget(m_note, 1);
    noteRow->addWidget(m_saveNote);
    noteRow->addWidget(m_remove);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(noteRow);
    layout->addWidget(m_hint);
    resize(640, 340);

    connect(m_list, &QTreeWidget::itemClicked, this, &BookmarkList::jumpTo);
    connect(m_list, &QTreeWidget::itemActivated, this, &BookmarkList::jumpTo);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &BookmarkList::onCurrentChanged);
    connect(m_note, &QLineEdit::returnPressed, this, &BookmarkList::saveNote);
    connect(m_saveNote, &QPushButton::clicked, this, &BookmarkList::saveNote);
    connect(m_remove, &QPushButton::clicked, this, &BookmarkList::removeCurrent);
    // The Delete key itself: the platform's standard delete sequence may include Ctrl+D, the key
    // that sets bookmarks.
    auto *del = new QShortcut(QKeySequence(Qt::Key_Delete), m_list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, &BookmarkList::askAndRemoveCurrent);
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, &QWidget::close);

    // Where the reader is on the page: the chapter shown and how far down it is scrolled.
    connect(&m_page, &ReaderPage::textShown, this, [this](int position, double scroll) {
        m_shownChapter = position;
        m_top = scroll;
        m_seen = scroll;
    });
    connect(m_view, &ReadingView::pageScrolled, this, [this](double top, double seen) {
        m_top = top;
        m_seen = seen;
    });
    onCurrentChanged();
}

bool BookmarkList::add()
{
    const QList<ChapterEntry> &chapters = m_page.entries();
    const int position = m_page.selected();
    if (position < 1 || position > chapters.size())
        return false;
    const ChapterEntry &chapter = chapters.at(position - 1);
    BookmarkEntry entry;
    entry.book = m_page.path();
    entry.chapter = position;
    entry.chapterTitle = chapter.title;
    const bool onPage = position == m_shownChapter;
    entry.fraction = onPage ? std::clamp(m_top, 0.0, 1.0) : 0.0;
    // The excerpt comes from the file, from the line at the top of the window on: the share of
    // the chapter above the window follows from the two figures the page reports.
    const double above = onPage ? ShareAboveWindow(m_top, m_seen) : 0.0;
    const qint64 lines = chapter.lastShownLine() - chapter.firstShownLine() + 1;
    // Near the end of the chapter the last few lines, so that blank closing lines leave something.
    const qint64 from = std::max(chapter.firstShownLine(),
                                 std::min(chapter.firstShownLine() + qint64(std::floor(above * lines)),
                                          chapter.lastShownLine() - ExcerptLines));
    const ChapterText text = ReadChapterText(entry.book, from, std::min(from + ExcerptLines, chapter.lastShownLine()),
                                             64 * 1024, m_page.reading());
    entry.excerpt = BookmarkExcerpt(text.fragment, chapter.title);
    // Down the chapter, the words the page has at the top of its window, as the reader sees them.
    if (const QString words = m_view->topWords(); onPage && m_top > 0 && !words.trimmed().isEmpty())
        entry.excerpt = BookmarkExcerpt(words.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")));
    const QList<BookmarkEntry> kept = m_db.bookmarks().list(entry.book);
    const auto same = std::find_if(kept.cbegin(), kept.cend(), [&entry](const BookmarkEntry &e) {
        return e.chapter == entry.chapter && e.chapterTitle == entry.chapterTitle &&
               qRound(e.fraction * 100) == qRound(entry.fraction * 100);
    });
    if (same != kept.cend()) {
        BookmarkEntry renewed = *same;
        renewed.fraction = entry.fraction;
        renewed.excerpt = entry.excerpt;
        renewed.changed = std::max(same->changed + 1, QDateTime::currentMSecsSinceEpoch());
        if (!m_db.bookmarks().store(renewed))
            return false;
        entry = renewed;
    } else if (!m_db.bookmarks().add(entry)) {
        return false;
    }
    m_newestId = entry.id;
    if (isVisible() || m_book == entry.book)
        refill(entry.id);
    return true;
}

void BookmarkList::showList(bool editNewest)
{
    if (m_book != m_page.path() || !isVisible())
        refill();
    if (editNewest)
        refill(m_newestId);
    if (!isVisible())
        placeBesidePage();
    show();
    raise();
    activateWindow();
    if (editNewest)
        m_note->setFocus();
}

void BookmarkList::bookListed()
{
    if (m_book != m_page.path() && isVisible())
        refill();
}

void BookmarkList::listChanged()
{
    if (!isVisible())
        return;
    const BookmarkEntry *entry = currentEntry();
    const QString chosenId = entry ? entry->id : QString();
    const QString typed = m_note->text();
    const bool typing = entry && typed != entry->note;
    refill(chosenId);
    if (typing && currentEntry())
        m_note->setText(typed);
}

void BookmarkList::refill(const QString &chooseId)
{
    m_book = m_page.path();
    m_entries = m_book.isEmpty() ? QList<BookmarkEntry>{} : m_db.bookmarks().list(m_book);
    // The book as the shelf names it; a book read without being on the shelf by its file.
    const std::optional<BookRecord> row = m_book.isEmpty() ? std::nullopt : m_db.findByPath(m_book);
    const QString title = row && !row->name.isEmpty() ? row->name : QFileInfo(m_book).completeBaseName();
    setWindowTitle(m_book.isEmpty() ? QStringLiteral("书签列表") : QStringLiteral("书签列表 - %1").arg(title));
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    QTreeWidgetItem *chosen = nullptr;
    for (const BookmarkEntry &e : std::as_const(m_entries)) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(ChapterColumn, e.chapterTitle);
        item->setText(PlaceColumn, QStringLiteral("%1%").arg(qRound(e.fraction * 100)));
        item->setText(ExcerptColumn, e.excerpt);
        item->setToolTip(ExcerptColumn, e.excerpt);
        item->setText(NoteColumn, e.note);
        item->setToolTip(NoteColumn, e.note);
        item->setText(MadeColumn, e.made.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        item->setData(0, IdRole, e.id);
        if (e.id == chooseId)
            chosen = item;
    }
    m_list->setCurrentItem(chosen);
    m_hint->setText(m_entries.isEmpty() ? QStringLiteral("本书还没有书签：用“添加书签…”添加。")
                                        : QStringLiteral("共 %1 个书签").arg(m_entries.size()));
    onCurrentChanged();
}

const BookmarkEntry *BookmarkList::currentEntry() const
{
    const int row = m_list->currentItem() ? m_list->indexOfTopLevelItem(m_list->currentItem()) : -1;
    return row >= 0 && row < m_entries.size() ? &m_entries.at(row) : nullptr;
}

void BookmarkList::onCurrentChanged()
{
    const BookmarkEntry *entry = currentEntry();
    m_note->setText(entry ? entry->note : QString());
    for (QWidget *w :
         {static_cast<QWidget *>(m_note), static_cast<QWidget *>(m_saveNote), static_cast<QWidget *>(m_remove)})
        w->setEnabled(entry != nullptr);
}

void BookmarkList::jumpTo(QTreeWidgetItem *item)
{
    const int row = m_list->indexOfTopLevelItem(item);
    if (row < 0 || row >= m_entries.size())
        return;
    const BookmarkEntry &entry = m_entries.at(row);
    // The chapter at the kept position while it still has the kept title, else the first
    // chapter with that title: the book may have been changed since.
    const QList<ChapterEntry> &chapters = m_page.entries();
    int position = 0;
    if (entry.chapter >= 1 && entry.chapter <= chapters.size() &&
        chapters.at(entry.chapter - 1).title == entry.chapterTitle)
        position = entry.chapter;
    for (int i = 0; position == 0 && i < chapters.size(); ++i) {
        if (chapters.at(i).title == entry.chapterTitle)
            position = i + 1;
    }
    if (position == 0) {
        m_hint->setText(QStringLiteral("书中已找不到“%1”这一章。").arg(entry.chapterTitle));
        return;
    }
    Q_EMIT jumpRequested(position, entry.fraction);
}

void BookmarkList::saveNote()
{
    const BookmarkEntry *entry = currentEntry();
    if (!entry || entry->note == m_note->text())
        return;
    const QString id = entry->id;
    if (m_db.bookmarks().setNote(m_book, id, m_note->text()))
        refill(id);
}

void BookmarkList::removeCurrent()
{
    const BookmarkEntry *entry = currentEntry();
    if (!entry)
        return;
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (!m_db.bookmarks().remove(m_book, entry->id))
        return;
    refill();
    // The next entry is chosen, so that Delete pressed again goes on down the list.
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(std::min(row, m_list->topLevelItemCount() - 1)));
}

void BookmarkList::askAndRemoveCurrent()
{
    const BookmarkEntry *entry = currentEntry();
    if (entry && m_prompter.question(QStringLiteral("确定要删除书签“%1”吗？").arg(entry->chapterTitle),
                                     QStringLiteral("删除书签")))
        removeCurrent();
}

void BookmarkList::placeBesidePage()
{
    // Right of the main window when the screen has room there, else over the right of the page.
    const QRect window = parentWidget()->window()->frameGeometry();
    const QRect screen = parentWidget()->screen()->availableGeometry();
    const QPoint pageTopRight = m_view->mapToGlobal(QPoint(m_view->width(), 0));
    if (window.right() + 8 + width() <= screen.right())
        move(window.right() + 8, window.top());
    else
        move(std::max(screen.left(), pageTopRight.x() - width() - 24), pageTopRight.y() + 24);
}
