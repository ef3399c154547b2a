#include "reader/ReaderPane.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/MainLayout.h"
#include "platform/Prompter.h"
#include "platform/SpeechEngine.h"
#include "platform/TwipsGeometry.h"
#include "reader/BookSearchPanel.h"
#include "reader/ChapterJumpBox.h"
#include "reader/ChapterLoader.h"
#include "reader/ReaderKeys.h"
#include "reader/ReadingPositionKeeper.h"
#include "reader/ReadingView.h"
#include "reader/ResumeBar.h"
#include "reader/VoiceController.h"
#include "startup/AppContext.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr int PositionRole = Qt::UserRole;
constexpr int IconSize = 16;

QIcon drawNowChapterIcon()
{
    QPixmap pixmap(IconSize, IconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(4, 3);
    arrow.lineTo(13, 8);
    arrow.lineTo(4, 13);
    arrow.closeSubpath();
    painter.fillPath(arrow, QColor(0x2E, 0x7D, 0x32));
    return QIcon(pixmap);
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

QString crlf()
{
    return QStringLiteral("\r\n");
}

} // namespace

ReaderPane::ReaderPane(LibraryDb &db, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_db(db), m_prompter(prompter), m_loader(new ChapterLoader(this))
{
    m_fragmentPool.setMaxThreadCount(2);
    connect(m_loader, &ChapterLoader::loaded, this, &ReaderPane::onChaptersLoaded);
    m_loadingDelay = new QTimer(this);
    m_loadingDelay->setSingleShot(true);
    m_loadingDelay->setInterval(150);
    connect(m_loadingDelay, &QTimer::timeout, this, [this] {
        m_loadingShown = true;
        Q_EMIT loadingChanged(true);
    });

    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("ReadToolBar"));
    m_toolbar->setIconSize(QSize(IconSize, IconSize));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SetTwips(m_toolbar, 0, 0, 9000, 360);

    m_view = new ReadingView(this);
    m_view->setObjectName(QStringLiteral("ReadingView"));
    SetTwips(m_view, 0, 360);
    connect(m_view, &ReadingView::keyPressedInPage, this, &ReaderPane::onPageKey);
    connect(m_view, &ReadingView::pageScrolled, this, &ReaderPane::onPageScrolled);

    m_positions = new ReadingPositionKeeper(db, this);
    m_resumeBar = new ResumeBar(m_view);
    m_view->insertAbovePage(m_resumeBar);
    connect(m_resumeBar, &ResumeBar::resumeRequested, this, &ReaderPane::resumeReading);
    m_smartBar = new ResumeBar(QStringLiteral("智能分章"), QStringLiteral("按句子分段，在长行中找出章节"), m_view);
    m_smartBar->setObjectName(QStringLiteral("SmartChaptersBar"));
    m_view->insertAbovePage(m_smartBar);
    connect(m_smartBar, &ResumeBar::resumeRequested, this, [this] { setSmartChapters(true); });
    m_search = new BookSearchPanel(m_view);
    m_view->insertBelowPage(m_search);
    m_view->addToFindBar(m_search->wholeBookSwitch());
    connect(m_view->findBox(), &QLineEdit::textChanged, m_search, &BookSearchPanel::search);
    connect(m_search->wholeBookSwitch(), &QToolButton::toggled, this, [this](bool on) {
        if (on)
            m_search->search(m_view->findBox()->text());
    });
    connect(m_view, &ReadingView::findBarClosed, m_search->wholeBookSwitch(), [this] {
        m_search->wholeBookSwitch()->setChecked(false);
    });
    connect(m_search, &BookSearchPanel::hitChosen, this, &ReaderPane::showSearchHit);

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

    m_chapters = new QTreeWidget(this);
    m_chapters->setObjectName(QStringLiteral("ListView2"));
    m_chapters->setRootIsDecorated(false);
    m_chapters->setUniformRowHeights(true);
    m_chapters->setSelectionMode(QAbstractItemView::SingleSelection);
    m_chapters->setIconSize(QSize(IconSize, IconSize));
    m_chapters->setHeaderLabels({QStringLiteral("章节列表")});
    m_chapters->installEventFilter(this);
    SetTwips(m_chapters, 0, 360, 3000, 1000);
    connect(m_chapters, &QTreeWidget::itemDoubleClicked, this, [this] { ListView2_dblClick(); });

    buildToolbar();
    buildReadingMenu();
    connect(m_view, &ReadingView::contextMenuRequested, m_readingMenu,
            [this](const QPoint &globalPos) { m_readingMenu->popup(globalPos); });

    // Ctrl+F wherever the focus is inside the pane, the page included.
    auto *find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, &ReaderPane::openFind);
    m_keys = new ReaderKeys(this);
    m_jump = new ChapterJumpBox(this);
    connect(m_jump, &ChapterJumpBox::chapterChosen, this, [this](int position) { showChapterAt(position, 0); });
}

ReaderPane::~ReaderPane()
{
    flushPosition();
}

