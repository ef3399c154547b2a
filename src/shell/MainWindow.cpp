#include "shell/MainWindow.h"

#include "account/AccountSync.h"
#include "account/AccountWindows.h"
#include "account/PrivateCopyUpload.h"
#include "catalogue/BatchImportDialog.h"
#include "catalogue/CataloguePane.h"
#include "catalogue/DownloadQueue.h"
#include "catalogue/SearchPanel.h"
#include "library/BookEditor.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LocalBookFiles.h"
#include "library/NetworkOptions.h"
#include "platform/FileDropCatcher.h"
#include "platform/GlobalHotKey.h"
#include "platform/ListStyle.h"
#include "platform/SpeechEngine.h"
#include "platform/TwipsGeometry.h"
#include "platform/WindowPlacement.h"
#include "reader/NotTextBar.h"
#include "reader/ReaderPane.h"
#include "settings/BossKeyAction.h"
#include "settings/ReadingLookFrame.h"
#include "settings/SettingsPane.h"
#include "shell/CatalogueUpdates.h"

#include <QFileInfo>
#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <utility>

MainWindow::~MainWindow() = default;

MainWindow::MainWindow(AppContext &ctx, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_prompter(prompter)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Folioway%1 - 最好的TXT电子书阅读及管理工具").arg(ProgramVersion()));
    resize(1100, 720);
    setMinimumSize(480, 320);

    buildToolbar();

    m_shelf = new BookshelfPane(*ctx.db, prompter, this);
    m_reader = new ReaderPane(*ctx.db, prompter, this);
    m_catalogue = new CataloguePane(ctx, prompter, this);
    auto *userCentrePane = new QWidget(this); // stays empty: the user centre is a window of its own
    m_settings = new SettingsPane(ctx, prompter, this);
    m_panels[0] = m_shelf;
    m_panels[1] = m_reader;
    m_panels[2] = m_catalogue;
    m_panels[3] = userCentrePane;
    m_panels[4] = m_settings;
    for (int i = 0; i < TabCount; ++i) {
        m_panels[i]->setObjectName(QStringLiteral("Panels%1").arg(i + 1));
        m_panels[i]->hide();
    }

    m_loading = new QLabel(QStringLiteral("正在加载数据，请稍候..."), this);
    m_loading->setObjectName(QStringLiteral("LoadingDiv"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_loading->setAutoFillBackground(true);
    m_loading->resize(220, 40);
    m_loading->hide();

    connect(m_shelf, &BookshelfPane::loadingChanged, m_loading, &QWidget::setVisible);
    connect(m_shelf, &BookshelfPane::openBookRequested, this, [this](const QString &path) { openBook(path); });
    connect(m_shelf, &BookshelfPane::addBookRequested, this, [this] { showBookEditor(QStringLiteral("addnew")); });
    connect(m_shelf, &BookshelfPane::batchImportRequested, this, [this] { showBatchImport(); });
    connect(m_shelf, &BookshelfPane::filesDropped, this, &MainWindow::showBatchImport);
    connect(m_reader->notTextBar(), &NotTextBar::batchImportRequested, this, &MainWindow::showBatchImport);

    m_bookMenu = new BookMenu(*ctx.db, prompter, this);
    connect(m_shelf, &BookshelfPane::bookMenuRequested, this, [this](const BookRecord &book, const QPoint &at) {
        m_bookMenu->setSelection(m_shelf->selectedBooks());
        const AccountSync *sync = m_accounts->sync();
        m_bookMenu->setPrivateCopyEnabled(sync && sync->privateCopies()->signedIn(sync->account()));
        m_bookMenu->popupFor(book, at);
    });
    connect(m_bookMenu, &BookMenu::openBookRequested, this, &MainWindow::openBook);
    connect(m_bookMenu, &BookMenu::editRequested, this, &MainWindow::showBookEditor);
    connect(m_bookMenu, &BookMenu::shelfChanged, m_shelf, &BookshelfPane::reload);
    m_accounts = new AccountWindows(ctx, prompter, this);
    connect(this, &MainWindow::userCentreRequested, m_accounts, &AccountWindows::openUserInfo);
    connect(m_bookMenu, &BookMenu::shareRequested, m_accounts, &AccountWindows::shareShelfBook);
    m_bookMenu->setShareEnabled(true);
    connect(m_reader, &ReaderPane::layoutRequested, this, &MainWindow::runLayout);
    connect(m_reader, &ReaderPane::loadingChanged, m_loading, &QWidget::setVisible);
    connect(m_reader, &ReaderPane::shelfChanged, m_shelf, &BookshelfPane::reload);
    connect(m_reader, &ReaderPane::readingPositionSaved, m_shelf, &BookshelfPane::updateProgress);
    connect(m_reader, &ReaderPane::addToShelfRequested, this, [this] { showBookEditor(QStringLiteral("opennew")); });
    connect(m_reader, &ReaderPane::shareRequested, m_accounts, &AccountWindows::shareOpenBook);
    connect(m_reader, &ReaderPane::fullScreenRequested, this, &MainWindow::setReaderFullScreen);
    auto *readerDrops = new FileDropCatcher(m_reader, [](const QString &path) {
        return KindOfLocalBook(path) != LocalBookKind::None;
    });
    connect(readerDrops, &FileDropCatcher::dropped, this, &MainWindow::onReaderDrop);
    connect(m_catalogue, &CataloguePane::layoutRequested, this, &MainWindow::runLayout);
    connect(m_catalogue, &CataloguePane::loadingChanged, m_loading, &QWidget::setVisible);
    connect(m_catalogue, &CataloguePane::showRequested, this, [this] { SelectToolBar(3); });
    connect(m_catalogue, &CataloguePane::uploadRequested, m_accounts, &AccountWindows::openUpload);
    connect(m_catalogue, &CataloguePane::shelfChanged, m_shelf, &BookshelfPane::reload);
    connect(m_catalogue, &CataloguePane::readRequested, this, [this](const QString &path) { openBook(path); });
    connect(m_searchPanel, &SearchPanel::searchRequested, m_catalogue, &CataloguePane::search);
    m_updates = new CatalogueUpdates(ctx, prompter, m_catalogue->downloads(), this);
    connect(m_updates, &CatalogueUpdates::shelfChanged, m_shelf, &BookshelfPane::reload);
    connect(m_bookMenu, &BookMenu::checkUpdatesRequested, m_updates, [this] { m_updates->check(true); });
    connect(m_bookMenu, &BookMenu::updateBookRequested, m_updates, &CatalogueUpdates::updateBook);
    // The book being read is read on in its new copy, at the place moved there.
    connect(m_updates, &CatalogueUpdates::replacing, this, [this](const QString &path) {
        if (m_reader->currentBookPath() == path)
            m_reader->flushPosition();
    });
    connect(m_updates, &CatalogueUpdates::bookUpdated, this, [this](qint64 id) {
        const std::optional<BookRecord> book = m_ctx.db->findById(id);
        if (!book || m_reader->currentBookPath() != book->path)
            return;
        const std::optional<ReadingPosition> place = m_ctx.db->readingPosition(book->path);
        m_reader->openBook(book->path, place ? place->chapterTitle : QString());
    });

    connectSync();
    connectPrivateCopies();

    m_bossKey = new BossKeyHotKey(GlobalHotKey::create(), this);
    connect(m_settings, &SettingsPane::pageStyleChanged, m_reader, &ReaderPane::setPageStyle);
    // Zooming while reading changes the style frame's text size, which keeps it like the rest.
    connect(m_reader->readingView(), &ReadingView::textSizeRequested, m_settings->readingLookFrame(),
            &ReadingLookFrame::setFontSize);
    connect(m_settings, &SettingsPane::bossKeyChanged, m_bossKey, &BossKeyHotKey::registerKey);
}

void MainWindow::buildToolbar()
{
    const QString captions[TabCount] = {QStringLiteral("我的书架"), QStringLiteral("阅读窗口"),
                                        QStringLiteral("网络书库"), QStringLiteral("用户中心"),
                                        QStringLiteral("系统设置")};
    const QString keys[TabCount] = {QStringLiteral("T_ShuJia"), QStringLiteral("T_Reade"), QStringLiteral("T_NetShu"),
                                    QStringLiteral("T_UCenter"), QStringLiteral("T_SysSet")};
    const QStyle::StandardPixmap icons[TabCount] = {QStyle::SP_DirHomeIcon, QStyle::SP_FileDialogContentsView,
                                                    QStyle::SP_DriveNetIcon, QStyle::SP_DialogHelpButton,
                                                    QStyle::SP_FileDialogDetailedView};
    for (int i = 0; i < TabCount; ++i) {
        auto *b = new QToolButton(this);
        b->setObjectName(keys[i]);
        b->setText(captions[i]);
        b->setIcon(style()->standardIcon(icons[i]));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setCheckable(true);
        b->setAutoRaise(true);
        b->setGeometry(4 + i * 96, 3, 92, 34);
        connect(b, &QToolButton::clicked, this, [this, i] { SelectToolBar(i + 1); });
        m_buttons[i] = b;
    }

    m_syncIndicator = new QToolButton(this);
    m_syncIndicator->setObjectName(QStringLiteral("T_Sync"));
    m_syncIndicator->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_syncIndicator->setAutoRaise(true);
    m_syncIndicator->setIconSize(QSize(14, 14));
    m_syncIndicator->hide();
    m_copyIndicator = new QToolButton(this);
    m_copyIndicator->setObjectName(QStringLiteral("T_PrivateCopy"));
    m_copyIndicator->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_copyIndicator->setAutoRaise(true);
    m_copyIndicator->hide();

    m_searchPanel = new SearchPanel(m_prompter, this);
    SetTwips(m_searchPanel, 0, 90, 3400, 420);
}

void MainWindow::load()
{
    if (const QScreen *screen = this->screen()) {
        // A screen smaller than the window's first size gets a window that fits on it.
        const QSize room = screen->availableGeometry().size() - (frameGeometry().size() - size());
        if (!room.isEmpty() && (width() > room.width() || height() > room.height()))
            resize(size().boundedTo(room));
        const QRect avail = screen->geometry();
        move(avail.left() + (avail.width() - frameGeometry().width()) / 2,
             avail.top() + (avail.height() - frameGeometry().height()) / 2);
    }
    // The category tree was built with the pane. The reading page loads while the rest is set up.
    m_reader->setServerSnippets(m_ctx.serverInfo);
    m_reader->loadReadingPage(m_ctx.programFolder);
    m_shelf->ReadList(ShelfQuery{});
    for (QAbstractItemView *list : {static_cast<QAbstractItemView *>(m_shelf->bookList()),
                                    static_cast<QAbstractItemView *>(m_reader->chapterList()),
                                    static_cast<QAbstractItemView *>(m_catalogue->bookList())})
        ApplyBandedRows(list);
    // The voices: every installed one, the last chosen.
    m_speech = SpeechEngine::create();
    m_reader->setSpeechEngine(m_speech.get());
    // Settings, reading-page styles and the boss key, in that order.
    m_settings->load();
    // With "启动后打开上次阅读的书" on, the program starts where the reader left off.
    SelectToolBar(m_reader->hasBookToReopen() ? 2 : 1);
    show();
    runLayout();
    // With "启动时检查连载更新" on, newer copies of catalogue books get their mark; "检查更新"
    // asks at any time.
    if (NetworkOptions::isOn(m_ctx.db, NetworkOptions::checkUpdatesAtStart()))
        m_updates->check(false);
    // Where sync was on before, the login is checked quietly and sync starts with it.
    m_accounts->sync()->checkAtStart();
}

void MainWindow::connectSync()
{
    AccountSync *sync = m_accounts->sync();
    connect(m_syncIndicator, &QToolButton::clicked, m_accounts, &AccountWindows::openSyncStatus);
    connect(sync, &AccountSync::changed, this, &MainWindow::showSyncState);
    connect(m_reader, &ReaderPane::bookOpened, sync, &AccountSync::bookOpened);
    connect(m_reader, &ReaderPane::bookClosed, sync, &AccountSync::bookClosed);
    connect(sync, &AccountSync::libraryChanged, this, [this] {
        m_shelf->reload();
        m_reader->libraryChangedElsewhere();
    });
    // A book that arrives here leaves the list of other computers' books at once.
    connect(m_catalogue->downloads(), &DownloadQueue::imported, sync, &AccountSync::shelfChanged);
    connect(m_bookMenu, &BookMenu::shelfChanged, sync, &AccountSync::shelfChanged);
    connect(sync, &AccountSync::downloadRequested, this, [this](const RemoteBook &book) {
        // The download list, where its progress shows, is on the catalogue tab.
        SelectToolBar(3);
        m_updates->downloadById(book.catalogueId, book.type, book.name, book.author);
    });
}

// "放到我的服务器" runs on while the window goes on; its progress shows beside the sync state, a
// failure in a message once the books are through.
void MainWindow::connectPrivateCopies()
{
    AccountSync *sync = m_accounts->sync();
    if (!sync)
        return;
    PrivateCopyUpload *copies = sync->privateCopies();
    connect(m_bookMenu, &BookMenu::privateCopyRequested, copies, &PrivateCopyUpload::send);
    connect(m_copyIndicator, &QToolButton::clicked, m_accounts, &AccountWindows::openSyncStatus);
    const auto show = [this](const QString &text) {
        m_copyIndicator->setText(text);
        m_copyIndicator->setToolTip(text);
        placeSyncIndicator();
    };
    connect(copies, &PrivateCopyUpload::progress, this, show);
    connect(copies, &PrivateCopyUpload::finished, this, [this, show](int sent, const QStringList &failures) {
        show(sent ? QStringLiteral("已放到我的服务器：%1 本").arg(sent) : QString());
        QTimer::singleShot(10000, m_copyIndicator, [this, show, shown = m_copyIndicator->text()] {
            if (m_copyIndicator->text() == shown)
                show(QString());
        });
        if (!failures.isEmpty())
            m_prompter.message(QStringLiteral("以下书没有放到服务器上：\r\n") + failures.join(QStringLiteral("\r\n")),
                               Prompter::Icon::Critical, QStringLiteral("放到我的服务器"));
    });
}

void MainWindow::showSyncState()
{
    const AccountSync *sync = m_accounts ? m_accounts->sync() : nullptr;
    if (!sync)
        return;
    QStyle::StandardPixmap icon = QStyle::SP_DialogApplyButton;
    switch (sync->state()) {
    case SyncEngine::State::Off:
        icon = QStyle::SP_DialogNoButton;
        break;
    case SyncEngine::State::Busy:
        icon = QStyle::SP_BrowserReload;
        break;
    case SyncEngine::State::Failed:
        icon = QStyle::SP_MessageBoxWarning;
        break;
    case SyncEngine::State::Idle:
        break;
    }
    m_syncIndicator->setIcon(style()->standardIcon(icon));
    m_syncIndicator->setText(sync->stateText());
    m_syncIndicator->setToolTip(sync->summary());
    placeSyncIndicator();
}

void MainWindow::placeSyncIndicator()
{
    const AccountSync *sync = m_accounts->sync();
    const bool wanted = sync->isSwitchedOn() && !m_reader->isFullScreen();
    // Between the tab buttons, which never move, and the search panel: the word beside its icon
    // where both fit, the icon alone (the words in its tool tip) where only the icon does.
    constexpr int gap = 2;
    const int left = m_buttons[TabCount - 1]->geometry().right() + 1 + gap;
    const int room = m_searchPanel->x() - gap - left;
    // Measured rather than the button's own hint, whose wide margins would cost the words at
    // half a 1600 px screen.
    const int icon = m_syncIndicator->iconSize().width();
    const int withWords = icon + 4 + m_syncIndicator->fontMetrics().horizontalAdvance(m_syncIndicator->text()) + 6;
    const bool words = withWords <= room;
    m_syncIndicator->setToolButtonStyle(words ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
    const int width = words ? withWords : icon + 8;
    m_syncIndicator->setGeometry(left, m_buttons[0]->y(), width, m_buttons[0]->height());
    m_syncIndicator->setVisible(wanted && width <= room);
    const int copyLeft = m_syncIndicator->isVisibleTo(this) ? left + width + gap : left;
    const int copyWidth = m_copyIndicator->fontMetrics().horizontalAdvance(m_copyIndicator->text()) + 12;
    m_copyIndicator->setGeometry(copyLeft, m_buttons[0]->y(), std::min(copyWidth, left + room - copyLeft),
                                 m_buttons[0]->height());
    m_copyIndicator->setVisible(!m_copyIndicator->text().isEmpty() && !m_reader->isFullScreen() &&
                                copyLeft + 40 <= left + room);
}

void MainWindow::SelectToolBar(int buttonId)
{
    if (buttonId < 1 || buttonId > TabCount)
        return;
    if (buttonId == 4) {
        m_buttons[3]->setChecked(false);
        Q_EMIT userCentreRequested();
        return;
    }
    for (int i = 1; i <= TabCount; ++i) {
        if (i == buttonId) {
            m_buttons[i - 1]->setChecked(true);
            m_panels[i - 1]->show();
            m_currentTab = i;
            runLayout();
            if (i == 3 && m_catalogue->isFirstVisit())
                m_catalogue->firstVisit();
            if (i == 2 && !std::exchange(m_readerShown, true))
                m_reader->reopenLastBook();
        } else {
            m_buttons[i - 1]->setChecked(false);
            m_panels[i - 1]->hide();
        }
    }
}

void MainWindow::runLayout()
{
    // The design figures count the outer size of the window, frame included.
    const QSize outer = frameGeometry().size().expandedTo(size());
    LayoutInput in;
    in.width = pixelsToTwips(outer.width());
    in.height = pixelsToTwips(outer.height());
    in.chapterListVisible = m_reader->chapterListVisible();
    in.downloadPanelVisible = m_catalogue->downloadPanelVisible();
    in.shelfPagingBarHeight = m_shelf->pagingBarHeightTwips();
    in.catalogueCategoryBarHeight = m_catalogue->categoryBarHeightTwips();
    in.splitterButtonHeight[0] = m_reader->splitterButtonHeightTwips(0);
    in.splitterButtonHeight[1] = m_reader->splitterButtonHeightTwips(1);
    m_layout = ComputeMainLayout(in);

    SetTwips(m_searchPanel, m_layout.searchPanelLeft, std::nullopt);
    showSyncState();
    for (QWidget *pane : m_panels)
        SetTwips(pane, m_layout.paneLeft, m_layout.paneTop, m_layout.paneWidth, m_layout.paneHeight);
    m_shelf->applyLayout(m_layout);
    m_reader->applyLayout(m_layout);
    m_catalogue->applyLayout(m_layout);
    if (m_reader->isFullScreen()) {
        m_reader->setGeometry(rect());
        m_reader->applyLayout(m_layout);
    }
    m_loading->move((width() - m_loading->width()) / 2, (height() - m_loading->height()) / 2);
}

QString MainWindow::currentBookPath() const
{
    return m_reader->currentBookPath();
}

void MainWindow::openBook(const QString &path, const QString &chapterTitle)
{
    // A missing file is refused with a message and leaves the current tab as it is.
    if (m_reader->openBook(path, chapterTitle))
        SelectToolBar(2);
}

void MainWindow::openFileGiven(const QString &path)
{
    SelectToolBar(2);
    m_reader->openChosenFile(QFileInfo(path).absoluteFilePath());
}

void MainWindow::showBookEditor(const QString &editorMode)
{
    if (m_editor) {
        m_editor->raise();
        m_editor->activateWindow();
        return;
    }
    m_editorMode = editorMode;
    m_editor = new BookEditor(*m_ctx.db, m_prompter, editorMode, currentBookPath(), this);
    m_editor->setWindowFlag(Qt::Window);
    connect(m_editor, &BookEditor::shelfChanged, m_shelf, &BookshelfPane::reload);
    connect(m_editor, &BookEditor::switchTabRequested, this, &MainWindow::SelectToolBar);
    connect(m_editor, &BookEditor::openBookRequested, this, [this](const QString &path) { openBook(path); });
    ShowCentred(m_editor);
}

void MainWindow::showBatchImport(const QStringList &paths)
{
    if (!m_batchImport) {
        m_batchImport = new BatchImportDialog(m_ctx, m_prompter, this);
        m_batchImport->setWindowFlag(Qt::Window);
        connect(m_batchImport, &BatchImportDialog::shelfChanged, m_shelf, &BookshelfPane::reload);
        connect(m_batchImport, &BatchImportDialog::shelfChanged, m_accounts->sync(), &AccountSync::shelfChanged);
    }
    m_batchImport->addPaths(paths);
    ShowCentred(m_batchImport);
}

void MainWindow::onReaderDrop(const QStringList &paths)
{
    // One text file dropped on the page is to be read; anything more is to be imported.
    if (paths.size() == 1 && KindOfLocalBook(paths.first()) == LocalBookKind::Text)
        openFileGiven(paths.first());
    else
        showBatchImport(paths);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    runLayout();
}

void MainWindow::setReaderFullScreen(bool on)
{
    if (on == m_reader->isFullScreen())
        return;
    if (on) {
        m_maximizedBeforeFullScreen = isMaximized();
        showFullScreen();
    } else if (m_maximizedBeforeFullScreen) {
        showMaximized();
    } else {
        showNormal();
    }
    for (QToolButton *button : m_buttons)
        button->setVisible(!on);
    m_searchPanel->setVisible(!on);
    m_reader->setFullScreen(on);
    runLayout();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // No round now: the program ends before it could be answered. The place just kept waits in
    // the library and goes with the first round of the next run.
    m_reader->flushPosition();
    // Unfinished downloads keep their bytes and come back, paused, at the next start.
    m_catalogue->downloads()->keepUnfinished();
    event->accept();
    Q_EMIT closed();
}
