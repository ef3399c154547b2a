#include "GuiSupport.h"
#include "LiveServer.h"
#include "ScriptedPrompter.h"
#include "account/AccountWindows.h"
#include "account/UserCentre.h"
#include "catalogue/CatalogueDetailPanel.h"
#include "catalogue/CatalogueNavigation.h"
#include "catalogue/CataloguePane.h"
#include "catalogue/DownloadQueue.h"
#include "catalogue/SearchPanel.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "net/AnswerReader.h"
#include "reader/ReaderPane.h"
#include "reader/ReadingPositionKeeper.h"
#include "settings/NetworkOptionsBox.h"
#include "settings/SettingsPane.h"
#include "shell/CatalogueUpdates.h"
#include "shell/MainWindow.h"
#include "text/Chapters.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

// The whole catalogue tab in the main window against the real server: browsing and searching;
// and a download whose server dies mid-transfer, comes back and gives the rest of the book to the
// row's automatic retry, which puts it on the shelf.
static const QString kBigBook = u"断线测试之书"_s;

class TestCatalogueEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LiveServer m_server;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;

    CataloguePane *catalogue() const { return m_window->catalogue(); }

    // Waits for the answer of the request just sent.
    static bool answered(CataloguePane *pane)
    {
        return QTest::qWaitFor([pane] { return !pane->isLoading(); }, 20000);
    }

    void doubleClickRow(QTreeWidget *list, int row)
    {
        QTreeWidgetItem *item = list->topLevelItem(row);
        list->setCurrentItem(item);
        list->scrollToItem(item);
        // On the title cell: the row may be wider than the list.
        const auto at = [list, item] { return QPoint(list->columnViewportPosition(2) + 10, list->visualItemRect(item).center().y()); };
        QTRY_VERIFY(list->isVisible() && list->viewport()->rect().contains(at()));
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at());
    }

    // The server's own catalogue gives the big book a cover and a description, as an upload
    // with a cover would.
    static bool giveCover(const QString &serverData, const QString &title)
    {
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"server"_s);
            db.setDatabaseName(serverData + u"/catalogue.db"_s);
            QSqlQuery q(db);
            if (db.open() && q.exec(u"SELECT id FROM books WHERE name = '%1'"_s.arg(title)) && q.next()) {
                const QString id = q.value(0).toString();
                QImage cover(60, 80, QImage::Format_RGB32);
                cover.fill(QColor(30, 90, 160));
                done = cover.save(serverData + u"/books/"_s + id + u"/cover.jpg"_s, "JPG") &&
                       q.exec(u"UPDATE books SET cover = 'cover.jpg', memo = '断线重连' WHERE id = "_s + id);
            }
        }
        QSqlDatabase::removeDatabase(u"server"_s);
        return done;
    }

    QStringList shelfTitles() const { return GuiSupport::columnTexts(m_window->shelf()->bookList(), 2); }

