#pragma once

#include <QObject>

class BookmarkList;
class LibraryDb;
class Prompter;
class ReaderPage;
class ReadingStatus;
class ReadingView;

// The book's one bookmark (the shelf's BookList.marke: the selected chapter's title), set from
// the toolbar, the reading menu or Ctrl+D and gone back to with "跳转到书签", and beside it the
// book's bookmark list ("添加书签…", "书签列表").
class ReaderBookmarks : public QObject
{
    Q_OBJECT
public:
    ReaderBookmarks(LibraryDb &db, Prompter &prompter, ReaderPage &page, ReadingView *view, QWidget *pane);

    // The status line for insertQuietly(); set once it exists.
    void setStatus(ReadingStatus *status) { m_status = status; }

    // Sets the bookmark and says so in a box.
    void insert();
    // The same from the keyboard: said in the status line instead.
    void insertQuietly();
    // Sets the bookmark, adds the place to the list and opens the list with its note ready.
    void insertWithNote();
    void gotoBookmark();
    BookmarkList *list() const { return m_list; }

Q_SIGNALS:
    // The shelf's bookmark changed.
    void shelfChanged();

private:
    bool setBookmark();

    LibraryDb &m_db;
    Prompter &m_prompter;
    ReaderPage &m_page;
    ReadingStatus *m_status = nullptr;
    BookmarkList *m_list;
};
