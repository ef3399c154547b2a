#include "reader/ReaderPane.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/MainLayout.h"
#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"
#include "reader/BookSearchPanel.h"
#include "reader/ChapterLoader.h"
#include "reader/ReaderKeys.h"
#include "reader/ReaderResume.h"
#include "reader/ReaderTools.h"
#include "reader/ReadingView.h"
#include "startup/AppContext.h"

#include <QFileInfo>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace {

QString crlf()
{
    return QStringLiteral("\r\n");
}

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
    m_tools = new ReaderTools(*this, *m_page, m_view, db);
    connect(m_page, &ReaderPage::chapterShown, this, &ReaderPane::chapterShown);

    m_splitter = new QWidget(this);
    m_splitter->setObjectName(QStringLiteral("SplitterBar"));
    SetTwips(m_splitter, 0, 360, 130, 1000);
    const Qt::ArrowType arrows[2] = {Qt::RightArrow, Qt::LeftArrow};
    const QString tips[2] = {QStringLiteral("隐藏章节列表"), QStringLiteral("显示章节列表")};
    for (int i = 0; i < 2; ++i) {
        auto *b = new QToolButton(m_splitter);
        b->setArrowType(arrows[i]);
        b->setToolTip(tips[i]);
        b->setAutoRaise(true);
        SetTwips(b, 0, 0, 130, 600);
        connect(b, &QToolButton::clicked, this, [this, i] { splitterButtonClicked(i); });
        m_splitterButtons[i] = b;
    }
    m_splitterButtons[1]->hide();

    m_page->addChapterList(this);
    m_tools->addCommands(m_toolbar);
    m_keys = new ReaderKeys(this);
    m_page->addChapterJump(this);
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
    m_currentBookPath = path;
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

void ReaderPane::insertBookmark()
{
    const int position = selectedChapter();
    if (chapters().isEmpty() || position < 1)
        return;
    // A book that is not on the shelf has no row to change; the user is still told it worked.
    m_db.setBookmark(chaptersPath(), chapters().at(position - 1).title);
    m_prompter.message(QStringLiteral("恭喜你：书签添加成功！"), Prompter::Icon::Information,
                       QStringLiteral("添加成功"));
    Q_EMIT shelfChanged();
}

void ReaderPane::gotoBookmark()
{
    if (chapters().isEmpty())
        return;
    const std::optional<BookRecord> row = m_db.findByPath(chaptersPath());
    const QString bookmark = row ? row->marke : QString();
    for (const ChapterEntry &e : chapters()) {
        if (e.title == bookmark) {
            selectChapter(e.number);
            break;
        }
    }
    ListView2_dblClick();
}

// ---- Layout

void ReaderPane::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    m_keys->setFullScreen(on);
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
    m_splitterButtons[0]->setVisible(m_chapterListVisible);
    m_splitterButtons[1]->setVisible(!m_chapterListVisible);
    Q_EMIT layoutRequested();
}

int ReaderPane::splitterButtonHeightTwips(int index) const
{
    return pixelsToTwips(m_splitterButtons[index]->height());
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
        SetTwips(m_splitterButtons[i], std::nullopt, l.splitterButtonTop[i]);
    SetTwips(chapterList(), l.chapterListLeft, l.chapterListTop, std::nullopt, l.chapterListHeight);
}