private Q_SLOTS:
    void initTestCase()
    {
        if (LiveServer::binary(TestSupport::binDir()).isEmpty())
            QSKIP("folioway-server is not built");
        const QString serverData = m_dir.filePath(u"server"_s);
        START(m_server, {u"--data"_s, serverData, u"--demo"_s});
        // Beside the demo books, one big enough that the server can die while it is on the wire.
        const QString importFolder = m_dir.filePath(u"import"_s);
        const QByteArray book = "第一章 断线\n" + QByteArray(1024 * 1024, 'x').append('\n').repeated(120);
        QVERIFY(TestSupport::writeFile(importFolder + u'/' + kBigBook + u".txt"_s, book));
        const LiveServer::Result import = LiveServer::run(
            TestSupport::binDir(), {u"--data"_s, serverData, u"import"_s, importFolder, u"--category"_s, u"其他分类"_s});
        QVERIFY2(import.exitCode == 0, qPrintable(import.err));
        QVERIFY(giveCover(serverData, kBigBook));
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(m_dir.filePath(u"client/DataFile/Data.db"_s)));
        m_ctx.programFolder = m_dir.filePath(u"client"_s);
        m_ctx.db = m_db.get();
        m_ctx.downloadFolder = m_dir.filePath(u"client/TxtBook"_s);
        m_ctx.config.serverBaseUrl = m_server.baseUrl();
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_db.reset();
    }

    void browsePagesAndSearch()
    {
        CataloguePane *pane = catalogue();
        pane->detailToggle()->click(); // the cover and the "下载" button beside the list
        m_window->SelectToolBar(3);
        QVERIFY(answered(pane));
        QVERIFY(pane->categoryButton(0)->isChecked());
        QVERIFY(!pane->entries().isEmpty());
        QCOMPARE(pane->bookList()->topLevelItemCount(), int(pane->entries().size()));
        const QString total = pane->paging().totalPages;
        QVERIFY(total.toInt() >= 2);
        QCOMPARE(pane->pageDisplay()->text(), u"1/"_s + total);
        // The tab's first list is fetched once only.
        m_window->SelectToolBar(1);
        m_window->SelectToolBar(3);
        QVERIFY(!pane->isLoading());

        // A header click sorts the page by size; the selected row still downloads its own book.
        GuiSupport::clickHeader(pane->bookList()->header(), 6);
        QList<double> sizes;
        for (int i = 0; i < pane->bookList()->topLevelItemCount(); ++i)
            sizes.append(pane->entries()[pane->bookList()->topLevelItem(i)->data(0, Qt::UserRole + 1).toInt()].size.toDouble());
        QVERIFY(std::is_sorted(sizes.cbegin(), sizes.cend()));
        QVERIFY(sizes.first() < sizes.last());
        GuiSupport::clickHeader(pane->bookList()->header(), 6); // the same header again reverses it
        QCOMPARE(pane->entries()[pane->bookList()->topLevelItem(0)->data(0, Qt::UserRole + 1).toInt()].size.toDouble(),
                 sizes.last());

        QTest::keyClick(pane->bookList(), Qt::Key_Right);
        QVERIFY(answered(pane));
        QCOMPARE(pane->pageDisplay()->text(), u"2/"_s + total);
        pane->pageBox()->setText(total);
        pane->goToPage();
        QVERIFY(answered(pane));
        QCOMPARE(pane->pageDisplay()->text(), total + u'/' + total);
        m_prompter.clear();
        pane->nextPage();
        QCOMPARE(m_prompter.lastText(), u"后面没有了，当前已是最后一页!"_s);
        QVERIFY(!pane->isLoading());
        pane->firstPage();
        QVERIFY(answered(pane));
        QCOMPARE(pane->paging().currentPage, u"1"_s);

        // The keyword box: grey hint while empty, refusals before anything is sent.
        SearchPanel *search = m_window->searchPanel();
        QVERIFY(search->showsHint());
        QCOMPARE(search->keywordBox()->palette().color(QPalette::Text), QColor(128, 128, 128));
        search->searchClicked();
        QCOMPARE(m_prompter.lastText(), u"请输入一个正确的关键字！"_s);
        QVERIFY(search->keywordBox()->text().isEmpty());
        search->keywordBox()->setText(SearchPlaceholder());
        search->keywordBox()->setFocus();
        QTRY_VERIFY(search->keywordBox()->text().isEmpty());
        search->keywordBox()->setText(u"剑"_s);
        QTest::keyClick(search->keywordBox(), Qt::Key_Return);
        QCOMPARE(m_prompter.lastText(), u"请输入至少2位的关键字进行搜索！"_s);
        QVERIFY(!pane->isLoading());
        QVERIFY(search->searchButton()->hasFocus());

        // Searching for an author on screen, from another tab, brings the catalogue forward.
        const QString author = pane->entries().first().author;
        m_window->SelectToolBar(1);
        search->keywordBox()->setText(author);
        QTest::mouseClick(search->searchButton(), Qt::LeftButton);
        QCOMPARE(m_window->currentTab(), 3);
        QVERIFY(answered(pane));
        QVERIFY(!pane->entries().isEmpty());
        for (const CatalogueEntry &entry : pane->entries())
            QVERIFY2(entry.author.contains(author) || entry.name.contains(author), qPrintable(entry.name));
        QVERIFY(pane->statusLine()->text().isEmpty());
        QVERIFY(pane->detailPanel()->downloadButton()->isEnabled());
        search->keywordBox()->setText(u"没有这样的书"_s);
        search->searchClicked();
        QVERIFY(answered(pane));
        QCOMPARE(pane->statusLine()->text(), u"没有找到相关书籍"_s);
        search->searchClicked();
        QVERIFY(pane->statusLine()->text().isEmpty()); // while the request is out
        QVERIFY(answered(pane));
        QCOMPARE(pane->bookList()->topLevelItemCount(), 0);
        QVERIFY(!pane->detailPanel()->downloadButton()->isEnabled());
        QVERIFY(!pane->detailPanel()->showsServedCover());
        QVERIFY(!pane->detailPanel()->coverLabel()->pixmap().isNull());

        // "上传共享" lists nothing: it opens the user centre's upload page and stays raised.
        pane->categoryButton(11)->click();
        QVERIFY(!pane->categoryButton(11)->isChecked());
        QVERIFY(!pane->isLoading());
        QVERIFY(m_window->accounts()->userCentre());
        QCOMPARE(m_window->accounts()->userCentre()->selectedNode(), int(UserCentre::UploadNode));
        m_window->accounts()->userCentre()->close();
    }

    void serverDyingMidDownloadLeavesARedRowThenARetryContinues()
    {
        CataloguePane *pane = catalogue();
        m_window->searchPanel()->keywordBox()->setText(kBigBook);
        m_window->searchPanel()->searchClicked();
        QVERIFY(answered(pane));
        QCOMPARE(int(pane->entries().size()), 1);
        const CatalogueEntry big = pane->entries().first();
        QTRY_VERIFY(pane->detailPanel()->showsServedCover());

        // Retried by itself only with "连接中断时自动重试" on.
        m_window->settings()->networkOptions()->autoRetryBox()->click();
        QSignalSpy done(pane->downloads(), &DownloadQueue::allDownloadsDone);
        QList<int> waits;
        std::function<void()> due; // the row's automatic retry, run when the test says
        pane->downloads()->setScheduler(
            [&](int ms, std::function<void()> fn) { waits.append(ms), due = std::move(fn); });
        // Every piece read reports progress, and the reply buffers only a few megabytes, so at
        // the first report most of the book is still on the server however fast the line is.
        pane->downloads()->downloader()->setProgressInterval(0);
        bool killed = false;
        connect(pane->downloads()->downloader(), &Downloader::downloadProgress, this, [&](qint64 read, qint64 total) {
            if (!killed && read < total) {
                killed = true;
                m_server.kill();
            }
        });
        QTest::mouseClick(pane->detailPanel()->downloadButton(), Qt::LeftButton);
        QVERIFY(pane->downloadPanelVisible());
        QCOMPARE(pane->downloadIcon()->toolTip(), u"隐藏下载面版"_s);
        QVERIFY2(done.wait(60000), qPrintable(pane->downloads()->rows().last().status));
        QVERIFY(killed);
        QCOMPARE(int(done[0][0].toStringList().size()), 1);
        const QString saveFile = done[0][0].toStringList().first();

        DownloadList *list = pane->downloadList();
        const int last = list->topLevelItemCount() - 1;
        const QTreeWidgetItem *row = list->topLevelItem(last);
        QCOMPARE(row->foreground(0).color(), QColor(255, 0, 0));
        QCOMPARE(row->foreground(1).color(), QColor(255, 0, 0));
        // As painted: red text and no trace of the progress bar.
        const QRect r = list->visualItemRect(row);
        const QImage cell = list->viewport()->grab({list->columnViewportPosition(1), r.y(), list->columnWidth(1), r.height()}).toImage();
        int red = 0, bar = 0;
        for (int i = 0; i < cell.width() * cell.height(); ++i) {
            const QColor c = cell.pixelColor(i % cell.width(), i / cell.width());
            red += c.red() > 200 && c.green() < 120 && qAbs(c.green() - c.blue()) < 16; // red text: green and blue alike
            bar += c.blue() > c.red() + 40;
        }
        QVERIFY2(red > 0 && bar == 0, qPrintable(u"'%1': %2 red, %3 bar"_s.arg(row->text(1)).arg(red).arg(bar)));
        QCOMPARE(row->toolTip(2), u"连接中断"_s);
        QCOMPARE(row->text(DownloadList::ColSpeed), u"连接中断，5秒后重试（1/3）"_s);
        QCOMPARE(waits, QList<int>{5000});
        QVERIFY(!QFile::exists(saveFile));
        const qint64 kept = pane->downloads()->downloader()->resumableBytes(saveFile);
        QVERIFY(kept > 0);
        QVERIFY(!m_db->findByName(big.name));

        // The window goes on: a list request now fails quietly but for the status line.
        m_prompter.clear();
        pane->chooseCategory(0);
        QVERIFY(answered(pane));
        QVERIFY(m_prompter.shown.isEmpty());
        QCOMPARE(pane->statusLine()->text(), u"暂时连不上书库服务器"_s);
        QCOMPARE(pane->entries().first().name, big.name);

        // That answer, read only once a newer request is out, leaves the line clear for the newer one.
        QSemaphore reading, release;
        AnswerReader::setWorkerHook([&] { reading.release(), release.acquire(); });
        pane->chooseCategory(0);
        QVERIFY(QTest::qWaitFor([&] { return reading.tryAcquire(); }, 20000));
        AnswerReader::setWorkerHook(nullptr);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        m_ctx.config.serverBaseUrl = u"http://127.0.0.1:%1"_s.arg(silent.serverPort());
        QSignalSpy loading(pane, &CataloguePane::loadingChanged);
        pane->chooseCategory(0);
        release.release();
        QTRY_VERIFY(loading.contains(QVariantList{false}));
        QVERIFY2(pane->statusLine()->text().isEmpty() && pane->isLoading(), qPrintable(pane->statusLine()->text()));
        m_ctx.config.serverBaseUrl = m_server.baseUrl();
        pane->chooseCategory(0);
        QVERIFY(answered(pane));

        // The server comes back on its port; the row's retry asks only for the rest.
        const QString log = m_dir.filePath(u"access.log"_s);
        START(m_server, {u"--port"_s, QString::number(m_server.port()), u"--data"_s, m_dir.filePath(u"server"_s),
                         u"--log"_s, log});
        std::unique_ptr<QMenu> menu(list->menuFor(last));
        const auto action = [&menu](const QString &text) {
            const QList<QAction *> actions = menu->actions();
            return *std::find_if(actions.cbegin(), actions.cend(), [&text](QAction *a) { return a->text() == text; });
        };
        QVERIFY(action(u"重试"_s)->isEnabled());
        due();
        QCOMPARE(row->text(DownloadList::ColSpeed), u"自动重试（1/3）"_s);
        QVERIFY(done.wait(60000));
        QVERIFY(m_prompter.shown.isEmpty());
        QCOMPARE(list->topLevelItemCount(), last + 1);
        QCOMPARE(row->text(2), u"下载完成，已为你添加到书架！"_s);
        QCOMPARE(row->foreground(2).color(), QColor(0, 0, 255));
        QVERIFY(row->toolTip(2).isEmpty());
        const QByteArray served = TestSupport::readFile(log);
        QVERIFY2(served.contains(" 206 " + QByteArray::number(QFileInfo(saveFile).size() - kept) + ' '),
                 served.constData());
        QVERIFY(!QFile::exists(Downloader::PartFileOf(saveFile)));
        QTRY_VERIFY(shelfTitles().contains(big.name));

        // The book again, now shelved: the user is asked first, then the row in the list refuses.
        m_prompter.answers.enqueue(true);
        doubleClickRow(pane->bookList(), 0);
        QCOMPARE(int(m_prompter.shown.size()), 2);
        QCOMPARE(m_prompter.shown[0].title, u"确认下载"_s);
        QCOMPARE(m_prompter.shown[1].text, u"不要重复下载，该书已在下载列表中！"_s);
        // The refused row offers to download it again in its place.
        menu.reset(list->menuFor(last));
        action(u"重新下载"_s)->trigger();
        QCOMPARE(list->topLevelItemCount(), last + 1);
        QVERIFY(done.wait(60000));
        QCOMPARE(list->topLevelItem(last)->text(2), u"下载完成，已为你添加到书架！"_s);

        // Without a file manager the folder cannot open, and the user is told.
        menu.reset(list->menuFor(last));
        list->setFolderOpener([](const QString &) { return false; });
        action(u"打开所在文件夹"_s)->trigger();
        QVERIFY(m_prompter.lastText().startsWith(u"没有找到可以打开文件夹的程序："_s));

        // Read from the row's menu.
        action(u"阅读"_s)->trigger();
        QCOMPARE(m_window->currentTab(), 2);
        QCOMPARE(m_window->currentBookPath(), m_db->findByName(big.name)->path);
        list->controlButton(DownloadList::ClearFinished)->click();
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    // The server's copy of a shelf book is replaced by a longer one with a chapter put in front:
    // the start-up question marks the row, "更新本书" fetches the copy through the download list
    // and the place stays on the chapter of the same title.
    void replacedBookIsMarkedThenUpdatedInPlace()
    {
        CataloguePane *pane = catalogue();
        QObject::disconnect(pane->downloads()->downloader(), nullptr, this, nullptr);
        const QString name = u"连载之书"_s, file = name + u"作者：某人.txt"_s;
        const auto importBook = [&](const QString &folder, const QByteArray &text, const QStringList &extra) {
            QVERIFY(TestSupport::writeFile(m_dir.filePath(folder) + u'/' + file, text));
            const QStringList args{u"--data"_s, m_dir.filePath(u"server"_s), u"import"_s, m_dir.filePath(folder), u"--category"_s, u"其他分类"_s};
            const LiveServer::Result run = LiveServer::run(TestSupport::binDir(), args + extra);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        };
        importBook(u"serial1"_s, "第一章 出发\n一\n第二章 路上\n二\n第三章 到达\n三\n", {});
        m_window->searchPanel()->keywordBox()->setText(name);
        m_window->searchPanel()->searchClicked();
        QVERIFY(answered(pane));
        QSignalSpy done(pane->downloads(), &DownloadQueue::allDownloadsDone);
        QVERIFY(pane->downloads()->downloadCatalogueEntry(pane->entries().value(0), m_server.baseUrl()));
        QVERIFY(done.wait(60000));
        const BookRecord book = m_db->findByName(name).value();
        QVERIFY(m_db->setBookmark(book.path, u"第二章 路上"_s));
        QVERIFY(m_db->saveReadingPosition(PositionInBook(book.path, GetChapter(book.path).entries, 2, 0.5, 0.5)));

        importBook(u"serial2"_s, "序章\n零\n第一章 出发\n一\n第二章 路上\n二\n第三章 到达\n三\n第四章 归来\n四\n",
                   {u"--replace"_s});
        CatalogueUpdates *updates = m_window->catalogueUpdates();
        QSignalSpy checked(updates, &CatalogueUpdates::checked);
        updates->check(false);
        QVERIFY(checked.wait(20000));
        QTreeWidget *shelf = m_window->shelf()->bookList();
        const auto row = [&] { return shelf->findItems(name, Qt::MatchExactly, 2).value(0); };
        QCOMPARE(row()->text(BookshelfPane::updateColumn()), BookshelfPane::UpdateMark());
        QVERIFY(row()->toolTip(2).contains(BookshelfPane::UpdateMark()));

        m_window->openBook(book.path, u"第二章 路上"_s);
        QTRY_COMPARE(m_window->reader()->chapterList()->topLevelItemCount(), 3);
        m_window->SelectToolBar(1);
        m_window->bookMenu()->setBook(book);
        QSignalSpy updated(updates, &CatalogueUpdates::bookUpdated);
        m_window->bookMenu()->item(u"Menue_UpdateBook"_s)->trigger();
        QVERIFY(updated.wait(60000));
        QVERIFY(pane->downloads()->rows().last().saveFile.contains(u"-更新/"_s));
        QCOMPARE(m_prompter.lastText(), u"《连载之书》已更新，新增 2 章。"_s);
        QVERIFY(TestSupport::readFile(book.path).contains("第四章 归来"));
        const ReadingPosition place = m_db->readingPosition(book.path).value();
        QCOMPARE(place.chapter, 3);
        QCOMPARE(place.chapterTitle, u"第二章 路上"_s);
        QCOMPARE(m_db->findById(book.id)->marke, u"第二章 路上"_s);
        // The open book goes on in its new copy.
        QTRY_COMPARE(m_window->reader()->chapterList()->topLevelItemCount(), 5);
        QVERIFY(row()->text(BookshelfPane::updateColumn()).isEmpty());
        m_window->bookMenu()->setBook(book);
        QVERIFY(!m_window->bookMenu()->item(u"Menue_UpdateBook"_s)->isEnabled());
        // Asked again, the server finds the shelf's copy current.
        updates->check(false);
        QVERIFY(checked.wait(20000));
        QCOMPARE(checked.last().first().toInt(), 0);
    }
};

QTEST_MAIN(TestCatalogueEndToEnd)
#include "tst_catalogue_e2e.moc"
