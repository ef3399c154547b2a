#include "reader/ReaderBookmarks.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "reader/BookmarkList.h"
#include "reader/ReaderPage.h"
#include "reader/ReadingStatus.h"

ReaderBookmarks::ReaderBookmarks(LibraryDb &db, Prompter &prompter, ReaderPage &page, ReadingView *view,
                                 QWidget *pane)
    : QObject(pane), m_db(db), m_prompter(prompter), m_page(page),
      m_list(new BookmarkList(db, prompter, page, view, pane))
{}

bool ReaderBookmarks::setBookmark()
{
    const int position = m_page.selected();
    if (m_page.entries().isEmpty() || position < 1)
        return false;
    // A book that is not on the shelf has no row to change; the user is still told it worked.
    m_db.setBookmark(m_page.path(), m_page.entries().at(position - 1).title);
    return true;
}

void ReaderBookmarks::insert()
{
    if (!setBookmark())
        return;
    m_prompter.message(QStringLiteral("恭喜你：书签添加成功！"), Prompter::Icon::Information,
                       QStringLiteral("添加成功"));
    Q_EMIT shelfChanged();
}

void ReaderBookmarks::insertQuietly()
{
    if (!setBookmark())
        return;
    if (m_status)
        m_status->showNote(
            QStringLiteral("已添加书签：%1").arg(m_page.entries().at(m_page.selected() - 1).title));
    Q_EMIT shelfChanged();
}

void ReaderBookmarks::insertWithNote()
{
    if (!setBookmark())
        return;
    m_list->add();
    Q_EMIT shelfChanged();
    m_list->showList(true);
}

void ReaderBookmarks::gotoBookmark()
{
    if (m_page.entries().isEmpty())
        return;
    const std::optional<BookRecord> row = m_db.findByPath(m_page.path());
    const QString bookmark = row ? row->marke : QString();
    for (const ChapterEntry &e : m_page.entries()) {
        if (e.title == bookmark) {
            m_page.select(e.number);
            break;
        }
    }
    m_page.showSelected();
}