QToolButton *ReaderPane::toolButton(int position) const
{
    return qobject_cast<QToolButton *>(m_toolbar->widgetForAction(toolAction(position)));
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
    m_positions->flush();
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
        m_resumeOnOpen = false;
        if (m_currentBookPath == list.path)
            m_currentBookPath = m_pathBeforeOpening;
        m_prompter.message(list.errorMessage, Prompter::Icon::Critical, list.errorTitle);
        return;
    }
    if (list.entries.isEmpty())
        return;
    m_chaptersPath = list.path;
    fillChapterList(list.entries);
    showReadingMode(list);
    m_search->setBook(m_chaptersPath, m_entries, m_reading);
    if (!m_chapterListVisible && !m_fullScreen)
        splitterButtonClicked(1);
    int selected = int(list.selected) + 1;
    if (std::exchange(m_skipEmptyFirst, false) && selected == 1 && m_entries.size() > 1 &&
        m_entries.first().lastShownLine() < m_entries.first().firstShownLine())
        selected = 2;
    selectChapter(selected);
    m_openedChapter = selected;
    offerResume();
    ListView2_dblClick();
}

void ReaderPane::fillChapterList(const QList<ChapterEntry> &entries)
{
    m_entries = entries;
    m_shownPosition = 0;
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
    m_chapters->setUpdatesEnabled(false);
    m_chapters->clear();
    m_chapters->addTopLevelItems(items);
    m_chapters->setUpdatesEnabled(true);
}

int ReaderPane::selectedChapter() const
{
    const QTreeWidgetItem *item = m_chapters->currentItem();
    return item ? item->data(0, PositionRole).toInt() : 0;
}

void ReaderPane::selectChapter(int position)
{
    if (QTreeWidgetItem *item = m_chapters->topLevelItem(position - 1))
        m_chapters->setCurrentItem(item);
}

void ReaderPane::markShown(int position)
{
    if (QTreeWidgetItem *old = m_chapters->topLevelItem(m_shownPosition - 1)) {
        old->setIcon(0, spaceIcon());
        old->setData(0, IconKeyRole, spaceKey());
    }
    m_shownPosition = position;
    if (QTreeWidgetItem *now = m_chapters->topLevelItem(position - 1)) {
        now->setIcon(0, nowChapterIcon());
        now->setData(0, IconKeyRole, nowChapterKey());
    }
}

void ReaderPane::ListView2_dblClick()
{
    if (m_entries.isEmpty())
        return;
    int position = selectedChapter();
    if (position < 1) {
        position = 1;
        selectChapter(1);
    }
    markShown(position);
    m_chapters->scrollToItem(m_chapters->topLevelItem(position - 1));

    // The chapter is cut out of the file on a worker; a newer request makes this one's result moot.
    const quint64 id = ++m_fragmentRequest;
    m_fragmentPending = true;
    updateLoading();
    const double scroll = std::exchange(m_scrollAfterShow, 0);
    const QString highlight = std::exchange(m_highlightAfterShow, {});
    auto *watcher = new QFutureWatcher<ChapterText>(this);
    connect(watcher, &QFutureWatcher<ChapterText>::finished, this,
            [this, watcher, id, position, scroll, highlight, occurrence = m_highlightOccurrence] {
        watcher->deleteLater();
        if (id != m_fragmentRequest)
            return;
        m_fragmentPending = false;
        updateLoading();
        const ChapterText text = watcher->result();
        // The page is cleared too, so the previous chapter's text is not taken for this one.
        m_view->showText(text.fragment);
        if (text.refusedBytes > 0)
            m_prompter.message(ChapterTooLargeMessage(text.refusedBytes), Prompter::Icon::Critical,
                               QStringLiteral("无法显示本章"));
        if (m_positionArmed)
            m_positions->update(PositionInBook(m_chaptersPath, m_entries, position, scroll, scroll));
        if (!highlight.isEmpty())
            m_view->highlightOccurrence(highlight, occurrence);
        else if (scroll > 0)
            m_view->scrollToFraction(scroll);
        if (std::exchange(m_readOnPending, false) && m_voice)
            m_voice->readClicked();
        Q_EMIT chapterShown(position);
    });
    const ChapterEntry entry = m_entries.at(position - 1);
    watcher->setFuture(QtConcurrent::run(&m_fragmentPool, [path = m_chaptersPath, entry, reading = m_reading] {
        return ReadChapterText(path, entry.firstShownLine(), entry.lastShownLine(), MaxChapterBytes, reading);
    }));
}

void ReaderPane::keyNavigation(int keyCode)
{
    if (m_entries.isEmpty() || (keyCode != 13 && keyCode != 37 && keyCode != 39))
        return;
    const int i = selectedChapter();
    if (keyCode == 37) {
        if (i <= 1) {
            m_prompter.message(QStringLiteral("当前是第一章，前面没有章节！"), Prompter::Icon::Information);
            return;
        }
        selectChapter(i - 1);
        ListView2_dblClick();
    } else if (keyCode == 39) {
        if (i >= m_entries.size()) {
            m_prompter.message(QStringLiteral("已经是最后一章了！"), Prompter::Icon::Information);
            return;
        }
        selectChapter(i + 1);
        ListView2_dblClick();
    }
}

