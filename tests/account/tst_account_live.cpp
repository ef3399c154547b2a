#include "LiveAccount.h"
#include "LiveServer.h"
#include "PgCluster.h"
#include "ScriptedPrompter.h"
#include "account/AccountSync.h"
#include "account/AccountWidgets.h"
#include "account/PrivateCopyUpload.h"
#include "account/ProfileForms.h"
#include "account/RegistrationWindow.h"
#include "account/SyncPanels.h"
#include "account/UploadPanel.h"
#include "account/UserBooksList.h"
#include "catalogue/DownloadQueue.h"
#include "catalogue/LocalImport.h"
#include "library/BookFingerprint.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "library/SyncEngine.h"
#include "net/NetworkService.h"
#include "shell/CatalogueUpdates.h"
#include "shell/MainWindow.h"
#include "startup/AppContext.h"
#include "text/Chapters.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QTcpSocket>
#include <QToolButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

using LiveAccount::kWait;

// One computer of a reader: its own program folder, library, cookies and sync.
struct Computer
{
    QNetworkAccessManager manager;
    LibraryDb db;
    SyncEngine engine;
    QString dbPath;
    QString book;

    Computer(const QString &dataFile, const QString &bookPath)
        : db(dataFile), engine(db, nullptr, &manager), dbPath(dataFile), book(bookPath)
    {
        manager.setCookieJar(new PersistentCookieJar());
    }
    bool login(const QString &server, const QString &name) { return LiveAccount::logIn(server, name, &manager); }
    // One whole round, started now or after the one running.
    bool round()
    {
        QSignalSpy done(&engine, &SyncEngine::finished);
        engine.syncNow();
        while (done.wait(kWait)) {
            if (engine.state() != SyncEngine::State::Busy)
                return done.last()[0].toBool();
        }
        return false;
    }
    BookRecord row() const { return db.findByPath(book).value_or(BookRecord{}); }
    QStringList notes()
    {
        QStringList all;
        for (const BookmarkEntry &e : db.bookmarks().list(book))
            all << e.note;
        return all;
    }
};

// Stands between the computers and the server under one address, a server connection per
// request, so the server may come back on another port. While onPush is set, a push reaches
// the server and is answered there, then onPush runs and the computer gets no answer at all.
class Relay : public QObject
{
public:
    quint16 target = 0;
    std::function<void()> onPush;
    // Answers to the requests it accepts wait for release().
    std::function<bool(const QByteArray &request)> hold;
    // Each sync request answered, as "pull 3" or "push 2": its kind and the items in the answer.
    QStringList seen;

    Relay()
    {
        m_listener.listen(QHostAddress::LocalHost);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_listener.nextPendingConnection()) {
                client->setParent(this);
                connect(client, &QTcpSocket::readyRead, this, [this, client] { forward(client); });
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
    }
    QString baseUrl() const { return u"http://127.0.0.1:%1"_s.arg(m_listener.serverPort()); }
    qsizetype held() const { return m_held.size(); }
    void release()
    {
        for (const auto &[client, answer] : std::exchange(m_held, {}))
            if (client)
                client->write(answer);
    }

private:
    // The size of the first whole message in `data`; 0 while it is incomplete.
    static qsizetype whole(const QByteArray &data)
    {
        static const QRegularExpression length(u"(?im)^content-length:\\s*(\\d+)"_s);
        const qsizetype end = data.indexOf("\r\n\r\n");
        const qsizetype size = end + 4 + length.match(QString::fromLatin1(data.left(end))).captured(1).toLongLong();
        return end >= 0 && data.size() >= size ? size : 0;
    }
    void forward(QTcpSocket *client)
    {
        QByteArray &buffer = m_buffers[client];
        buffer += client->readAll();
        while (const qsizetype size = whole(buffer)) {
            const QByteArray request = buffer.left(size);
            buffer.remove(0, size);
            QTcpSocket server;
            server.connectToHost(QHostAddress::LocalHost, target);
            QByteArray answer;
            if (server.waitForConnected(kWait) && server.write(request) == size) {
                while (!whole(answer) && server.waitForReadyRead(kWait))
                    answer += server.readAll();
            }
            const bool dropped = onPush && request.contains("/sync/v1/push");
            if (dropped)
                onPush();
            if (dropped || !whole(answer)) {
                m_buffers.remove(client);
                return client->abort();
            }
            if (const qsizetype at = request.indexOf("/sync/v1/"); at >= 0)
                seen << QString::fromLatin1(request.mid(at + 9, 4)) + u' ' + QString::number(answer.count("<item>"));
            if (hold && hold(request))
                m_held.append({client, answer.left(whole(answer))});
            else
                client->write(answer.left(whole(answer)));
        }
    }

    QTcpServer m_listener;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<std::pair<QPointer<QTcpSocket>, QByteArray>> m_held;
};

} // namespace

