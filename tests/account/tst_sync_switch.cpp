#include "LiveAccount.h"
#include "LiveServer.h"
#include "ScriptedPrompter.h"
#include "GuiSupport.h"
#include "account/AccountSync.h"
#include "account/SyncPanels.h"
#include "catalogue/CatalogueProtocol.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "net/NetworkService.h"
#include "shell/MainWindow.h"
#include "startup/ServerInfoCheck.h"
#include "startup/Startup.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

using LiveAccount::kWait;

// What reached the server, one "METHOD path" a request, with the action of an account request.
QStringList LoggedRequests(const QString &logFile)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {u"no log"_s};
    static const QRegularExpression line(u" (GET|POST) ([^? ]+)(\\?\\S*action=(\\w+))?"_s);
    QStringList requests;
    for (const QByteArray &text : file.readAll().split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(text));
        if (m.hasMatch())
            requests << m.captured(1) + u' ' + m.captured(2) + (m.captured(4).isEmpty() ? QString() : u' ' + m.captured(4));
    }
    return requests;
}

int RunningReplies()
{
    int running = 0;
    for (const QNetworkReply *reply : NetworkService::manager()->findChildren<QNetworkReply *>())
        running += reply->isRunning() ? 1 : 0;
    return running;
}

} // namespace

// Reading sync as the user's choice, against the real server and the real windows: a login or
// a logout alone starts nothing and start-up asks the server only for its information until
// "开启阅读同步"; switched off, nothing is sent or recorded, and switched on again nothing made
// meanwhile is lost. The books of other computers are ordered, filtered, and leave the list
// once downloaded here.
class TestSyncSwitch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
    LiveServer m_server;

    // One run of the program in a program folder: the start routine, then the main window.
    struct Run
    {
        LibraryDb db;
        AppContext ctx;
        std::unique_ptr<MainWindow> window;
        AccountSync *sync() const { return window->accounts()->sync(); }
    };
    std::unique_ptr<Run> start(const QString &folder, const QString &server)
    {
        auto run = std::make_unique<Run>();
        run->ctx.programFolder = folder;
        run->ctx.db = &run->db;
        run->ctx.config.serverBaseUrl = server;
        int exitCode = 0;
        if (!PrepareStartup(run->ctx, m_prompter, &exitCode) ||
            ContactServerAtStart(run->ctx, m_prompter, [] { return false; }) != StartDecision::GoOn)
            return nullptr;
        run->window = std::make_unique<MainWindow>(run->ctx, m_prompter);
        run->window->load();
        return run;
    }
    static bool roundDone(AccountSync *sync)
    {
        return QTest::qWaitFor([sync] { return sync->state() == SyncEngine::State::Idle && sync->engine()->lastSynced().isValid(); },
                               kWait);
    }

    // Books another computer keeps, seen from a computer that has none of them.
    struct RemoteFixture
    {
        QNetworkAccessManager manager;
        AppContext ctxA;
        LibraryDb dbA{u"remote-a"_s}; // beside the program's own library
        std::unique_ptr<AccountWindows> windowsA;
        std::unique_ptr<Run> b;
        RemoteBooksPanel *panel = nullptr;
        QString catalogueId;
    };
    std::unique_ptr<RemoteFixture> m_remote;
    RemoteBooksPanel *remotePanel()
    {
        if (m_remote)
            return m_remote->panel;
        auto f = std::make_unique<RemoteFixture>();
        const QString server = m_server.baseUrl();
        if (!LiveAccount::signUp(server, u"shelfuser"_s))
            return nullptr;
        // The catalogue holds one of A's books.
        const QString import = m_dir.filePath(u"import"_s);
        if (!TestSupport::writeFile(import + u"/阿Q正传.txt"_s, "第一章 优胜记略\n正文\n") ||
            LiveServer::run(TestSupport::binDir(), {u"--data"_s, m_dir.filePath(u"server"_s), u"import"_s, import,
                                                    u"--category"_s, u"其他分类"_s}).exitCode != 0)
            return nullptr;
        RequestSlot search;
        QSignalSpy found(&search, &RequestSlot::finished);
        CatalogueQuery query;
        query.search(u"阿Q正传"_s);
        search.get(SearchUrl(server, query));
        if (!found.wait(kWait))
            return nullptr;
        f->catalogueId = ParseCatalogueAnswer(found[0][0].value<HttpResult>()).entries.value(0).id;

        // A: three books put on the shelf a month apart, then sync switched on.
        f->manager.setCookieJar(new PersistentCookieJar());
        if (!f->dbA.open(m_dir.filePath(u"RA/Data.db"_s)))
            return nullptr;
        const struct
        {
            const char *name, *author, *type;
            int month;
        } books[] = {{"茶馆", "老舍", "历史军事", 1}, {"阿Q正传", "鲁迅", "其他分类", 2}, {"边城", "沈从文", "纪实文学", 3}};
        for (const auto &book : books) {
            const QString path = m_dir.filePath(u"RA/"_s + QString::fromUtf8(book.name) + u".txt"_s);
            const QDateTime when(QDate(2024, book.month, 1), QTime(9, 0));
            f->dbA.setClock([when] { return when; });
            const qint64 id = TestSupport::writeFile(path, "A's copy of " + QByteArray(book.name))
                                  ? f->dbA.insertBook(QString::fromUtf8(book.type), QString::fromUtf8(book.name),
                                                      QString::fromUtf8(book.author), path)
                                  : 0;
            if (id <= 0 || (book.month == 2 && !RememberCatalogueOrigin(f->dbA, id, f->catalogueId, {}, {})))
                return nullptr;
        }
        f->ctxA.db = &f->dbA;
        f->ctxA.config.serverBaseUrl = server;
        f->windowsA = std::make_unique<AccountWindows>(f->ctxA, m_prompter, nullptr, &f->manager);
        if (!LiveAccount::logIn(server, u"shelfuser"_s, &f->manager))
            return nullptr;
        AccountSync *syncA = f->windowsA->sync();
        syncA->accountAnswered(true, u"shelfuser"_s);
        if (!syncA->switchOn() || !roundDone(syncA))
            return nullptr;

        // B: the program, logged in through its window, sync switched on in "同步状态".
        f->b = start(m_dir.filePath(u"RB"_s), server);
        UserCentre *centre = f->b ? LiveAccount::logInThroughWindow(*f->b->window->accounts(), u"shelfuser"_s) : nullptr;
        if (!centre)
            return nullptr;
        centre->selectNode(UserCentre::SyncStatusNode);
        QTest::mouseClick(centre->syncStatus()->switchButton(), Qt::LeftButton);
        if (!roundDone(f->b->sync()))
            return nullptr;
        centre->selectNode(UserCentre::RemoteBooksNode);
        f->panel = centre->remoteBooks();
        m_remote = std::move(f);
        return m_remote->panel;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LiveServer::binary(TestSupport::binDir()).isEmpty())
            QSKIP("folioway-server is not built");
        START(m_server, {u"--data"_s, m_dir.filePath(u"server"_s), u"--no-log"_s});
    }
    void cleanupTestCase()
    {
        // Windows first: they hold requests of the shared manager.
        m_remote.reset();
    }

    // A first run (with a login through the window, and "开启阅读同步"), then a second start of
    // the program, each against the same server with an access log of its own.
    void startUp_asksWhatItsStateNeeds_data()
    {
        QTest::addColumn<bool>("login");
        QTest::addColumn<bool>("switchOn");
        QTest::addColumn<QStringList>("firstRun"); // beside the server information of its start
        QTest::newRow("never logged in") << false << false << QStringList();
        QTest::newRow("logged in, sync never switched on")
            << true << false << QStringList{u"GET /readerserver/userinfo.asp login"_s, u"GET /readerserver/userinfo.asp check"_s};
        QTest::newRow("sync switched on") << true << true << QStringList();
    }
    void startUp_asksWhatItsStateNeeds()
    {
        QFETCH(bool, login);
        QFETCH(bool, switchOn);
        QFETCH(QStringList, firstRun);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_').remove(u',');
        const QString data = m_dir.filePath(tag + u"-server"_s);
        const QString folder = m_dir.filePath(tag + u"-program"_s);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        const auto serve = [&](LiveServer &server, const QString &log) {
            return server.start(TestSupport::binDir(), {u"--data"_s, data, u"--port"_s, port, u"--log"_s, log});
        };
        const QString getinfo = u"GET /readerserver/getinfo.asp"_s;

        LiveServer first;
        QVERIFY2(serve(first, m_dir.filePath(tag + u"-1.log"_s)), qPrintable(first.output()));
        const QString url = first.baseUrl();
        std::unique_ptr<Run> run = start(folder, url);
        QVERIFY(run);
        if (login) {
            QVERIFY(LiveAccount::signUp(url, tag.left(10)));
            UserCentre *centre = LiveAccount::logInThroughWindow(*run->window->accounts(), tag.left(10));
            QVERIFY(centre);
            QCOMPARE(run->sync()->state(), SyncEngine::State::Off);
            QCOMPARE(run->sync()->stateText(), u"未开启"_s);
            QVERIFY(run->window->syncIndicator()->isHidden());
            if (switchOn) {
                centre->selectNode(UserCentre::SyncStatusNode);
                QPushButton *button = centre->syncStatus()->switchButton();
                QCOMPARE(button->text(), u"开启阅读同步"_s);
                QTest::mouseClick(button, Qt::LeftButton);
                QVERIFY(roundDone(run->sync()));
                QCOMPARE(button->text(), u"关闭阅读同步"_s);
                QCOMPARE(run->window->syncIndicator()->text(), u"已同步"_s);
                // Beside the sync, the room the account's private copies take, asked when shown.
                QTRY_COMPARE_WITH_TIMEOUT(centre->syncStatus()->privateCopiesLabel()->text(),
                                          u"0 本，已用 0 KB，上限 1024 MB"_s, kWait);
            }
        }
        QCOMPARE(RunningReplies(), 0);
        run.reset();
        QVERIFY(first.stop() == 0);
        QStringList logged = LoggedRequests(m_dir.filePath(tag + u"-1.log"_s));
        QCOMPARE(logged.value(0), getinfo);
        logged.removeFirst();
        logged.removeAll(u"POST /readerserver/userinfo.asp"_s); // the registration
        logged.removeAll(u"GET /folioway/private/v1/list"_s); // 同步状态 shows the room private copies take
        if (switchOn) {
            QVERIFY(logged.size() > 2);
            QVERIFY(std::all_of(logged.begin() + 2, logged.end(), [](const QString &r) { return r.contains(u"/sync/"_s); }));
            logged = logged.mid(0, 2);
            firstRun = {u"GET /readerserver/userinfo.asp login"_s, u"GET /readerserver/userinfo.asp check"_s};
        }
        QCOMPARE(logged, firstRun);

        // The next start: the server's information alone, unless sync is on, which checks the
        // login quietly and syncs.
        LiveServer second;
        QVERIFY2(serve(second, m_dir.filePath(tag + u"-2.log"_s)), qPrintable(second.output()));
        run = start(folder, url);
        QVERIFY(run);
        QCOMPARE(run->sync()->isSwitchedOn(), switchOn);
        if (switchOn)
            QVERIFY(roundDone(run->sync()));
        QCOMPARE(RunningReplies(), 0);
        run.reset();
        QVERIFY(second.stop() == 0);
        logged = LoggedRequests(m_dir.filePath(tag + u"-2.log"_s));
        QCOMPARE(logged.value(0), getinfo);
        if (!switchOn) {
            QCOMPARE(logged, QStringList{getinfo});
            return;
        }
        QCOMPARE(logged.value(1), u"GET /readerserver/userinfo.asp check"_s);
        QVERIFY(logged.size() > 2 && logged.last().contains(u"/sync/"_s));
    }

    // Switched off, sync sends nothing; switched on again, what was changed meanwhile still
    // reaches the other computer, newer than what it had.
    void switchedOffThenOn_losesNothing()
    {
        QVERIFY(LiveAccount::signUp(m_server.baseUrl(), u"switchuser"_s));
        struct Computer
        {
            QNetworkAccessManager manager;
            LibraryDb db;
            AppContext ctx;
            std::unique_ptr<AccountWindows> windows;
            QString book;
            explicit Computer(const QString &name) : db(name) {}
        };
        Computer a(u"switch-a"_s), b(u"switch-b"_s);
        for (Computer *c : {&a, &b}) {
            const QString name = c == &a ? u"SA"_s : u"SB"_s;
            c->manager.setCookieJar(new PersistentCookieJar());
            c->book = m_dir.filePath(name + u"/围城.txt"_s);
            QVERIFY(c->db.open(m_dir.filePath(name + u"/Data.db"_s)));
            QVERIFY(TestSupport::writeFile(c->book, ToGb18030(u"第一章 起\r\n正文\r\n第二章 承\r\n正文\r\n"_s)));
            QVERIFY(c->db.insertBook(u"都市言情"_s, u"围城"_s, u"钱钟书"_s, c->book) > 0);
            c->ctx.db = &c->db;
            c->ctx.config.serverBaseUrl = m_server.baseUrl();
            c->windows = std::make_unique<AccountWindows>(c->ctx, m_prompter, nullptr, &c->manager);
            QVERIFY(LiveAccount::logIn(m_server.baseUrl(), u"switchuser"_s, &c->manager));
            AccountSync *sync = c->windows->sync();
            QVERIFY(!sync->switchOn()); // no login confirmed by the user centre yet
            sync->accountAnswered(true, u"switchuser"_s);
            QVERIFY(sync->switchOn());
            QVERIFY(roundDone(sync));
        }
        AccountSync *syncA = a.windows->sync();
        SyncStatusPanel panel(*syncA);
        QTest::mouseClick(panel.switchButton(), Qt::LeftButton);
        QVERIFY(!syncA->isSwitchedOn());
        QCOMPARE(panel.stateLabel()->text(), u"未开启"_s);
        QVERIFY(!panel.syncButton()->isEnabled());
        QVERIFY(a.db.setBookmark(a.book, u"第二章 承"_s));
        QVERIFY(a.db.updateBook(a.db.findByPath(a.book)->id, u"纪实文学"_s, u"围城"_s, u"钱钟书"_s, a.book));
        syncA->syncNow();
        syncA->bookOpened();
        QCOMPARE(syncA->state(), SyncEngine::State::Off);
        QVERIFY(a.manager.findChildren<QNetworkReply *>().isEmpty());

        QTest::mouseClick(panel.switchButton(), Qt::LeftButton);
        QVERIFY(roundDone(syncA));
        QVERIFY(syncA->isSwitchedOn());
        AccountSync *syncB = b.windows->sync();
        syncB->syncNow();
        QVERIFY(roundDone(syncB));
        QVERIFY(QTest::qWaitFor([&] { return b.db.findByPath(b.book)->marke == u"第二章 承"_s; }, kWait));
        QCOMPARE(b.db.findByPath(b.book)->type, u"纪实文学"_s);
        a.windows.reset();
        b.windows.reset();
    }

    // "其他电脑上的书": a header click orders the list by that column (titles and names by
    // pinyin, the time newest first).
    void remoteBooks_orderedByAColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("书名") << int(RemoteBooksPanel::NameColumn) << QStringList{u"阿Q正传"_s, u"边城"_s, u"茶馆"_s};
        QTest::newRow("作者") << int(RemoteBooksPanel::AuthorColumn) << QStringList{u"茶馆"_s, u"阿Q正传"_s, u"边城"_s};
        QTest::newRow("类别") << int(RemoteBooksPanel::TypeColumn) << QStringList{u"边城"_s, u"茶馆"_s, u"阿Q正传"_s};
        QTest::newRow("时间") << int(RemoteBooksPanel::TimeColumn) << QStringList{u"边城"_s, u"阿Q正传"_s, u"茶馆"_s};
    }
    void remoteBooks_orderedByAColumn()
    {
        QFETCH(int, column);
        RemoteBooksPanel *panel = remotePanel();
        QVERIFY(panel);
        QTreeWidget *list = panel->bookList();
        list->sortByColumn(column == 0 ? 1 : 0, Qt::AscendingOrder);
        GuiSupport::clickHeader(list->header(), column);
        QTEST(GuiSupport::columnTexts(list, RemoteBooksPanel::NameColumn), "names");
    }

    // A typed word keeps the books whose title, author or category hold it, in any case.
    void remoteBooks_filteredByAWord_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("author") << u"鲁迅"_s << QStringList{u"阿Q正传"_s};
        QTest::newRow("a letter of a title, any case") << u"q"_s << QStringList{u"阿Q正传"_s};
        QTest::newRow("category") << u"历史"_s << QStringList{u"茶馆"_s};
        QTest::newRow("nothing") << u"红楼"_s << QStringList();
        QTest::newRow("cleared") << QString() << QStringList{u"阿Q正传"_s, u"边城"_s, u"茶馆"_s};
    }
    void remoteBooks_filteredByAWord()
    {
        QFETCH(QString, word);
        RemoteBooksPanel *panel = remotePanel();
        QVERIFY(panel);
        panel->bookList()->sortByColumn(RemoteBooksPanel::NameColumn, Qt::AscendingOrder);
        panel->filterBox()->clear();
        panel->filterBox()->insert(word); // as typed, an input method's text at once
        QStringList visible;
        for (int i = 0; i < panel->bookList()->topLevelItemCount(); ++i)
            if (!panel->bookList()->topLevelItem(i)->isHidden())
                visible << panel->bookList()->topLevelItem(i)->text(RemoteBooksPanel::NameColumn);
        QTEST(visible, "shown");
    }

    // "下载" fetches the book through the download list; once it is on the shelf here, it is
    // gone from the list, before any round.
    void remoteBooks_downloadedBookLeavesTheList()
    {
        RemoteBooksPanel *panel = remotePanel();
        QVERIFY(panel);
        panel->filterBox()->clear();
        QTreeWidget *list = panel->bookList();
        const QList<QTreeWidgetItem *> found = list->findItems(u"阿Q正传"_s, Qt::MatchExactly, RemoteBooksPanel::NameColumn);
        QCOMPARE(found.size(), 1);
        list->setCurrentItem(found[0]);
        QSignalSpy rounds(m_remote->b->sync()->engine(), &SyncEngine::finished);
        QTest::mouseClick(panel->downloadButton(), Qt::LeftButton);
        LibraryDb &db = m_remote->b->db;
        QVERIFY(QTest::qWaitFor([&] { return db.findByName(u"阿Q正传"_s).has_value(); }, kWait));
        QTRY_COMPARE_WITH_TIMEOUT(GuiSupport::columnTexts(list, RemoteBooksPanel::NameColumn).size(), 2, kWait);
        QVERIFY(!GuiSupport::columnTexts(list, RemoteBooksPanel::NameColumn).contains(u"阿Q正传"_s));
        QVERIFY(rounds.isEmpty());
    }
};

QTEST_MAIN(TestSyncSwitch)
#include "tst_sync_switch.moc"