void ReaderPane::firstChapter()
{
    if (m_entries.isEmpty())
        return;
    selectChapter(1);
    ListView2_dblClick();
}

void ReaderPane::lastChapter()
{
    if (m_entries.isEmpty())
        return;
    selectChapter(int(m_entries.size()));
    ListView2_dblClick();
}

void ReaderPane::insertBookmark()
{
    const int position = selectedChapter();
    if (m_entries.isEmpty() || position < 1)
        return;
    // A book that is not on the shelf has no row to change; the user is still told it worked.
    m_db.setBookmark(m_chaptersPath, m_entries.at(position - 1).title);
    m_prompter.message(QStringLiteral("恭喜你：书签添加成功！"), Prompter::Icon::Information,
                       QStringLiteral("添加成功"));
    Q_EMIT shelfChanged();
}

void ReaderPane::gotoBookmark()
{
    if (m_entries.isEmpty())
        return;
    const std::optional<BookRecord> row = m_db.findByPath(m_chaptersPath);
    const QString bookmark = row ? row->marke : QString();
    for (const ChapterEntry &e : std::as_const(m_entries)) {
        if (e.title == bookmark) {
            selectChapter(e.number);
            break;
        }
    }
    ListView2_dblClick();
}

void ReaderPane::openFind()
{
    m_view->openFindBar();
}

void ReaderPane::setSpeechEngine(SpeechEngine *engine)
{
    disconnect(m_engineGone);
    delete m_voice; // before its panel: it watches the voice list
    m_voice = nullptr;
    delete m_voicePanel;
    m_voicePanel = nullptr;

    for (int position : {ReadAloudTool, StopReadingTool, VoicePanelTool}) {
        // Enabled before the controller takes the buttons over: a change of the action resets
        // its button's text, picture and tip, which carry the reading state from then on.
        toolAction(position)->setEnabled(engine != nullptr);
        toolButton(position)->setDefaultAction(toolAction(position));
    }
    if (!engine)
        return;

    const VoiceController::VoicePanel panel = VoiceController::createVoicePanel(this);
    m_voicePanel = panel.panel;
    m_voicePanel->setAutoFillBackground(true); // it lies over the page
    m_voicePanel->installEventFilter(this);

    VoiceController::Page page;
    page.contentText = [view = m_view](std::function<void(const QString &)> reply) {
        view->contentText(std::move(reply));
    };
    page.highlight = [view = m_view](int start, int length) { view->highlightContent(start, length); };
    m_voice = new VoiceController(engine,
                                  {toolButton(ReadAloudTool), toolButton(StopReadingTool), toolButton(VoicePanelTool),
                                   panel.panel, panel.voiceList},
                                  std::move(page), this);
    m_voice->attachOptions(panel, VoiceOptions::fromText(m_db.option(LibraryDb::voiceOptionsOption())));
    connect(m_voice, &VoiceController::optionsChanged, this,
            [this](const VoiceOptions &options) { m_db.setOption(LibraryDb::voiceOptionsOption(), options.toText()); });
    connect(m_voice, &VoiceController::finishedReading, this, &ReaderPane::readOnIntoNextChapter);
    m_engineGone = connect(engine, &QObject::destroyed, this, [this] { setSpeechEngine(nullptr); });
}

void ReaderPane::readOnIntoNextChapter()
{
    // The last chapter read to its end ends the reading, without the last-chapter message.
    const int next = m_shownPosition + 1;
    if (next < 2 || next > m_entries.size())
        return;
    m_readOnPending = true;
    selectChapter(next);
    ListView2_dblClick();
}

void ReaderPane::placeVoicePanel()
{
    // Drops down from its toolbar button, over the top of the page; the rest of the pane keeps
    // its geometry, so there is nothing to lay out again.
    const QSize size = m_voicePanel->sizeHint().expandedTo(QSize(200, 0)).boundedTo(this->size());
    const int buttonLeft = toolButton(VoicePanelTool)->mapTo(this, QPoint(0, 0)).x();
    const int left = std::clamp(buttonLeft, 0, std::max(0, width() - size.width()));
    m_voicePanel->setGeometry(left, m_toolbar->geometry().bottom() + 1, size.width(), size.height());
    m_voicePanel->raise();
}

void ReaderPane::updateLoading()
{
    const bool loading = m_loader->pendingRequest() != 0 || m_fragmentPending;
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

bool ReaderPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_voicePanel && event->type() == QEvent::Show)
        placeVoicePanel();
    if (watched == m_chapters && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_entries.isEmpty()) {
            ListView2_dblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReaderPane::splitterButtonClicked(int index)
{
    m_chapterListVisible = index == 1;
    m_chapters->setVisible(m_chapterListVisible);
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
    SetTwips(m_chapters, l.chapterListLeft, l.chapterListTop, std::nullopt, l.chapterListHeight);
    if (m_voicePanel && m_voicePanel->isVisible())
        placeVoicePanel();
}
