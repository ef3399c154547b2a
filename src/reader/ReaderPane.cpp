#include "reader/ReaderPane.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/MainLayout.h"
#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"
#include "reader/AutoScroll.h"
#include "reader/BookSearchPanel.h"
#include "reader/BookmarkList.h"
#include "reader/ChapterListSplitter.h"
#include "reader/ChapterLoader.h"
#include "reader/NotTextBar.h"
#include "reader/ReaderBookmarks.h"
#include "reader/ReaderKeys.h"
#include "reader/ReaderResume.h"
#include "reader/ReaderTools.h"
#include "reader/ReadingStatus.h"
#include "reader/ReadingView.h"
#include "startup/AppContext.h"

#include <QFileInfo>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <utility>

namespace {

QString crlf()
{
    return QStringLiteral("\r\n");
}

constexpr int DesignListWidthTwips = 3000;
constexpr int NarrowestList = 120; // pixels, as ChapterListSplitter keeps it
constexpr int NarrowestPage = 240; // pixels the page keeps however wide the list is dragged

} // namespace

ReaderPane::ReaderPane(LibraryDb &db, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_db(db), m_prompter(prompter), m_loader(new ChapterLoader(this))
{
    connect(m_loader, &ChapterLoader::loaded, this, &ReaderPane::onChaptersLoaded);
    m_loadingDelay = new QTimer(this);
    m_loadingDelay->setSingleShot(true);
    m_loadingDelay->setInterval(150);
    connect(m_loadingDelay, &QTimer::timeout, this, [this] {
        m_loadingShown = true;
        Q_EMIT loadingChanged(true);
    });

    // The widgets are made in the order Tab moves through them: toolbar, page with its bars,
    // splitter, chapter list, and the chapter box last.
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("ReadToolBar"));
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SetTwips(m_toolbar, 0, 0, 9000, 360);

    m_view = new ReadingView(this);
    m_view->setObjectName(QStringLiteral("ReadingView"));
    SetTwips(m_view, 0, 360);

    m_page = new ReaderPage(m_view, prompter, this);
    connect(m_page, &ReaderPage::fetchingChanged, this, &ReaderPane::updateLoading);
    m_resume = new ReaderResume(db, *m_page, m_view, this);
    connect(m_resume, &ReaderResume::positionSaved, this, &ReaderPane::readingPositionSaved);
    m_tools = new ReaderTools(*this, *m_page, m_view, db);
    connect(m_page, &ReaderPage::chapterShown, this, &ReaderPane::chapterShown);

    m_splitter = new ChapterListSplitter(db, [this] { return chapterList()->width(); }, this);
    connect(m_splitter, &ChapterListSplitter::buttonClicked, this, &ReaderPane::splitterButtonClicked);
    connect(m_splitter, &ChapterListSplitter::dragged, this, &ReaderPane::layoutRequested);

    m_page->addChapterList(this);
    m_tools->addCommands(m_toolbar);
    m_keys = new ReaderKeys(this);
    m_page->addChapterJump(this);
    m_status = new ReadingStatus(*m_page, m_view);
    m_autoScroll = new AutoScroll(*this, m_view, db);
    m_autoScroll->addTo(m_tools->readingMenu());
    m_bookmarks = new ReaderBookmarks(db, prompter, *m_page, m_view, this);
    m_bookmarks->setStatus(m_status);
    connect(m_bookmarks, &ReaderBookmarks::shelfChanged, this, &ReaderPane::shelfChanged);
    connect(m_bookmarks->list(), &BookmarkList::jumpRequested, this, &ReaderPane::showChapterAt);
    m_notText = new NotTextBar(m_view, this);
}

ReaderPane::~ReaderPane()
{
    flushPosition();
}

void ReaderPane::loadReadingPage(const QString &programFolder)
{
    m_view->loadPage(programFolder);
}

void ReaderPane::setServerSnippets(const ServerInfo &info)
{
    m_view->setSnippets(info.reader_2, info.reader_3, info.reader_4);
}

