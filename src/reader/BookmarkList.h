#pragma once

#include "library/LibraryBookmarks.h"

#include <QWidget>

class LibraryDb;
class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class ReaderPage;
class ReadingView;

// The first words of the text of a page fragment (lines each followed by "<br>", markup
// included): tags dropped, blank lines and a line equal to `skip` (the chapter's heading) passed
// over, at most `length` characters with "…" when cut.
QString BookmarkExcerpt(const QString &fragment, const QString &skip = {}, int length = 40);

// "书签列表": the bookmark list of the book on screen, in a window of its own beside the page,
// so the reading tab's own controls never move for it, titled with the book's shelf title. Entries
// come from "添加书签…" with the place on the page (a second one at the same place renews the
// first); a click on an entry goes back there, the note of the entry chosen is edited below the
// list, and an entry goes only through "删除书签" or the Delete key, which asks first. Esc closes.
class BookmarkList : public QWidget
{
    Q_OBJECT
public:
    // The window belongs to `pane` and floats above its window.
    BookmarkList(LibraryDb &db, Prompter &prompter, ReaderPage &page, ReadingView *view, QWidget *pane);

    // Adds the selected chapter of the book on screen (at the place on the page when it is the
    // chapter shown, else at its top) to the book's list; an entry already at that chapter and
    // percentage is renewed instead (its note kept). False when no chapter is selected.
    bool add();
    // Shows the window; with `editNewest` the entry added last is chosen and its note box has
    // the focus.
    void showList(bool editNewest = false);
    // The chapters of a book were listed: the list follows the book on screen.
    void bookListed();
    // The library's list changed from elsewhere (sync): an open window shows it again, keeping
    // the chosen entry and a note still being typed.
    void listChanged();

    QTreeWidget *entryList() const { return m_list; }
    QLineEdit *noteBox() const { return m_note; }
    QPushButton *saveNoteButton() const { return m_saveNote; }
    QPushButton *removeButton() const { return m_remove; }
    QLabel *hint() const { return m_hint; }

Q_SIGNALS:
    // Show chapter `position` scrolled `fraction` of the way down.
    void jumpRequested(int position, double fraction);

private:
    enum Column
    {
        ChapterColumn,
        PlaceColumn,
        ExcerptColumn,
        NoteColumn,
        MadeColumn
    };
    void refill(const QString &chooseId = {});
    void jumpTo(QTreeWidgetItem *item);
    void onCurrentChanged();
    void saveNote();
    void removeCurrent();
    void askAndRemoveCurrent();
    const BookmarkEntry *currentEntry() const;
    void placeBesidePage();

    LibraryDb &m_db;
    Prompter &m_prompter;
    ReaderPage &m_page;
    ReadingView *m_view;
    QTreeWidget *m_list;
    QLineEdit *m_note;
    QPushButton *m_saveNote;
    QPushButton *m_remove;
    QLabel *m_hint;

    QString m_book;                 // whose list is shown
    QList<BookmarkEntry> m_entries; // in the list's order
    QString m_newestId;
    int m_shownChapter = 0; // the chapter on the page and how far down it is scrolled
    double m_top = 0;
    double m_seen = 0;
};
