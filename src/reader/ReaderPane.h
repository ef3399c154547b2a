#pragma once

#include "reader/ReaderBookmarks.h"
#include "reader/ReaderPage.h"
#include "reader/ReaderResume.h"
#include "reader/ReaderTools.h"
#include "reader/ReadingView.h"
#include "settings/SettingsRules.h"
#include "text/Chapters.h"

#include <QWidget>

#include <optional>

class AutoScroll;
class BookSearchPanel;
class BookmarkList;
class NotTextBar;
class ChapterJumpBox;
class ChapterListSplitter;
class ChapterLoader;
class LibraryDb;
class ReaderKeys;
class ReadingStatus;
class ResumeBar;
struct BookSearchHit;
class Prompter;
class QAction;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class SpeechEngine;
class VoiceController;
struct MainLayout;
struct ServerInfo;

// The reading tab: reading toolbar, reading page, the splitter bar that hides or shows the
// chapter list, and the chapter list. It owns the book being read (CurrentBookPath) and the
// chapter list of it; the main window only hands it books to open and routes its requests.
//
// Opening a book never blocks: chapter detection and the cutting of a chapter out of the file run
// on worker threads, and the newest request always wins.
//
// The pane opens books and lays out its parts; the rest is done by the parts it is made of:
// ReaderPage (the chapter list and the chapter on the page, moving between chapters),
// ReaderTools (the toolbar and reading menu, find, reading aloud, how a book is read),
// ReaderResume (the kept reading position and the resume bar), ReaderBookmarks (the bookmark
// and the bookmark list) and ChapterListSplitter (the bar beside the chapter list).
class ReaderPane : public QWidget
{
    Q_OBJECT
public:
    // Reading toolbar positions, from 1; 2, 5 and 10 are separators.
    enum ToolPosition
    {
        OpenTool = 1,
        BookmarkTool = 3,
        FindTool = 4,
        FirstChapterTool = 6,
        PreviousChapterTool = 7,
        NextChapterTool = 8,
        LastChapterTool = 9,
        ReadAloudTool = 11,
        StopReadingTool = 12,
        VoicePanelTool = 13,
    };
    static constexpr int ToolCount = 13;

    // Image keys of the chapter list's icons, kept in each item's IconKeyRole.
    static constexpr int IconKeyRole = ReaderPage::IconKeyRole;
    static QString nowChapterKey() { return ReaderPage::nowChapterKey(); }
    static QString spaceKey() { return ReaderPage::spaceKey(); }

    ReaderPane(LibraryDb &db, Prompter &prompter, QWidget *parent = nullptr);
    Prompter &prompter() const { return m_prompter; }

    // Loads Reader.html from the program folder (written there first when missing).
    void loadReadingPage(const QString &programFolder);
    void setServerSnippets(const ServerInfo &info);
    // Colours and text size of the reading page; kept and applied once the page has loaded.
    void setPageStyle(const ReadingPageStyle &style);
    ReadingPageStyle pageStyle() const;

    ~ReaderPane() override;

    QString currentBookPath() const { return m_currentBookPath; }

    // The file dialog of the toolbar's first button.
    void OpenFile();
    // What OpenFile() does once a file is chosen: a book not on the shelf is offered to it.
    void openChosenFile(const QString &path);
    // Opens a book and selects the chapter titled chapterTitle (entry 1 when empty or not found).
    // A missing file is refused with the error box and changes nothing; returns false then.
    bool openBook(const QString &path, const QString &chapterTitle = {});
    bool isOpening() const;

    // The chapter list of the book on screen (which, while another book is being opened, is
    // still the previous one).
    const QList<ChapterEntry> &chapters() const { return m_page->entries(); }
    QString chaptersPath() const { return m_page->path(); }
    // 1-based positions; 0 when there is none.
    int selectedChapter() const { return m_page->selected(); }
    int shownChapter() const { return m_page->shown(); }
    void selectChapter(int position) { m_page->select(position); }
    // Shows the selected entry.
    void ListView2_dblClick() { m_page->showSelected(); }
    // 37 previous, 39 next; 13 and anything else do nothing.
    void keyNavigation(int keyCode) { m_page->keyNavigation(keyCode); }
    void firstChapter() { m_page->first(); }
    void lastChapter() { m_page->last(); }

    void insertBookmark() { m_bookmarks->insert(); }
    // The same bookmark set from the keyboard: said in the status line instead of a box.
    void insertBookmarkQuietly() { m_bookmarks->insertQuietly(); }
    void gotoBookmark() { m_bookmarks->gotoBookmark(); }
    // "添加书签…" sets the bookmark without the box, adds the place to the book's bookmark list and
    // opens the list with the entry's note ready to be written; the other ways leave the list be.
    void insertBookmarkWithNote() { m_bookmarks->insertWithNote(); }
    void showBookmarkList();
    BookmarkList *bookmarkList() const;
    void openFind() { m_tools->openFind(); }

    // Where the reader is in the book on screen is kept as they read (ReadingPositionKeeper).
    // Opening a book with a remembered place offers it in the resume bar; resumeReading() goes
    // there.
    ResumeBar *resumeBar() const { return m_resume->bar(); }
    NotTextBar *notTextBar() const { return m_notText; }
    void resumeReading() { m_resume->resume(); }
    // Sync changed the library: a newer place in the open book from another computer is offered
    // in the resume bar, and an open bookmark list shows what arrived.
    void libraryChangedElsewhere();
    // Writes the reading position now rather than at the next save.
    void flushPosition() { m_resume->flush(); }
    // With the option "启动后打开上次阅读的书" on and no book open yet: opens the book read last,
    // at the place it was left. Returns whether it did.
    bool reopenLastBook();
    // Whether reopenLastBook() has a book to open: the option is on and the book is still there.
    bool hasBookToReopen() const;