void ReaderPane::setPageStyle(const ReadingPageStyle &style)
{
    m_view->setPageStyle(style);
}

ReadingPageStyle ReaderPane::pageStyle() const
{
    return m_view->pageStyle();
}

// ---- Opening books

void ReaderPane::OpenFile()
{
    const QString path =
        m_prompter.openFileName(QStringLiteral("打开电子书-Folioway"), QStringLiteral("文本文件(*.txt)|*.txt"));
    if (!path.isEmpty())
        openChosenFile(path);
}

void ReaderPane::openChosenFile(const QString &path)
{
    // The dialog only offers existing files, but a typed name may not be one.
    if (!QFileInfo(path).isFile()) {
        m_prompter.message(MissingBookMessage(path), Prompter::Icon::Critical, BookOpenFailedTitle());
        return;
    }
    // No book to offer for the shelf: nothing to read in it. A file of no text at all opens
    // with a bar that says so.
    if (CheckBookFile(path) == BookFileProblem::Empty) {
        m_prompter.message(BookFileProblemMessage(BookFileProblem::Empty, path), Prompter::Icon::Critical,
                           BookOpenFailedTitle());
        return;
    }
    m_currentBookPath = path;
    if (m_db.findByPath(path)) {
        m_db.touchLastRead(path);
        Q_EMIT shelfChanged();
        openBook(path);
        return;
    }
    const QString question = QStringLiteral("提示：") + crlf() + crlf() + path + crlf() + crlf() +
                             QStringLiteral("还没有添加到书架，是否添加到你的书架？");
    if (m_prompter.question(question, QStringLiteral("添加电子书"))) {
        // The book editor adds the row and then opens the book through openBook().
        Q_EMIT addToShelfRequested(path);
        return;
    }
    openBook(path);
}

bool ReaderPane::openBook(const QString &path, const QString &chapterTitle)
{
    if (!QFileInfo(path).isFile()) {
        m_prompter.message(MissingBookMessage(path), Prompter::Icon::Critical, BookOpenFailedTitle());
        return false;
    }
    if (m_loader->pendingRequest() == 0)
        m_pathBeforeOpening = m_currentBookPath;
    m_resume->flush();
    const QString left = std::exchange(m_currentBookPath, path);
    if (!left.isEmpty() && left != path)
        Q_EMIT bookClosed(left);
    m_loader->request(path, chapterTitle, storedReading(path));
    updateLoading();
    return true;
}

bool ReaderPane::isOpening() const
{
    return m_loader->pendingRequest() != 0;
}

void ReaderPane::onChaptersLoaded(quint64, const ChapterList &list)
{
    updateLoading();
    if (!list.ok()) {
        m_resume->setResumeOnOpen(false);
        if (m_currentBookPath == list.path)
            m_currentBookPath = m_pathBeforeOpening;
        m_prompter.message(list.errorMessage, Prompter::Icon::Critical, list.errorTitle);
        return;
    }
    if (list.entries.isEmpty())
        return;
    m_page->setBook(list.path, list.entries, list.reading);
    m_notText->bookOpened(list);
    m_bookmarks->list()->bookListed();
    m_tools->showReadingMode(list);
    const QList<ChapterEntry> &entries = m_page->entries();
    bookSearch()->setBook(list.path, entries, list.reading);
    if (!m_chapterListVisible && !m_fullScreen)
        splitterButtonClicked(1);
    int selected = int(list.selected) + 1;
    if (m_tools->takeSkipEmptyFirst() && selected == 1 && entries.size() > 1 &&
        entries.first().lastShownLine() < entries.first().firstShownLine())
        selected = 2;
    m_page->select(selected);
    m_resume->bookOpened(selected);
    m_page->showSelected();
    Q_EMIT bookOpened(list.path);
}

bool ReaderPane::hasBookToReopen() const
{
    return m_currentBookPath.isEmpty() && !isOpening() && !m_resume->lastBookToReopen().isEmpty();
}

