#pragma once

#include "reader/Chapters.h"
#include "reader/ReadingView.h"
#include "settings/SettingsRules.h"

#include <QThreadPool>
#include <QWidget>

#include <optional>

class BookSearchPanel;
class ChapterJumpBox;
class ChapterLoader;
class LibraryDb;
class ReaderKeys;
class ReadingPositionKeeper;
class ResumeBar;
struct BookSearchHit;
struct ReadingPosition;
class Prompter;
class QAction;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
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
    static constexpr int IconKeyRole = Qt::UserRole + 1;
    static QString nowChapterKey() { return QStringLiteral("NowChapter"); }
    static QString spaceKey() { return QStringLiteral("Space"); }

    ReaderPane(LibraryDb &db, Prompter &prompter, QWidget *parent = nullptr);

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
    const QList<ChapterEntry> &chapters() const { return m_entries; }
    QString chaptersPath() const { return m_chaptersPath; }
    // 1-based positions; 0 when there is none.
    int selectedChapter() const;
    int shownChapter() const { return m_shownPosition; }
    void selectChapter(int position);
    // Shows the selected entry.
    void ListView2_dblClick();
    // 37 previous, 39 next; 13 and anything else do nothing.
    void keyNavigation(int keyCode);
    void firstChapter();
    void lastChapter();

    void insertBookmark();
    void gotoBookmark();
    void openFind();

    // Where the reader is in the book on screen is kept as they read (ReadingPositionKeeper).
    // Opening a book with a remembered place offers it in the resume bar; resumeReading() goes
    // there.
    ResumeBar *resumeBar() const { return m_resumeBar; }
    void resumeReading();
    // Writes the reading position now rather than at the next save.
    void flushPosition();
    // With the option "启动后打开上次阅读的书" on and no book open yet: opens the book read last,
    // at the place it was left. Returns whether it did.
    bool reopenLastBook();

    // Shows the chapter at `position` scrolled `fraction` of the way down (0 top, 1 end).
    void showChapterAt(int position, double fraction);
    // Shows the hit's chapter with the hit selected on the page.
    void showSearchHit(const BookSearchHit &hit);
    BookSearchPanel *bookSearch() const { return m_search; }

    // Ctrl+G: the chapter list narrowed as one types.
    void openChapterJump();
    ChapterJumpBox *chapterJump() const { return m_jump; }

    // Full screen shows the page alone; the main window makes the window fill the screen and
    // answers fullScreenRequested with setFullScreen.
    bool isFullScreen() const { return m_fullScreen; }
    void setFullScreen(bool on);

    // Reading aloud (toolbar positions 11 to 13) through `engine`, which the caller owns; the
    // pane lets go of it when it is destroyed. Without an engine (nullptr) the three buttons are
    // disabled.
    void setSpeechEngine(SpeechEngine *engine);
    VoiceController *voiceController() const { return m_voice; }
    // The voice list's panel, dropped over the top of the page below the toolbar; null without
    // an engine.
    QWidget *voicePanel() const { return m_voicePanel; }

    bool chapterListVisible() const { return m_chapterListVisible; }
    // What the splitter buttons do: 0 hides the chapter list, 1 shows it.
    void splitterButtonClicked(int index);
    void applyLayout(const MainLayout &layout);
    int splitterButtonHeightTwips(int index) const;

    QToolButton *splitterButton(int index) const { return m_splitterButtons[index]; }
    ReadingView *readingView() const { return m_view; }
    QTreeWidget *chapterList() const { return m_chapters; }
    QWidget *splitterBar() const { return m_splitter; }
    QToolBar *toolbar() const { return m_toolbar; }
    QAction *toolAction(int position) const { return m_toolActions[position - 1]; }
    QToolButton *toolButton(int position) const;
    QMenu *bookmarkMenu() const { return m_bookmarkMenu; }
    // "阅读操作"; items by object name: Menue_VoiceRead, Menue_InsertSQ, Menue_GotoSQ, Menue_Find,
    // ShareThisBook.
    QMenu *readingMenu() const { return m_readingMenu; }
    QAction *readingMenuItem(const QString &name) const;

    // How the book on screen is read ("智能分章", a chosen encoding), remembered per book and
    // used whenever that book is opened. Changing it opens the book again at the same chapter
    // title when there still is one.
    BookReading bookReading() const { return m_reading; }
    BookReading storedReading(const QString &path) const;
    void setSmartChapters(bool on);
    void setBookEncoding(std::optional<TextEncoding> encoding);
    // Offers smart mode when the plain reading found a single chapter in a book of long lines.
    ResumeBar *smartBar() const { return m_smartBar; }