    // Shows the chapter at `position` scrolled `fraction` of the way down (0 top, 1 end).
    void showChapterAt(int position, double fraction) { m_page->showAt(position, fraction); }
    // Shows the hit's chapter with the hit selected on the page.
    void showSearchHit(const BookSearchHit &hit) { m_page->showHit(hit); }
    BookSearchPanel *bookSearch() const { return m_tools->bookSearch(); }

    // Ctrl+G: the chapter list narrowed as one types.
    void openChapterJump() { m_page->openJump(); }
    ChapterJumpBox *chapterJump() const { return m_page->chapterJump(); }

    // Full screen shows the page alone; the main window makes the window fill the screen and
    // answers fullScreenRequested with setFullScreen.
    bool isFullScreen() const { return m_fullScreen; }
    void setFullScreen(bool on);

    // Reading aloud (toolbar positions 11 to 13) through `engine`, which the caller owns; the
    // pane lets go of it when it is destroyed. Without an engine (nullptr) the three buttons are
    // disabled.
    void setSpeechEngine(SpeechEngine *engine) { m_tools->setSpeechEngine(engine); }
    VoiceController *voiceController() const { return m_tools->voiceController(); }
    // The voice list's panel, shown above the page below the toolbar; null without an engine.
    QWidget *voicePanel() const { return m_tools->voicePanel(); }

    // "自动翻页" (the reading menu's last item, F9).
    AutoScroll *autoScroll() const { return m_autoScroll; }

    // The line under the page: where the reader is in the chapter and the book.
    ReadingStatus *readingStatus() const { return m_status; }

    bool chapterListVisible() const { return m_chapterListVisible; }
    // Dragging the splitter bar (not its buttons) makes the chapter list wider or narrower; the
    // width is kept in the library. Until it is dragged the list keeps its design width.
    int chapterListWidth() const;
    // What the splitter buttons do: 0 hides the chapter list, 1 shows it.
    void splitterButtonClicked(int index);
    void applyLayout(const MainLayout &layout);
    int splitterButtonHeightTwips(int index) const;

    QToolButton *splitterButton(int index) const;
    ReadingView *readingView() const { return m_view; }
    QTreeWidget *chapterList() const { return m_page->chapterList(); }
    QWidget *splitterBar() const;
    QToolBar *toolbar() const { return m_toolbar; }
    QAction *toolAction(int position) const { return m_tools->toolAction(position); }
    QToolButton *toolButton(int position) const { return m_tools->toolButton(position); }
    QMenu *bookmarkMenu() const { return m_tools->bookmarkMenu(); }
    // "阅读操作"; items by object name: Menue_VoiceRead, Menue_InsertSQ, Menue_GotoSQ, Menue_Find,
    // ShareThisBook.
    QMenu *readingMenu() const { return m_tools->readingMenu(); }
    QAction *readingMenuItem(const QString &name) const { return m_tools->readingMenuItem(name); }

    // How the book on screen is read ("智能分章", a chosen encoding), remembered per book and
    // used whenever that book is opened. Changing it opens the book again at the same chapter
    // title when there still is one.
    BookReading bookReading() const { return m_page->reading(); }
    BookReading storedReading(const QString &path) const { return m_tools->storedReading(path); }
    void setSmartChapters(bool on) { m_tools->setSmartChapters(on); }
    void setBookEncoding(std::optional<TextEncoding> encoding) { m_tools->setBookEncoding(encoding); }
    // Offers smart mode when the plain reading found a single chapter in a book of long lines.
    ResumeBar *smartBar() const { return m_tools->smartBar(); }

Q_SIGNALS:
    void layoutRequested();
    void loadingChanged(bool visible);
    // A book chosen in the file dialog is not on the shelf and the user wants it added.
    void addToShelfRequested(const QString &path);
    // A bookmark or a lastread changed in BookList.
    void shelfChanged();
    // The place in a book was saved (read on, or left): the shelf's progress figure follows.
    void readingPositionSaved(const ReadingPosition &position);
    void shareRequested(const QString &path);
    // The reading menu's "语音朗读". Reading aloud is driven from the toolbar alone; the item does
    // nothing else and nothing needs to answer this.
    void voiceReadRequested();
    // A book's chapters are listed and its place offered or taken; and a book was left for
    // another (its place written first).
    void bookOpened(const QString &path);
    void bookClosed(const QString &path);
    // The chapter's text has been handed to the reading page.
    void chapterShown(int position);
    // F11 and the reading menu ask for full screen, Esc to leave it.
    void fullScreenRequested(bool on);

private:
    void onChaptersLoaded(quint64 requestId, const ChapterList &list);
    void updateLoading();

    LibraryDb &m_db;
    Prompter &m_prompter;
    ChapterLoader *m_loader;
    bool m_loadingShown = false;
    QTimer *m_loadingDelay;

    QString m_currentBookPath;
    QString m_pathBeforeOpening; // given back when the book being opened turns out unreadable

    bool m_chapterListVisible = true;
    bool m_fullScreen = false;
    QToolBar *m_toolbar;
    ReadingView *m_view;
    ChapterListSplitter *m_splitter;

    ReaderPage *m_page;
    ReaderResume *m_resume;
    ReaderTools *m_tools;
    ReaderKeys *m_keys;
    ReadingStatus *m_status;
    AutoScroll *m_autoScroll;
    ReaderBookmarks *m_bookmarks;
    NotTextBar *m_notText;
};