bool ReaderPane::reopenLastBook()
{
    if (!m_currentBookPath.isEmpty() || isOpening())
        return false;
    const QString path = m_resume->lastBookToReopen();
    if (path.isEmpty())
        return false;
    m_resume->setResumeOnOpen(true);
    if (!openBook(path)) {
        m_resume->setResumeOnOpen(false);
        return false;
    }
    return true;
}

void ReaderPane::updateLoading()
{
    const bool loading = m_loader->pendingRequest() != 0 || m_page->isFetching();
    if (loading) {
        // Most chapters arrive within a frame or two; the panel is only for waits one can see.
        if (!m_loadingShown && !m_loadingDelay->isActive())
            m_loadingDelay->start();
        return;
    }
    m_loadingDelay->stop();
    if (m_loadingShown) {
        m_loadingShown = false;
        Q_EMIT loadingChanged(false);
    }
}

// ---- Bookmarks

void ReaderPane::libraryChangedElsewhere()
{
    m_resume->offerPlaceFromElsewhere();
    m_bookmarks->list()->listChanged();
}

BookmarkList *ReaderPane::bookmarkList() const
{
    return m_bookmarks->list();
}

void ReaderPane::showBookmarkList()
{
    m_bookmarks->list()->showList();
}

// ---- Layout

void ReaderPane::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    m_keys->setFullScreen(on);
    m_status->setFullScreen(on);
    m_toolbar->setVisible(!on);
    m_splitter->setVisible(!on);
    chapterList()->setVisible(!on && m_chapterListVisible);
    if (on)
        m_view->setGeometry(rect());
    Q_EMIT layoutRequested();
}

void ReaderPane::splitterButtonClicked(int index)
{
    m_chapterListVisible = index == 1;
    chapterList()->setVisible(m_chapterListVisible);
    m_splitter->setListVisible(m_chapterListVisible);
    Q_EMIT layoutRequested();
}

QToolButton *ReaderPane::splitterButton(int index) const
{
    return m_splitter->button(index);
}

QWidget *ReaderPane::splitterBar() const
{
    return m_splitter;
}

int ReaderPane::splitterButtonHeightTwips(int index) const
{
    return pixelsToTwips(m_splitter->button(index)->height());
}

void ReaderPane::applyLayout(const MainLayout &l)
{
    if (m_fullScreen) {
        m_view->setGeometry(rect());
        return;
    }
    SetTwips(m_toolbar, std::nullopt, std::nullopt, l.readerToolbarWidth);
    SetTwips(m_view, std::nullopt, l.readingViewTop, l.readingViewWidth, l.readingViewHeight);
    SetTwips(m_splitter, l.splitterLeft, l.splitterTop, std::nullopt, l.splitterHeight);
    for (int i = 0; i < 2; ++i)
        SetTwips(m_splitter->button(i), std::nullopt, l.splitterButtonTop[i]);
    SetTwips(chapterList(), l.chapterListLeft, l.chapterListTop, std::nullopt, l.chapterListHeight);
    if (const int dragged = m_splitter->draggedWidth(); dragged > 0 && m_chapterListVisible) {
        // A dragged width moves the page's right edge and the bar by the difference; the list
        // still ends where its design width would.
        const int design = twipsToPixels(DesignListWidthTwips);
        const int wider =
            std::max(NarrowestList - design, std::min(dragged - design, m_view->width() - NarrowestPage));
        m_view->resize(m_view->width() - wider, m_view->height());
        m_splitter->move(m_splitter->x() - wider, m_splitter->y());
        QWidget *list = chapterList();
        list->setGeometry(list->x() - wider, list->y(), design + wider, list->height());
    } else {
        SetTwips(chapterList(), std::nullopt, std::nullopt, DesignListWidthTwips);
    }
}

int ReaderPane::chapterListWidth() const
{
    return chapterList()->width();
}