// The whole account conversation against the real server: registration, login, profile and
// its edit, a shared shelf book uploaded with a cover, its review, the catalogue, logout, and
// the login kept across a restart through the cookie file in the program folder.
class TestAccountLive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LiveServer m_server;
    QString m_programFolder;
    QString m_dataDir;

    QString runServerCommand(const QStringList &command)
    {
        const LiveServer::Result r =
            LiveServer::run(TestSupport::binDir(), QStringList{u"--data"_s, m_dataDir} + command);
        return r.exitCode == 0 ? r.out : QString();
    }

    // A check through a manager with a jar read from the cookie file, as a new run would do.
    AccountReply checkAfterRestart()
    {
        QNetworkAccessManager manager;
        manager.setCookieJar(new PersistentCookieJar(QDir(m_programFolder).filePath(u"cookies.dat"_s)));
        RequestSlot slot(nullptr, &manager);
        QSignalSpy done(&slot, &RequestSlot::finished);
        slot.get(CheckUrl(m_server.baseUrl()));
        return LiveAccount::answer(done);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LiveServer::binary(TestSupport::binDir()).isEmpty())
            QSKIP("folioway-server is not built");
        m_programFolder = m_dir.filePath(u"program"_s);
        m_dataDir = m_dir.filePath(u"server"_s);
        QVERIFY(QDir().mkpath(m_programFolder));
        NetworkService::persistCookiesIn(m_programFolder);
        START(m_server, {u"--data"_s, m_dataDir});
    }

    void registerLoginEditUploadAndLogout()
    {
        const QString name = u"书友_01"_s;
        const QString password = u"pass&word#1"_s;

        LibraryDb db(u"account-live"_s);
        QVERIFY(db.open(m_dir.filePath(u"program/DataFile/Data.db"_s)));
        const QString bookPath = m_dir.filePath(u"书架/江湖夜雨.txt"_s);
        QVERIFY(TestSupport::writeFile(bookPath, ToGb18030(u"第一章 夜雨\r\n江湖夜雨十年灯。\r\n"_s)));
        const qint64 bookId = db.insertBook(u"武侠仙侠"_s, u"江湖夜雨"_s, u"无名氏"_s, bookPath);
        QVERIFY(bookId > 0);
        const QString coverPath = m_dir.filePath(u"封面.jpg"_s);
        QImage cover(60, 80, QImage::Format_RGB32);
        cover.fill(QColor(30, 90, 160));
        QVERIFY(cover.save(coverPath, "JPG"));

        AppContext ctx;
        ctx.programFolder = m_programFolder;
        ctx.db = &db;
        ctx.config.serverBaseUrl = m_server.baseUrl();
        ScriptedPrompter prompter;
        AccountWindows windows(ctx, prompter);

        // Registration, reached from the login window.
        QTest::mouseClick(windows.showLogin()->registerLink(), Qt::LeftButton);
        RegistrationWindow *reg = windows.registrationWindow();
        QVERIFY(reg);
        reg->nameBox()->setText(name);
        QTest::keyClicks(reg->passwordBox(), password);
        QTest::keyClicks(reg->repeatBox(), password);
        QTest::keyClicks(reg->emailBox(), u"reader@example.cn"_s);
        reg->femaleOption()->setChecked(true);
        reg->answerBox()->setText(u"小白"_s);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!windows.registrationWindow(), kWait);
        QCOMPARE(prompter.last().title, u"欢迎注册"_s);
        QVERIFY(windows.loginWindow());

        // A wrong password is refused and leaves the window for another try.
        LiveAccount::submitLogin(windows, name, u"wrong"_s);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.last().title, u"请先登录"_s, kWait);
        QVERIFY(windows.loginWindow());

        QVERIFY(LiveAccount::logInThroughWindow(windows, name, password));
        QCOMPARE(prompter.last().title, u"欢迎登录"_s);
        QVERIFY(!windows.loginWindow());
        UserCentre *centre = windows.userCentre();
        QCOMPARE(centre->userInfo()->userNameLabel()->text(), name);
        QCOMPARE((QStringList{centre->profile().usermail, centre->profile().sex, centre->profile().question}),
                 (QStringList{"reader@example.cn", "女", "你初中是在哪个学校读的?"}));

        // Profile edit: the unencoded sex must reach the server as the Chinese text.
        centre->selectNode(UserCentre::EditProfileNode);
        QCOMPARE(centre->profileEdit()->emailBox()->text(), u"reader@example.cn"_s);
        centre->profileEdit()->qqBox()->setText(u"908172"_s);
        centre->profileEdit()->maleOption()->setChecked(true);
        prompter.clear();
        QTest::mouseClick(centre->profileEdit()->saveButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.last().title, u"修改成功"_s, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(centre->profile().qq, u"908172"_s, kWait);
        QCOMPARE(centre->profile().sex, u"男"_s);
        QVERIFY(centre->profileEdit()->maleOption()->isChecked());

        // The login survives a restart: a new jar from the program folder still holds it.
        const AccountReply restarted = checkAfterRestart();
        QCOMPARE(restarted.code + restarted.profile.uname, u"1"_s + name);

        // Share the shelf book into the open user centre and upload it with a cover.
        QVERIFY(windows.shareShelfBook(bookId));
        QCOMPARE(windows.userCentre(), centre);
        UploadPanel *upload = centre->uploadPanel();
        QCOMPARE(upload->categoryBox()->currentText(), u"武侠仙侠"_s);
        upload->statusList()->setCurrentIndex(0);
        upload->newestChapterBox()->setText(u"第一章 夜雨"_s);
        prompter.fileNames.enqueue(coverPath);
        QTest::mouseClick(upload->coverButton(), Qt::LeftButton);
        QCOMPARE(upload->coverPath(), coverPath);

        // A book over the server's limit is refused with a message, and the form stays filled.
        const QString hugePath = m_dir.filePath(u"巨大.txt"_s);
        QVERIFY(TestSupport::writeFile(hugePath, QByteArray(65 * 1024 * 1024, 'a')));
        upload->pathBox()->setText(hugePath);
        prompter.clear();
        QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.last().title, u"上传失败"_s, kWait);
        QVERIFY2(prompter.lastText().startsWith(u"上传的文件太大"_s), qPrintable(prompter.lastText()));
        QFile::remove(hugePath);
        upload->pathBox()->setText(bookPath);
        QPointer<UserCentre> guard = centre;
        QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWait);
        QCOMPARE(prompter.last().title, u"上传成功"_s);

        // Pending in the list of uploaded books.
        centre = windows.openUserInfo();
        QTRY_VERIFY_WITH_TIMEOUT(!centre->profile().uname.isEmpty(), kWait);
        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE_WITH_TIMEOUT(centre->booksList()->bookList()->topLevelItemCount(), 1, kWait);
        QTreeWidgetItem *row = centre->booksList()->bookList()->topLevelItem(0);
        QCOMPARE(row->text(2), u"江湖夜雨"_s);
        QCOMPARE(row->text(5), u"待审核"_s);

        // Approved by the server's operator (its catalogue listing and download: tst_server_live),
        // the book is marked reviewed.
        const QString pending = runServerCommand({u"pending"_s});
        const QStringList lines = pending.split(u'\n').filter(u"江湖夜雨"_s);
        QVERIFY2(lines.size() == 1, qPrintable(pending));
        const QString uploadedId = lines[0].section(u'\t', 0, 0);
        QVERIFY(!runServerCommand({u"approve"_s, uploadedId}).isEmpty());
        const QString storedCover = m_dataDir + u"/books/%1/cover.jpg"_s.arg(uploadedId);
        QCOMPARE(TestSupport::readFile(storedCover), TestSupport::readFile(coverPath));

        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE_WITH_TIMEOUT(centre->booksList()->bookList()->topLevelItem(0)->text(5), u"已审核"_s, kWait);
        QCOMPARE(centre->booksList()->bookList()->topLevelItem(0)->foreground(5).color(), QColor(0, 128, 0));

        // Logout closes the user centre without offering the login window.
        guard = centre;
        centre->selectNode(UserCentre::LogoutNode);
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWait);
        QCOMPARE(prompter.lastText(), LogoutMessage());
        QVERIFY(!windows.loginWindow());
        QCOMPARE(checkAfterRestart().code, u"0"_s);

        // Without "记住登录" the login lasts only as long as this run.
        QVERIFY(LiveAccount::logInThroughWindow(windows, name, password, false));
        QCOMPARE(checkAfterRestart().code, u"0"_s);
    }

    // A server whose password queue is full answers without a code: the windows show its word
    // and nobody is logged out. The busy server shares the catalogue, and the cookie, of the first.
    void busyServer_keepsTheUserLoggedIn()
    {
        LiveServer busy;
        START(busy, {u"--data"_s, m_dataDir, u"--hash-queue"_s, u"0"_s, u"--no-log"_s});
        QVERIFY(LiveAccount::signUp(m_server.baseUrl(), u"busyuser"_s));
        QVERIFY(LiveAccount::logIn(m_server.baseUrl(), u"busyuser"_s));

        AppContext ctx;
        ctx.programFolder = m_programFolder;
        ctx.config.serverBaseUrl = busy.baseUrl();
        ScriptedPrompter prompter;
        AccountWindows windows(ctx, prompter);
        UserCentre *centre = windows.openUserInfo();
        QTRY_COMPARE_WITH_TIMEOUT(centre->profile().uname, u"busyuser"_s, kWait);
        centre->selectNode(UserCentre::EditProfileNode);
        QTest::mouseClick(centre->profileEdit()->saveButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.lastText(), u"服务器正忙，请稍后再试！"_s, kWait);
        QCOMPARE(windows.userCentre(), centre);
        QVERIFY(!windows.loginWindow());

        prompter.clear();
        LiveAccount::submitLogin(windows, u"busyuser"_s, u"secret1"_s, false);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.lastText(), u"服务器正忙，请稍后再试！"_s, kWait);
        QVERIFY(windows.loginWindow() && windows.loginWindow()->loginButton()->isEnabled());
    }
    // "放到我的服务器" on several shelf rows: offered once signed in, the files go to the real
    // server for this account, the room they take is read back, and a book whose file is gone is
    // named in one message at the end.
    void bookMenuPutsPrivateCopies()
    {
        for (const QNetworkCookie &c : NetworkService::cookieJar()->allStoredCookies())
            NetworkService::cookieJar()->deleteCookie(c);
        LibraryDb db(u"private-copies"_s);
        QVERIFY(db.open(m_dir.filePath(u"private/Data.db"_s)));
        QList<BookRecord> books;
        for (const QString &name : {u"夜航"_s, u"晨钟"_s, u"不在了"_s}) {
            const QString path = m_dir.filePath(u"private/"_s + name + u".txt"_s);
            if (name != u"不在了")
                QVERIFY(TestSupport::writeFile(path, ToGb18030(u"第一章 "_s + name + u"\r\n正文。\r\n"_s)));
            books << db.findById(db.insertBook(u"其他分类"_s, name, u"某人"_s, path)).value_or(BookRecord{});
        }
        AppContext ctx;
        ctx.programFolder = m_programFolder;
        ctx.db = &db;
        // The count asked for after the first copy is answered only once both are stored.
        Relay relay;
        relay.target = m_server.port();
        relay.hold = [held = false](const QByteArray &request) mutable {
            return request.contains("/private/v1/list") && !std::exchange(held, true);
        };
        ctx.config.serverBaseUrl = relay.baseUrl();
        ScriptedPrompter prompter;
        MainWindow window(ctx, prompter);
        QAction *item = window.bookMenu()->item(u"Menue_PrivateCopy"_s);
        Q_EMIT window.shelf()->bookMenuRequested(books[0], {});
        QVERIFY(!item->isEnabled());
        window.bookMenu()->hide();

        QVERIFY(LiveAccount::signUp(m_server.baseUrl(), u"privateuser"_s));
        QVERIFY(LiveAccount::logIn(m_server.baseUrl(), u"privateuser"_s));
        Q_EMIT window.shelf()->bookMenuRequested(books[0], {});
        QVERIFY(item->isEnabled());
        window.bookMenu()->setSelection(books);
        PrivateCopyUpload *copies = window.accounts()->sync()->privateCopies();
        QSignalSpy finished(copies, &PrivateCopyUpload::finished);
        QSignalSpy usage(copies, &PrivateCopyUpload::usageChanged);
        item->trigger();
        QVERIFY(finished.wait(kWait));
        QCOMPARE(finished[0][0].toInt(), 2);
        QCOMPARE(prompter.shown.size(), 1);
        QVERIFY(prompter.lastText().contains(u"《不在了》"_s));
        QCOMPARE(window.privateCopyIndicator()->text(), u"已放到我的服务器：2 本"_s);
        QTRY_COMPARE_WITH_TIMEOUT(relay.held(), 1, kWait);
        relay.release();
        while (copies->count() < 2)
            QVERIFY(usage.wait(kWait));
        QCOMPARE(copies->used(), QFileInfo(books[0].path).size() + QFileInfo(books[1].path).size());
        QCOMPARE(copies->quota(), 1024ll << 20);
    }

    void syncThroughAccount_threeComputers_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    // Three computers of one reader through the real server: the place read on one is offered on
    // the other, bookmarks, list entries and shelf edits travel both ways, changes made while
    // the server cannot be reached wait and the newest wins, a server that dies with a push kept
    // but unanswered or comes back from an older copy loses nothing; a third computer's books,
    // imported or downloaded after its first round, take the account's items without changing
    // anyone's, an updated book stays one book, and a removal travels.
    void syncThroughAccount_threeComputers()
    {
        QFETCH(bool, postgres);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QStringList arguments{u"--data"_s, m_dir.filePath(tag + u"-server"_s), u"--no-log"_s};
        PgCluster pg;
        QString error, database;
        if (postgres) {
            if (PgCluster::programs().isEmpty() || !QSqlDatabase::isDriverAvailable(u"QPSQL"_s))
                QSKIP("PostgreSQL or Qt's QPSQL driver is not installed");
            database = pg.create(&error) ? pg.createDatabase(u"sync"_s, &error) : QString();
            QVERIFY2(!database.isEmpty(), qPrintable(error));
            arguments << u"--database"_s << database;
        }
        Relay relay;
        std::unique_ptr<LiveServer> server;
        const auto serve = [&] {
            server = std::make_unique<LiveServer>();
            relay.target = server->start(TestSupport::binDir(), arguments) ? server->port() : 0;
            return relay.target != 0;
        };
        QVERIFY(serve());
        const QString url = relay.baseUrl();
        QVERIFY(LiveAccount::signUp(url, u"syncuser"_s));
        const QByteArray text = ToGb18030(u"第一回 起\r\n正文。\r\n第十二回 大闹\r\n正文。\r\n"_s);
        Computer a(m_dir.filePath(tag + u"/A/Data.db"_s), m_dir.filePath(tag + u"/A/书/红楼.txt"_s));
        Computer b(m_dir.filePath(tag + u"/B/Data.db"_s), m_dir.filePath(tag + u"/B/别处/红楼梦.txt"_s));
        for (Computer *c : {&a, &b}) {
            QVERIFY(TestSupport::writeFile(c->book, text) && c->db.open(c->dbPath));
            QVERIFY(c->db.insertBook(u"其他分类"_s, u"红楼"_s, u"曹雪芹"_s, c->book) > 0);
            QVERIFY(c->login(url, u"syncuser"_s));
            c->engine.start(url, u"syncuser"_s);
            QVERIFY2(c->round(), qPrintable(c->engine.lastError()));
        }

        a.db.saveReadingPosition({a.book, 2, u"第十二回 大闹"_s, 0.5, 3, 4, {}});
        QVERIFY(a.round() && b.round());
        const auto offered = b.db.sync().remotePositionAhead(b.book);
        QVERIFY(offered && !b.db.readingPosition(b.book));
        QCOMPARE(offered->chapterTitle, u"第十二回 大闹"_s);
        QCOMPARE(offered->progressPercent(), 75);

        QVERIFY(b.db.setBookmark(b.book, u"第一回 起"_s));
        QVERIFY(a.db.updateBook(a.row().id, u"历史军事"_s, u"红楼"_s, u"曹雪芹"_s, a.book));
        BookmarkEntry kept{.book = b.book, .chapter = 2, .note = u"伏笔"_s}, gone{.book = b.book, .note = u"删"_s};
        QVERIFY(b.db.bookmarks().add(kept) && b.db.bookmarks().add(gone));
        QVERIFY(b.round() && a.round() && b.round());
        QCOMPARE(a.row().marke, u"第一回 起"_s);
        QCOMPARE(b.row().type, u"历史军事"_s);
        QCOMPARE(a.notes(), (QStringList{u"伏笔"_s, u"删"_s}));

        // The connection drops once the server kept A's push, then the server dies likewise:
        // nothing is settled, the push goes again after the restart, and B takes each change once.
        QVERIFY(a.db.bookmarks().setNote(a.book, kept.id, u"伏笔，后文呼应"_s) && a.db.bookmarks().remove(a.book, gone.id));
        relay.onPush = [] {};
        QVERIFY(!a.round());
        relay.onPush = [&] { server->kill(); };
        QVERIFY(!a.round());
        QCOMPARE(a.db.sync().pendingItems(10).size(), 2);
        relay.onPush = nullptr;
        QVERIFY(serve() && a.round() && b.round());
        QCOMPARE(b.notes(), QStringList{u"伏笔，后文呼应"_s});

        // The server's data back from a copy older than what B has seen: numbers come again
        // below B's cursor, and B fetches everything anew.
        const QString copy = m_dir.filePath(tag + u"-copy"_s);
        const auto dumped = [&] {
            return postgres ? TestSupport::runProgram(PgCluster::programs() + u"/pg_dump"_s, {u"-Fc"_s, u"-f"_s, copy, database})
                            : TestSupport::runProgram(LiveServer::binary(TestSupport::binDir()), {arguments[0], arguments[1], u"backup"_s, copy});
        };
        QCOMPARE(dumped().exitCode, 0);
        QVERIFY(a.db.setBookmark(a.book, u"第十二回 大闹"_s) && a.db.updateBook(a.row().id, u"武侠仙侠"_s, u"红楼"_s, u"曹雪芹"_s, a.book));
        QVERIFY(a.round() && b.round() && server->stop() == 0);
        if (postgres) {
            arguments.last() = pg.createDatabase(u"restored"_s, &error);
            QCOMPARE(TestSupport::runProgram(PgCluster::programs() + u"/pg_restore"_s, {u"--no-owner"_s, u"-d"_s, arguments.last(), copy}).exitCode, 0);
        } else {
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(arguments[1] + u"/catalogue.db"_s + QLatin1String(suffix));
            QVERIFY(QFile::copy(copy + u"/catalogue.db"_s, arguments[1] + u"/catalogue.db"_s));
        }
        QVERIFY(serve());
        QVERIFY(a.db.updateBook(a.row().id, u"都市言情"_s, u"红楼"_s, u"曹雪芹"_s, a.book) && a.round() && b.round());
        QCOMPARE(b.row().type, u"都市言情"_s);

        // Both away from the server; B's change is the later one.
        for (Computer *c : {&a, &b}) {
            c->engine.start(u"http://127.0.0.1:1"_s, u"syncuser"_s);
            QVERIFY(!c->round() && !c->engine.lastError().isEmpty());
        }
        QVERIFY(a.db.updateBook(a.row().id, u"武侠仙侠"_s, u"红楼"_s, u"曹雪芹"_s, a.book));
        const qint64 aChanged = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY(QDateTime::currentMSecsSinceEpoch() > aChanged + 1);
        QVERIFY(b.db.updateBook(b.row().id, u"玄幻修真"_s, u"红楼"_s, u"曹雪芹"_s, b.book));
        for (Computer *c : {&b, &a, &b}) {
            c->engine.start(url, u"syncuser"_s);
            QVERIFY2(c->round(), qPrintable(c->engine.lastError()));
        }
        QCOMPARE(a.row().type, u"玄幻修真"_s);
        QCOMPARE(b.row().type, u"玄幻修真"_s);

        // C joins after all that, with an empty shelf: A's second book comes in a batch import
        // and takes the account's category, not the one the import guessed.
        const QString other = m_dir.filePath(tag + u"/A/西游.txt"_s);
        QVERIFY(TestSupport::writeFile(other, ToGb18030(u"第一回 灵根\r\n正文。\r\n"_s)));
        QVERIFY(a.db.insertBook(u"武侠仙侠"_s, u"西游记"_s, u"吴承恩"_s, other) > 0);
        QVERIFY(a.db.setBookmark(a.book, u"第一回 起"_s));
        // What A sends is never fetched back by A.
        relay.seen.clear();
        QVERIFY(a.round() && a.round());
        QCOMPARE(relay.seen.size(), 3);
        QVERIFY2(relay.seen[0].startsWith(u"pull"_s) && relay.seen[1].startsWith(u"push"_s) && relay.seen[2] == u"pull 0"_s,
                 qPrintable(relay.seen.join(u", "_s)));
        Computer c(m_dir.filePath(tag + u"/C/Data.db"_s), m_dir.filePath(tag + u"/C/下载/红楼.txt"_s));
        QVERIFY(c.db.open(c.dbPath) && c.login(url, u"syncuser"_s));
        c.engine.start(url, u"syncuser"_s);
        QVERIFY2(c.round(), qPrintable(c.engine.lastError()));
        QCOMPARE(c.db.sync().remoteOnlyBooks().size(), 2);
        const QString imported = m_dir.filePath(tag + u"/C/导入/西游.txt"_s);
        QVERIFY(QDir().mkpath(QFileInfo(imported).path()) && QFile::copy(other, imported));
        const QList<LocalImportItem> batch = CollectLocalBooks(c.db, {QFileInfo(imported).path()}, m_dir.filePath(tag + u"/C/下载"_s));
        QCOMPARE(batch.size(), 1);
        QVERIFY(ImportLocalBook(c.db, batch[0], m_dir.filePath(tag + u"/C/下载"_s)).bookId > 0);
        QCOMPARE(c.db.findByPath(imported).value_or(BookRecord{}).type, u"武侠仙侠"_s);

        // B updates the book: one book with all its items on every computer, A still holding the
        // old copy and C downloading the new one (through 其他电脑上的书, as the catalogue names it).
        const QString newer = m_dir.filePath(tag + u"-newer.txt"_s);
        QVERIFY(TestSupport::writeFile(newer, text + ToGb18030(u"第十三回 新章\r\n正文。\r\n"_s)));
        QVERIFY(CatalogueUpdates::ReplaceBookText(b.db, b.book, newer, &error) > 0);
        QVERIFY(b.round() && a.round() && c.round());
        QVERIFY(a.db.sync().remoteOnlyBooks().isEmpty());
        QCOMPARE(b.db.sync().remoteOnlyBooks().value(0).name + b.db.sync().remoteOnlyBooks().value(1).name, u"西游记"_s);
        const QList<RemoteBook> elsewhere = c.db.sync().remoteOnlyBooks();
        QCOMPARE(elsewhere.size(), 1);
        QCOMPARE(elsewhere[0].fingerprint, BookFingerprint(b.book));
        QVERIFY(QDir().mkpath(QFileInfo(c.book).path()) && QFile::copy(newer, c.book));
        QVERIFY(c.db.insertBook(u"都市言情"_s, elsewhere[0].name, elsewhere[0].author, c.book) > 0);
        QCOMPARE((QStringList{c.row().type, c.row().marke}), (QStringList{u"玄幻修真"_s, u"第一回 起"_s}));
        QCOMPARE(c.notes(), QStringList{u"伏笔，后文呼应"_s});
        QCOMPARE(c.db.readingPosition(c.book).value_or(ReadingPosition{}).chapterTitle, u"第十二回 大闹"_s);
        QVERIFY(c.db.sync().remoteOnlyBooks().isEmpty());
        // The download changed nobody's category; a later edit on the old copy reaches the new ones.
        QVERIFY(c.round() && a.round() && b.round());
        QCOMPARE((QStringList{a.row().type, b.row().type}), (QStringList{u"玄幻修真"_s, u"玄幻修真"_s}));
        QVERIFY(a.db.bookmarks().setNote(a.book, kept.id, u"伏笔三"_s) && a.round() && b.round() && c.round());
        QCOMPARE(b.notes() + c.notes(), (QStringList{u"伏笔三"_s, u"伏笔三"_s}));

        QVERIFY(a.db.deleteBook(a.row().id));
        QVERIFY(a.round() && b.round() && c.round());
        QVERIFY(!b.db.findByPath(b.book) && !c.db.findByPath(c.book));
        QCOMPARE(b.db.sync().remoteOnlyBooks().size(), 1); // A's other book, 西游记
        QVERIFY(c.db.sync().remoteOnlyBooks().isEmpty());
    }

    // The sync as the program runs it. A: nothing is asked before a login, nor after it until
    // "开启阅读同步"; a book left sends its place. B, where sync was on before: its quiet check at
    // start fails while the server is away and is tried again at the next moment to sync; then
    // A's place and A's other book arrive, and "立即同步" runs a round. A's logout stops A.
    void syncThroughTheAccountWindows()
    {
        QVERIFY(LiveAccount::signUp(m_server.baseUrl(), u"wireduser"_s));
        const QByteArray text = ToGb18030(u"第一回 起\r\n正文。\r\n第二回 承\r\n正文。\r\n"_s);
        Computer a(m_dir.filePath(u"WA/Data.db"_s), m_dir.filePath(u"WA/西游.txt"_s));
        Computer b(m_dir.filePath(u"WB/Data.db"_s), m_dir.filePath(u"WB/西游记.txt"_s));
        for (Computer *c : {&a, &b}) {
            QVERIFY(TestSupport::writeFile(c->book, text) && c->db.open(c->dbPath));
            QVERIFY(c->db.insertBook(u"其他分类"_s, u"西游"_s, u"吴承恩"_s, c->book) > 0);
        }
        // A catalogue book A keeps and B does not.
        QVERIFY(TestSupport::writeFile(m_dir.filePath(u"import/远方.txt"_s), "第一章 起\n正文\n"));
        QVERIFY(!runServerCommand({u"import"_s, m_dir.filePath(u"import"_s), u"--category"_s, u"武侠仙侠"_s}).isEmpty());
        RequestSlot search;
        QSignalSpy found(&search, &RequestSlot::finished);
        CatalogueQuery query;
        query.search(u"远方"_s);
        search.get(SearchUrl(m_server.baseUrl(), query));
        QVERIFY(found.wait(kWait));
        const QString id = ParseCatalogueAnswer(found.last()[0].value<HttpResult>()).entries.value(0).id;
        QVERIFY(TestSupport::writeFile(a.book + u"2"_s, "only A"));
        QVERIFY(RememberCatalogueOrigin(a.db, a.db.insertBook(u"历史军事"_s, u"远方的书"_s, u"某"_s, a.book + u"2"_s), id,
                                        {}, {}));
        QVERIFY(b.login(m_server.baseUrl(), u"wireduser"_s));
        b.engine.start(m_server.baseUrl(), u"wireduser"_s); // the run before
        QVERIFY(b.round());
        b.engine.stop();

        ScriptedPrompter prompter;
        AppContext ctxA;
        ctxA.db = &a.db;
        ctxA.config.serverBaseUrl = m_server.baseUrl();
        AccountWindows windowsA(ctxA, prompter);
        AccountSync *syncA = windowsA.sync();
        syncA->checkAtStart();
        QVERIFY(!syncA->isChecking() && syncA->state() == SyncEngine::State::Off);
        LiveAccount::submitLogin(windowsA, u"wireduser"_s, u"secret1"_s, false);
        QTRY_COMPARE_WITH_TIMEOUT(syncA->account(), u"wireduser"_s, kWait);
        QCOMPARE(syncA->state(), SyncEngine::State::Off);
        windowsA.openSyncStatus();
        QTest::mouseClick(windowsA.userCentre()->syncStatus()->switchButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(syncA->state(), SyncEngine::State::Idle, kWait);
        QSignalSpy roundsA(syncA->engine(), &SyncEngine::finished);
        QVERIFY(a.db.saveReadingPosition({a.book, 2, u"第二回 承"_s, 0.5, 3, 4, {}}));
        syncA->bookClosed();
        QTRY_VERIFY_WITH_TIMEOUT(!roundsA.isEmpty() && syncA->state() == SyncEngine::State::Idle, kWait);

        AppContext ctxB;
        ctxB.db = &b.db;
        ctxB.config.serverBaseUrl = u"http://127.0.0.1:1"_s;
        AccountWindows windowsB(ctxB, prompter, nullptr, &b.manager);
        AccountSync *syncB = windowsB.sync();
        syncB->checkAtStart();
        QTRY_COMPARE_WITH_TIMEOUT(syncB->state(), SyncEngine::State::Failed, kWait);
        ctxB.config.serverBaseUrl = m_server.baseUrl();
        syncB->bookOpened();
        QVERIFY(syncB->readingTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(syncB->engine()->lastSynced().isValid(), kWait);
        QCOMPARE(b.db.sync().remotePositionAhead(b.book).value_or(ReadingPosition{}).chapterTitle, u"第二回 承"_s);
        UserCentre *centreB = windowsB.openUserCentre(UserCentre::RemoteBooksNode);
        RemoteBooksPanel *remote = centreB->remoteBooks();
        QCOMPARE(remote->bookList()->topLevelItemCount(), 1);
        remote->bookList()->setCurrentItem(remote->bookList()->topLevelItem(0));
        QSignalSpy download(syncB, &AccountSync::downloadRequested);
        QTest::mouseClick(remote->downloadButton(), Qt::LeftButton);
        QCOMPARE(download.size(), 1);
        const auto book = download[0][0].value<RemoteBook>();
        QCOMPARE(book.name + book.catalogueId, u"远方的书"_s + id);
        QSignalSpy roundsB(syncB->engine(), &SyncEngine::finished);
        centreB->selectNode(UserCentre::SyncStatusNode);
        QTest::mouseClick(centreB->syncStatus()->syncButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!roundsB.isEmpty(), kWait);
        QCOMPARE(centreB->syncStatus()->stateLabel()->text(), u"已同步"_s);

        // What the shell does with it: the book comes through the download list.
        DownloadQueue queue(&b.db, prompter);
        queue.setDownloadFolder(m_dir.filePath(u"WB/下载"_s));
        CatalogueUpdates updates(ctxB, prompter, &queue);
        updates.downloadById(book.catalogueId, book.type, book.name, book.author);
        QTRY_VERIFY_WITH_TIMEOUT(b.db.findByName(u"远方的书"_s), kWait);
        QCOMPARE(CatalogueOriginOf(b.db, b.db.findByName(u"远方的书"_s)->id)->catalogueId, id);

        windowsA.openUserInfo()->selectNode(UserCentre::LogoutNode);
        QTRY_COMPARE_WITH_TIMEOUT(syncA->state(), SyncEngine::State::Off, kWait);
    }

    void readingWayReachesTheWebReader_data()
    {
        QTest::addColumn<QStringList>("choices"); // made on the desktop one after another, a round after each
        QTest::addColumn<bool>("fallsBack");      // the web list is the default one, with a notice
        QTest::newRow("built-in rule again") << QStringList{u"smart=1"_s, QString()} << false;
        QTest::newRow("smart chapters") << QStringList{u"smart=1"_s} << false;
        QTest::newRow("own rule") << QStringList{u"smart=1"_s, u"rule=%5E%E5%8D%B7"_s} << false;
        QTest::newRow("rule out of steps") << QStringList{u"rule=(a%2B)%2B%24"_s} << true;
    }
    // The way a book is read, chosen on the desktop, reaches the server through the account; the
    // web reader's chapter list is then the desktop's list read that way, and its chapters follow it.
    void readingWayReachesTheWebReader()
    {
        QFETCH(QStringList, choices);
        QFETCH(bool, fallsBack);
        static int row = 0;
        const QString tag = QString::number(++row);
        const QByteArray text = u"长夜\n第一章 起\n他走了。\n第二天他又来了，坐在门口说了很久的话。\n卷二 风\n"
                                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!\n第三章 合\n完。\n"_s.toUtf8();
        const QString imported = m_dir.filePath(u"ways/长夜.txt"_s);
        if (!QFileInfo::exists(imported)) {
            QVERIFY(TestSupport::writeFile(imported, text));
            QVERIFY(!runServerCommand({u"import"_s, QFileInfo(imported).path(), u"--category"_s, u"其他分类"_s}).isEmpty());
        }
        Computer c(m_dir.filePath(u"way%1/Data.db"_s.arg(tag)), m_dir.filePath(u"way%1/夜.txt"_s.arg(tag)));
        QVERIFY(TestSupport::writeFile(c.book, text) && c.db.open(c.dbPath) &&
                c.db.insertBook(u"其他分类"_s, u"长夜"_s, {}, c.book) > 0);
        RequestSlot web(nullptr, &c.manager);
        QSignalSpy answered(&web, &RequestSlot::finished);
        const auto get = [&](const QString &path) {
            web.get(m_server.baseUrl() + u"/read/api/"_s + path);
            return answered.wait(kWait) ? answered.takeLast()[0].value<HttpResult>() : HttpResult{};
        };
        // One reader (sign-ups are throttled), a new computer for each row.
        if (row == 1)
            QVERIFY(LiveAccount::signUp(m_server.baseUrl(), u"wayreader"_s));
        QVERIFY(c.login(m_server.baseUrl(), u"wayreader"_s));
        c.engine.start(m_server.baseUrl(), u"wayreader"_s);
        QVERIFY(c.round());
        for (const QString &choice : choices) {
            QVERIFY(c.db.setOption(u"BookReading:"_s + c.book, choice));
            QVERIFY2(c.round(), qPrintable(c.engine.lastError()));
        }
        const QString id = QString::number(
            QJsonDocument::fromJson(get(u"books?key=长夜"_s).body).object().value(u"books"_s)[0][u"id"_s].toInteger());
        const QJsonObject book = QJsonDocument::fromJson(get(u"book/"_s + id).body).object();
        const ChapterList desktop = OpenBook(c.book, {}, nullptr, BookReading::fromText(fallsBack ? QString() : choices.last()));
        QStringList titles, expected;
        for (const QJsonValue &v : book.value(u"chapters"_s).toArray())
            titles << v[0].toString();
        for (const ChapterEntry &e : desktop.entries)
            expected << e.title;
        QCOMPARE(titles, expected);
        QCOMPARE(book.value(u"notice"_s).toString().contains(u"规则匹配太慢"_s), fallsBack);
        const QString rule = book.value(u"rule"_s).toString();
        QCOMPARE(rule.isEmpty(), fallsBack || choices.last().isEmpty());
        const HttpResult chapter = get(u"book/%1/2?rule=%2"_s.arg(id, rule));
        QVERIFY2(chapter.isOk() && QString::fromUtf8(chapter.body).startsWith(expected.value(1)), chapter.body.constData());
    }
};

QTEST_MAIN(TestAccountLive)
#include "tst_account_live.moc"