Q_SIGNALS:
    void layoutRequested();
    void loadingChanged(bool visible);
    // A book chosen in the file dialog is not on the shelf and the user wants it added.
    void addToShelfRequested(const QString &path);
    // A bookmark or a lastread changed in BookList.
    void shelfChanged();
    void shareRequested(const QString &path);
    // The reading menu's "语音朗读". Reading aloud is driven from the toolbar alone; the item does
    // nothing else and nothing needs to answer this.
    void voiceReadRequested();
    // The chapter's text has been handed to the reading page.
    void chapterShown(int position);
    // F11 and the reading menu ask for full screen, Esc to leave it.
    void fullScreenRequested(bool on);

private:
    void buildToolbar();
    void buildReadingMenu();
    void requestChapters(const QString &path, const QString &chapterTitle);
    void onChaptersLoaded(quint64 requestId, const ChapterList &list);
    void fillChapterList(const QList<ChapterEntry> &entries);
    void markShown(int position);
    void updateLoading();
    void placeVoicePanel();
    // Reading aloud came to the end of the chapter: the next one is shown and read.
    void readOnIntoNextChapter();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void onPageKey(int keyCode);
    void onPageScrolled(double top, double seen);
    void offerResume();
    void buildReadingModeItems();
    void showReadingMode(const ChapterList &list);
    void reopenWith(const BookReading &reading);

    LibraryDb &m_db;
    Prompter &m_prompter;
    ChapterLoader *m_loader;
    QThreadPool m_fragmentPool;
    quint64 m_fragmentRequest = 0;
    bool m_fragmentPending = false;
    bool m_loadingShown = false;
    QTimer *m_loadingDelay;

    QString m_currentBookPath;
    QString m_pathBeforeOpening; // given back when the book being opened turns out unreadable
    QString m_chaptersPath;
    QList<ChapterEntry> m_entries;
    int m_shownPosition = 0;

    bool m_chapterListVisible = true;
    QToolBar *m_toolbar;
    QAction *m_toolActions[ToolCount] = {};
    QMenu *m_bookmarkMenu;
    QMenu *m_readingMenu;
    ReadingView *m_view;
    QWidget *m_splitter;
    QToolButton *m_splitterButtons[2];
    QTreeWidget *m_chapters;

    // What to do to the next chapter once it is on the page.
    double m_scrollAfterShow = 0;
    QString m_highlightAfterShow;
    int m_highlightOccurrence = 0;

    ReadingPositionKeeper *m_positions;
    ResumeBar *m_resumeBar;
    std::optional<int> m_resumeChapter;
    double m_resumeFraction = 0;
    bool m_resumeOnOpen = false;
    // Positions are kept once the reader leaves the top of the chapter the book opened at, so
    // opening a book does not overwrite the place it offers to resume.
    bool m_positionArmed = false;
    int m_openedChapter = 0;

    BookSearchPanel *m_search;
    ChapterJumpBox *m_jump;
    ReaderKeys *m_keys;
    bool m_fullScreen = false;
    bool m_readOnPending = false; // read the next chapter aloud once it is on the page

    BookReading m_reading; // of the book on screen
    ResumeBar *m_smartBar;
    QMenu *m_encodingMenu = nullptr;
    bool m_skipEmptyFirst = false; // a switch to smart mode shows the first chapter with text

    VoiceController *m_voice = nullptr;
    QWidget *m_voicePanel = nullptr;
    QMetaObject::Connection m_engineGone;
};
