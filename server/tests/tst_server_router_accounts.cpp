#include "EpubNav.h"
#include "RouterFixture.h"
#include "store/BookPrint.h"
#include "text/BookLineIndex.h"
#include "routes/RouterSupport.h"

using RouterSupport::XmlOut;

// Accounts, uploads and synchronised reading through Router::handle, without sockets.
class TestServerRouterAccounts : public RouterFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpRouter(); }

    void registration_data()
    {
        QTest::addColumn<QString>("fields"); // name|password|e-mail|qq
        QTest::addColumn<QString>("reply"); // code and a piece of the message
        QTest::newRow("accepted") << u"张三_01|secret1|zs@example.com|12345"_s << u"1|注册成功"_s;
        QTest::newRow("name taken") << u"张三_01|other1|zs@example.com|"_s << u"0|已被注册"_s;
        QTest::newRow("name too short") << u"ab|abc|a@b.cn|"_s << u"0|3至14位"_s;
        QTest::newRow("name with a dash") << u"ab-cd|abc|a@b.cn|"_s << u"0|特殊符号"_s;
        QTest::newRow("name with an emoji") << u"ab\U0001F600c|abc|a@b.cn|"_s << u"0|特殊符号"_s;
        QTest::newRow("password too short") << u"bob_1|12|a@b.cn|"_s << u"0|太短"_s;
        QTest::newRow("e-mail begins with @") << u"bob_1|abc|@b.cn|"_s << u"0|Email"_s;
        QTest::newRow("qq too long") << u"bob_1|abc|a@b.cn|12345678901"_s << u"0|QQ"_s;
    }
    void registration()
    {
        QFETCH(QString, fields);
        QFETCH(QString, reply);
        const QStringList f = fields.split(u'|');
        QByteArray body = "action=reg";
        for (const auto &[key, value] : {std::pair{"username", f[0]}, {"userpass", f[1]}, {"email", f[2]},
                                         {"sex", u"女"_s}, {"qq", f[3]}, {"anwser", u"你的宠物叫什么?"_s}, {"question", u"旺财"_s}})
            body += "&"_ba + key + '=' + FormCodec::encodeGbFormValue(value);
        const Response r = post(Account, body, Form);
        QCOMPARE(r.status, 200);
        const QString answer = element(r.body, "logininfo");
        QCOMPARE(answer.section(u'|', 0, 0), reply.section(u'|', 0, 0));
        QVERIFY2(answer.contains(reply.section(u'|', 1)), qPrintable(answer));
    }

    // A remembered login lasts 30 days; checked on a later day it earns that day's points once.
    void rememberedLogin_pointsAndExpiry()
    {
        const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
        const QDateTime saved = m_now;
        auto points = [&] { return element(get(Check, cookie).body, "userpoint").toInt(); };
        const int first = points();
        QCOMPARE(points(), first);
        m_now = saved.addDays(1);
        QCOMPARE(QList({points(), points()}), QList({first + m_config.dailyLoginPoints, first + m_config.dailyLoginPoints}));
        QCOMPARE(element(get(Check, cookie).body, "lastdate"), saved.toString(u"yyyy-MM-dd HH:mm:ss"_s));
        m_now = saved.addDays(29);
        QVERIFY(loginInfo(cookie).startsWith(u'1'));
        m_now = saved.addDays(31);
        QCOMPARE(loginInfo(cookie), u"0|请先登录"_s);
        m_now = saved;
        QCOMPARE(loginInfo("folioway_session=forged"), u"0|请先登录"_s);
    }

    // The accepted edit as the client sends it is in tst_account_live; here the refusals and
    // which logins a new password ends.
    void profile_editAndLogout()
    {
        const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
        const QByteArray other = loginCookie(u"alice"_s, u"abc"_s);
        const QString uid = element(get(Check, cookie).body, "uid");
        using FormCodec::encodeGbFormValue;
        auto edit = [&](const QString &id, const QString &password, const QString &email) {
            // The client sends the sex unencoded: "男" in GB18030.
            const QByteArray body = "action=edit&userid=" + id.toUtf8() + "&userpass=" + encodeGbFormValue(password) +
                                    "&email=" + encodeGbFormValue(email) + "&sex=\xC4\xD0&qq=10001&anwser=";
            return element(post(Account, body, Form, cookie).body, "logininfo");
        };

        const QStringList refused{edit(u"999"_s, {}, u"a@b.cn"_s), edit(uid, {}, u"bad"_s), edit(uid, u"12"_s, u"a@b.cn"_s)};
        QVERIFY2(refused.filter(QRegularExpression(u"^0\\|"_s)).size() == 3, qPrintable(refused.join(u'\n')));
        QCOMPARE(edit(uid, {}, u"new@b.cn"_s), u"2|资料修改成功！"_s);
        const QByteArray check = get(Check, cookie).body;
        QCOMPARE(element(check, "usermail") + element(check, "sex") + element(check, "qq"), u"new@b.cn男10001"_s);
        // The empty password left the old one in place, and the other login is still valid.
        QVERIFY(!loginCookie(u"alice"_s, u"abc"_s).isEmpty());
        QVERIFY(loginInfo(other).startsWith(u'1'));

        // A new password ends the other logins but not this one.
        QCOMPARE(edit(uid, u"xyz"_s, u"new@b.cn"_s), u"2|资料修改成功！"_s);
        QVERIFY(loginInfo(cookie).startsWith(u'1'));
        QCOMPARE(loginInfo(other), u"0|请先登录"_s);
        QVERIFY(loginCookie(u"alice"_s, u"abc"_s).isEmpty());
        QVERIFY(!loginCookie(u"alice"_s, u"xyz"_s).isEmpty());
        QCOMPARE(edit(uid, u"abc"_s, u"a@b.cn"_s), u"2|资料修改成功！"_s);

        const Response out = get(Account + "?action=loginout", cookie);
        QCOMPARE(element(out.body, "logininfo"), u"0|已安全退出，欢迎下次光临！"_s);
        QVERIFY(out.header("Set-Cookie").contains("Max-Age=0"));
        QCOMPARE(loginInfo(cookie), u"0|请先登录"_s);
    }

    void upload_data()
    {
        QTest::addColumn<QByteArray>("category");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("newest");
        QTest::addColumn<QByteArray>("file");  // path|bytes
        QTest::addColumn<QByteArray>("cover"); // path|bytes, or empty
        QTest::addColumn<QString>("reply");    // start of the answer

        const QByteArray wx = "武侠仙侠", done = "全集", serial = "连载", none;
        const QByteArray txt = "D:\\小说\\剑.txt|第一章 开始\r\n正文";
        // clang-format off
        QTest::newRow("complete book") << wx << "剑"_ba << done << none << txt << none << u"1|"_s;
        QTest::newRow("serial with cover") << wx << "剑二"_ba << serial << "第二章"_ba << txt << "C:\\a\\封面.jpg|\xff\xd8\xff\xe0JFIF"_ba << u"1|"_s;
        QTest::newRow("traversal in the file name") << wx << "剑三"_ba << done << none << "..\\..\\x/../../catalogue.db.txt|text"_ba << none << u"1|"_s;
        QTest::newRow("unknown category") << "小说"_ba << "剑"_ba << done << none << txt << none << u"0|电子书类型"_s;
        QTest::newRow("no name") << wx << " "_ba << done << none << txt << none << u"0|你没有填写"_s;
        QTest::newRow("serial without newest chapter") << wx << "剑"_ba << serial << none << txt << none << u"0|请添加"_s;
        QTest::newRow("wrong extension") << wx << "剑"_ba << done << none << "a.exe|MZ"_ba << none << u"0|只能上传"_s;
        QTest::newRow("name ends in a separator") << wx << "剑"_ba << done << none << "C:\\a.txt\\|text"_ba << none << u"0|只能上传"_s;
        QTest::newRow("zip that is not one") << wx << "剑"_ba << done << none << "a.zip|hello"_ba << none << u"0|电子书文件已损坏"_s;
        QTest::newRow("named only .txt") << wx << "剑四"_ba << done << none << "C:\\.txt|text"_ba << none << u"1|"_s;
        QTest::newRow("text with NUL bytes") << wx << "剑"_ba << done << none << "a.txt|ab\0cd"_ba << none << u"0|这不是一个文本文件"_s;
        QTest::newRow("program named .txt") << wx << "剑"_ba << done << none << "a.txt|\x7f" "ELF\2\1"_ba << none << u"0|这不是一个文本文件"_s;
        // clang-format on
    }
    void upload()
    {
        QFETCH(QByteArray, category);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, newest);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, cover);
        QFETCH(QString, reply);
        const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
        QList<QPair<QString, QByteArray>> items{{u"file1"_s, file}, {u"stype"_s, category}, {u"sname"_s, name},
            {u"sauthor"_s, {}}, {u"username"_s, "alice"}, {u"smemo"_s, "简介"}, {u"sstatue"_s, status}, {u"snewchap"_s, newest}};
        if (!cover.isEmpty())
            items.insert(1, {u"file2"_s, cover});
        const QByteArray body = uploadBody(items);

        Store &store = Store::forThread(m_config.databaseLocation());
        const qint64 before = store.catalogue().countBooks();
        QCOMPARE(post("/readerserver/uploadbook.asp", body, Multipart).body, FormCodec::toGb18030(u"0|请先登录后再上传电子书！"_s));
        const Response r = post("/readerserver/uploadbook.asp", body, Multipart, cookie);
        QCOMPARE(r.status, 200);
        const QString answer = *FormCodec::fromGb18030(r.body);
        QVERIFY2(answer.startsWith(reply), qPrintable(answer));
        QCOMPARE(store.catalogue().countBooks(), before + (reply.startsWith(u'1') ? 1 : 0));
        if (!reply.startsWith(u'1'))
            return;
        const BookRow row = store.catalogue().userBooks(store.accounts().userByName(u"alice"_s)->id, 1, 1).rows.first();
        QCOMPARE(row.review, Review::Pending);
        QCOMPARE(row.author, u"佚名"_s);
        const QDir folder(BookStorage(store, m_config.booksDir()).folder(row.id));
        QCOMPARE(folder.entryList(QDir::Files).size(), cover.isEmpty() ? 1 : 2);
        QFile stored(folder.filePath(row.fileName));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), file.mid(file.indexOf('|') + 1));
        QVERIFY(!row.fileName.contains(u'\\') && !row.fileName.contains(u'/'));
        QCOMPARE(BookStorage::publicName(row), u"%1-%2.txt"_s.arg(row.id).arg(QString::fromUtf8(name)));
        // The approval drops the cached search answer that did not show the book yet.
        const QByteArray search = "/readerserver/listbook.asp?action=search&key=" + name.toPercentEncoding();
        const qsizetype shown = get(search).body.count("<bookinfo>");
        QVERIFY(store.uploads().review(row.id, Review::Approved, 0, 0).changed);
        QCOMPARE(get(search).body.count("<bookinfo>"), shown + 1);
    }

    // Every refusal is decided from the head, so no byte of the body is kept, and reaches the
    // client as a message.
    void uploadRefusedBeforeTheBody_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<QString>("reply");
        QTest::newRow("not logged in") << u"logout"_s << 100ll << u"0|请先登录"_s;
        QTest::newRow("too large") << QString() << 64ll * 1024 * 1024 + 1 << u"0|上传的文件太大（最大64MB）"_s;
        QTest::newRow("pending uploads") << u"pending"_s << 100ll << u"0|你已有2本电子书"_s;
        QTest::newRow("pending bytes") << u"bytes"_s << 100ll << u"正在等待审核"_s;
        QTest::newRow("uploads per hour") << u"hour"_s << 100ll << u"0|你一小时内已上传2本"_s;
        QTest::newRow("disk nearly full") << u"disk"_s << 100ll << u"0|服务器存储空间不足"_s;
        QTest::newRow("within every limit") << QString() << 100ll << QString();
    }
    void uploadRefusedBeforeTheBody()
    {
        QFETCH(QString, limit);
        QFETCH(qint64, declared);
        QFETCH(QString, reply);
        ServerConfig config = m_config;
        config.limits.pendingUploads = limit == u"pending" ? 2 : 100;
        config.limits.pendingBytes = limit == u"bytes" ? 150 : 1 << 30;
        config.limits.uploadsPerHour = limit == u"hour" ? 2 : 100;
        Router router(config);
        router.setClock([this] { return m_now; });
        router.setFreeDiskProbe([&] { return limit == u"disk" ? config.limits.diskFloorBytes + 99 : 1ll << 40; });
        // bob has two uploads awaiting review, 60 bytes each, both within the hour.
        Store &store = Store::forThread(m_config.databaseLocation());
        if (!store.accounts().userByName(u"bob"_s)) {
            post(Account, "action=reg&username=bob&userpass=abc&email=a%40b%2Ecn", Form);
            const QByteArray bob = loginCookie(u"bob"_s, u"abc"_s);
            for (const QByteArray name : {"待审0", "待审1"})
                QVERIFY(post("/readerserver/uploadbook.asp", uploadBody({{u"file1"_s, "b.txt|" + QByteArray(60, 'x')},
                        {u"stype"_s, "武侠仙侠"}, {u"sname"_s, name}, {u"sstatue"_s, "全集"}}), Multipart, bob).body.startsWith("1|"));
        }
        Request head = Request::make("POST", "/readerserver/uploadbook.asp");
        head.headers.emplaceBack("content-length", QByteArray::number(declared));
        if (limit != u"logout")
            head.headers.emplaceBack("cookie", loginCookie(u"bob"_s, u"abc"_s));
        const Admission a = router.admit(head);
        QCOMPARE(a.early.has_value(), !reply.isEmpty());
        if (a.early)
            QVERIFY2(a.early->status == 200 && FormCodec::fromGb18030(a.early->body)->contains(reply), a.early->body.data());
    }

    // Guessing gets slower after a few misses and then stops, for the account from one address
    // and for the address; guesses from many addresses stop the account everywhere but for a
    // client holding a login of it. The lock ends by itself.
    void loginThrottle_data()
    {
        QTest::addColumn<int>("spread"); // misses: 0 one account, 1 other names, 2 one account from many addresses
        QTest::addColumn<bool>("holder"); // the right password comes with a login of the account
        QTest::addColumn<int>("misses");
        QTest::addColumn<int>("waitSeconds"); // before the right password
        QTest::addColumn<QString>("reply");
        QTest::newRow("free tries") << 0 << false << 3 << 0 << u"1|"_s;
        QTest::newRow("growing delay") << 0 << false << 5 << 0 << u"0|登录失败次数过多，请2秒后再试"_s;
        QTest::newRow("delay over") << 0 << false << 5 << 2 << u"1|"_s;
        QTest::newRow("account locked") << 0 << false << 10 << 60 << u"0|登录失败次数过多，已暂时锁定，请14分钟"_s;
        QTest::newRow("account lock over") << 0 << false << 10 << 15 * 60 << u"1|"_s;
        QTest::newRow("address locked") << 1 << false << 30 << 60 << u"0|登录失败次数过多，已暂时锁定"_s;
        QTest::newRow("guessed from many addresses") << 2 << false << 12 << 60 << u"0|登录失败次数过多，已暂时锁定"_s;
        QTest::newRow("but not for its login") << 2 << true << 12 << 60 << u"1|"_s;
    }
    void loginThrottle()
    {
        QFETCH(int, spread);
        QFETCH(int, misses);
        QFETCH(int, waitSeconds);
        QFETCH(QString, reply);
        const QDateTime saved = m_now;
        static int round = 0;
        const QByteArray peer = "198.51.100." + QByteArray::number(++round);
        QFETCH(bool, holder);
        const QByteArray cookie = holder ? loginCookie(u"alice"_s, u"abc"_s) : QByteArray();
        auto attempt = [&](const QByteArray &name, const QByteArray &password, const QByteArray &from) {
            Request r = Request::make("GET", Account + "?action=login&username=" + name + "&password=" + password);
            r.peer = from;
            r.headers.emplaceBack("cookie", cookie);
            return element(finished(m_router->handle(r)).body, "logininfo");
        };
        for (int i = 0; i < misses; ++i) {
            // Misses are spaced so that none falls into a delay.
            m_now = m_now.addSecs(70);
            attempt(spread == 1 ? "guess" + QByteArray::number(i) : "alice", "wrong",
                    spread == 2 ? "203.0.113." + QByteArray::number(i) : peer);
        }
        m_now = m_now.addSecs(waitSeconds);
        const QString answer = attempt("alice", "abc", spread == 2 ? "203.0.113.200" : peer);
        m_now = saved.addDays(1);
        QVERIFY2(answer.startsWith(reply), qPrintable(answer));
    }

    // The personal feed lists the catalogue books of the account's shelf, its password taken
    // over TLS only: over plain http it is refused before anything is checked.
    void personalFeed_data()
    {
        QTest::addColumn<bool>("secure");
        QTest::addColumn<QByteArray>("credentials");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contains");
        QTest::addColumn<bool>("ownWay"); // the account reads book 3 its own way
        QTest::newRow("over http") << false << "carol:abc"_ba << 403 << "https"_ba << false;
        QTest::newRow("no password") << true << QByteArray() << 401 << QByteArray() << false;
        QTest::newRow("wrong password") << true << "carol:abd"_ba << 401 << u"密码错误"_s.toUtf8() << false;
        QTest::newRow("shelf") << true << "carol:abc"_ba << 200
                               << "href=\"/books/3/3-%E4%B9%A6%E5%90%8D3.epub\" type=\"application/epub+zip\""_ba << false;
        QTest::newRow("shelf, a book read its own way") << true << "carol:abc"_ba << 200
                                                        << "href=\"/opds/my/b3.epub\" type=\"application/epub+zip\""_ba << true;
    }
    void personalFeed()
    {
        QFETCH(bool, secure);
        QFETCH(QByteArray, credentials);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        QFETCH(bool, ownWay);
        const QByteArray cookie = syncUser();
        m_now = m_now.addSecs(1); // each row's way of reading is the newest
        const QString way = u"reading|k3|%1|%2|smart=1"_s.arg(m_now.toMSecsSinceEpoch()).arg(ownWay ? 0 : 1);
        QVERIFY(element(syncPush(cookie, {u"shelf|k3|10|0|{\"catalogue\":\"3\"}"_s, u"shelf|k4|10|1|"_s,
                                          u"shelf|k46|10|0|{\"catalogue\":\"46\"}"_s, way}),
                        "status") == u"ok");
        Request r = Request::make("GET", "/opds/my");
        r.secure = secure;
        r.peer = "192.0.2.9";
        if (!credentials.isEmpty())
            r.headers.emplaceBack("authorization", "Basic " + credentials.toBase64());
        Response answer = m_router->handle(r);
        QCOMPARE(bool(answer.deferred), secure && !credentials.isEmpty()); // on the password queue
        answer = finished(answer);
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.body.contains(contains), answer.body.constData());
        QCOMPARE(answer.header("WWW-Authenticate"), status == 401 ? R"(Basic realm="Folioway", charset="UTF-8")"_ba : ""_ba);
        QCOMPARE(answer.body.count("<entry>"), status == 200 ? 1 : 0);
    }

    // A private copy is listed in its owner's feed and served there as text and EPUB; to another
    // account it does not exist, and an address the feed never gives costs no password check.
    void personalFeed_privateCopies()
    {
        const QByteArray cookie = syncUser();
        const QByteArray text = u"第一章 私书\n正文\n续上回\n再看\n"_s.toUtf8();
        QCOMPARE(put(text, cookie).status, 200);
        if (!Store::forThread(m_config.databaseLocation()).accounts().userByName(u"dave"_s))
            post(Account, "action=reg&username=dave&userpass=abc&email=d%40b%2Ecn", Form);
        const auto get = [this](const QByteArray &path, const QByteArray &credentials) {
            Request r = Request::make("GET", path);
            r.secure = true;
            r.peer = "192.0.2.10";
            r.headers.emplaceBack("authorization", "Basic " + credentials.toBase64());
            return send(r, {}); // the password queue, then the EPUB's building
        };
        const Response feed = get("/opds/my", "carol:abc");
        const QRegularExpressionMatch link =
            QRegularExpression(u"href=\"(/opds/my/p[0-9]+)\\.txt\""_s).match(QString::fromUtf8(feed.body));
        QVERIFY2(link.hasMatch(), feed.body.constData());
        QVERIFY(feed.body.contains(link.captured(1).toUtf8() + ".epub\" type=\"application/epub+zip\""));
        const QByteArray copy = link.captured(1).toUtf8();
        QCOMPARE(get(copy + ".txt", "carol:abc").status, 200);
        QCOMPARE(get(copy + ".txt", "dave:abc").status, 404);
        QCOMPARE(get(copy + ".epub", "dave:abc").status, 404);
        const QStringList defaultWay = navTitles(get(copy + ".epub", "carol:abc").filePath);
        QVERIFY(!defaultWay.isEmpty());

        // The EPUBs of the account's own books follow the way it reads them; a catalogue book
        // read its own way is served so to the account whose shelf holds it, to no other.
        m_now = m_now.addSecs(1);
        const QString changed = QString::number(m_now.toMSecsSinceEpoch());
        const QString ownRule = u"reading|%1|%2|0|%3"_s.arg(BookPrint::of(text), changed, BookReading{.rule = u"^续"_s}.toText());
        QVERIFY(element(syncPush(cookie, {ownRule, u"shelf|k3|10|0|{\"catalogue\":\"3\"}"_s,
                                          u"reading|k3|%1|0|smart=1"_s.arg(changed)}),
                        "status") == u"ok");
        const QStringList ownWay = navTitles(get(copy + ".epub", "carol:abc").filePath);
        QVERIFY2(ownWay.contains(u"续上回"_s) && !defaultWay.contains(u"续上回"_s), qPrintable(ownWay.join(u'|')));
        QVERIFY(!navTitles(get("/opds/my/b3.epub", "carol:abc").filePath).isEmpty());
        QCOMPARE(get("/opds/my/b3.epub", "dave:abc").status, 404);
        Request unknown = Request::make("GET", "/opds/my/p1.pdf");
        unknown.secure = true;
        const Response none = m_router->handle(unknown);
        QVERIFY(!none.deferred);
        QCOMPARE(none.status, 404);
    }

    // The password queue's order: an address the account logged in from first, then by the
    // address's own misses and, among equals, by its network's, so a guesser's next address
    // waits behind a newcomer from elsewhere.
    void loginRank_ordersByMisses()
    {
        const auto rank = [this](const QByteArray &password, const QByteArray &from) {
            Request r = Request::make("GET", Account + "?action=login&username=alice&password=" + password);
            r.peer = from;
            const Response answer = m_router->handle(r);
            finished(answer); // the password check, which counts the misses
            return answer.deferredRank;
        };
        rank("abc", "192.0.2.200");
        rank("wrong", "198.18.7.1");
        rank("wrong", "198.18.7.1");
        const int known = rank("abc", "192.0.2.200"), newcomer = rank("abc", "192.0.2.201"),
                  beside = rank("abc", "198.18.7.2"), missed = rank("abc", "198.18.7.1");
        QVERIFY(known < 0);
        QVERIFY2(known < newcomer && newcomer < beside && beside < missed,
                 qPrintable(u"%1 %2 %3 %4"_s.arg(known).arg(newcomer).arg(beside).arg(missed)));
    }

    // Synchronised reading: per kind and key the newest version is kept, a tie is decided
    // alike everywhere, removals travel, and a push sent again changes nothing.
    void syncPush_data()
    {
        QTest::addColumn<QString>("held"); // "changed|deleted|payload", empty for none
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("kept");
        QTest::newRow("new") << QString() << u"100|0|a"_s << u"stored"_s << u"100|0|a"_s;
        QTest::newRow("newer wins") << u"100|0|a"_s << u"200|0|b"_s << u"stored"_s << u"200|0|b"_s;
        QTest::newRow("older loses") << u"200|0|b"_s << u"100|0|a"_s << u"older"_s << u"200|0|b"_s;
        QTest::newRow("removal") << u"100|0|a"_s << u"150|1|x"_s << u"stored"_s << u"150|1|"_s;
        QTest::newRow("older than a removal") << u"150|1|"_s << u"100|0|a"_s << u"older"_s << u"150|1|"_s;
        QTest::newRow("tie: removal wins") << u"100|0|a"_s << u"100|1|"_s << u"stored"_s << u"100|1|"_s;
        QTest::newRow("tie: greater payload") << u"100|0|b"_s << u"100|0|a"_s << u"older"_s << u"100|0|b"_s;
        QTest::newRow("sent again") << u"100|0|a"_s << u"100|0|a"_s << u"same"_s << u"100|0|a"_s;
    }
    void syncPush()
    {
        QFETCH(QString, held);
        QFETCH(QString, sent);
        QFETCH(QString, result);
        QFETCH(QString, kept);
        const QByteArray cookie = syncUser();
        const QString item = u"bookmark|"_s + QTest::currentDataTag() + u'|';
        if (!held.isEmpty())
            QCOMPARE(element(syncPush(cookie, {item + held}), "result"), u"stored"_s);
        const qint64 before = element(syncPull(cookie, 0, 1), "last").toLongLong();
        const QByteArray answer = syncPush(cookie, {item + sent});
        QVERIFY2(element(answer, "result") == result, answer.data());
        QCOMPARE(element(answer, "payload"), result == u"older" ? kept.section(u'|', 2) : QString());
        // Only a stored version gets a number and travels to the other computers.
        const QByteArray news = syncPull(cookie, before, 500);
        const QStringList changed = XmlFields::values(news, u"changed"_s);
        QCOMPARE(changed.size(), result == u"stored" ? 1 : 0);
        if (result == u"stored")
            QCOMPARE(changed[0] + u'|' + element(news, "deleted") + u'|' + element(news, "payload"), kept);
    }

    // An update's successor moves the items of the old content to the new one, the newer of two
    // where both are held; nothing of the old content stays but the successor, and an item sent
    // later for the old content, or for one before it, is kept for the newest.
    void syncSuccessor_movesTheBook()
    {
        const QByteArray cookie = syncUser();
        QCOMPARE(XmlFields::values(syncPush(cookie, {u"shelf|v0|50|0|旧"_s, u"successor|v0|60|0|v1"_s,
                                                     u"shelf|v1|100|0|书架"_s, u"bookmark|v1/0|100|0|第一回"_s,
                                                     u"bookmark|v1/e1|100|0|旧注"_s, u"bookmark|v2/e1|300|0|新注"_s}),
                                   u"result"_s),
                 QStringList(6, u"stored"_s));
        const qint64 before = element(syncPull(cookie, 0, 1), "last").toLongLong();
        QCOMPARE(element(syncPush(cookie, {u"successor|v1|400|0|v2"_s}), "result"), u"stored"_s);
        const auto pairs = [](const QByteArray &answer) {
            QStringList keys = XmlFields::values(answer, u"key"_s);
            const QStringList payloads = XmlFields::values(answer, u"payload"_s);
            for (qsizetype i = 0; i < keys.size(); ++i)
                keys[i] += u'=' + payloads.value(i);
            keys.sort();
            return keys.filter(QRegularExpression(u"^v\\d"_s)); // the user's other tests' items aside
        };
        QCOMPARE(pairs(syncPull(cookie, before, 500)), (QStringList{u"v0=v2"_s, u"v1=v2"_s, u"v2/0=第一回"_s, u"v2=书架"_s}));
        // An offline computer still holding the oldest content: its change lands on the newest.
        QCOMPARE(element(syncPush(cookie, {u"shelf|v0|500|0|改名"_s, u"bookmark|v1/e1|200|0|更旧"_s}), "result"), u"stored"_s);
        const QByteArray news = syncPull(cookie, 0, 500);
        QCOMPARE(pairs(news), (QStringList{u"v0=v2"_s, u"v1=v2"_s, u"v2/0=第一回"_s, u"v2/e1=新注"_s, u"v2=改名"_s}));
    }

    // Pages follow each other by the number of the last item, and a pull with nothing new is
    // one short answer.
    void syncPaging_data()
    {
        QTest::addColumn<QByteArray>("limit");
        QTest::addColumn<QList<int>>("pages");
        QTest::newRow("by three") << "3"_ba << QList<int>{3, 3, 1, 0};
        QTest::newRow("default") << QByteArray() << QList<int>{7, 0};
        QTest::newRow("beyond the largest") << "100000"_ba << QList<int>{7, 0};
    }
    void syncPaging()
    {
        QFETCH(QByteArray, limit);
        QFETCH(QList<int>, pages);
        const QByteArray cookie = syncUser();
        qint64 next = element(syncPull(cookie, 0, 1), "last").toLongLong();
        const qint64 start = next;
        QStringList items;
        for (int i = 0; i < 7; ++i)
            items << u"shelf|page-%1-%2|300|0|书架"_s.arg(QTest::currentDataTag()).arg(i);
        syncPush(cookie, items);
        QStringList keys;
        for (qsizetype i = 0; i < pages.size(); ++i) {
            const QByteArray page = get("/folioway/sync/v1/pull?after=" + QByteArray::number(next) +
                                        (limit.isEmpty() ? "" : "&limit=" + limit), cookie).body;
            QCOMPARE(XmlFields::values(page, u"key"_s).size(), pages[i]);
            QCOMPARE(element(page, "more"), i + 2 < pages.size() ? u"1"_s : u"0"_s);
            QCOMPARE(element(page, "last").toLongLong(), start + 7);
            keys << XmlFields::values(page, u"key"_s);
            next = element(page, "next").toLongLong();
        }
        QCOMPARE(next, start + 7);
        QCOMPARE(keys, QStringList(items).replaceInStrings(QRegularExpression(u"^shelf\\|([^|]*)\\|.*"_s), u"\\1"_s));
    }

    // What the server refuses reaches the client as a message it can show.
    void syncRefused_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("body"); // empty: a pull
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        const QString ahead = QString::number(QDateTime::currentDateTime().addYears(5).toMSecsSinceEpoch());
        QTest::newRow("pull not logged in") << false << QByteArray() << u"login"_s << u"请先登录"_s;
        QTest::newRow("push not logged in") << false << syncBody({u"shelf|k|1|0|"_s}) << u"login"_s << u"请先登录"_s;
        QTest::newRow("unknown kind") << true << syncBody({u"note|k|1|0|"_s}) << u"refused"_s << u"第1项的类型"_s;
        QTest::newRow("clock ahead") << true << syncBody({u"shelf|k|"_s + ahead + u"|0|"_s}) << u"refused"_s
                                     << u"检查电脑的时钟"_s;
        QTest::newRow("long payload") << true << syncBody({u"shelf|k|1|0|"_s + QString(4001, u'字')}) << u"refused"_s
                                      << u"第1项的内容太长"_s;
        QTest::newRow("too many at once") << true << syncBody(QStringList(501, u"shelf|k|1|0|"_s)) << u"refused"_s
                                          << u"一次最多同步500项"_s;
        QTest::newRow("document type") << true << "<!DOCTYPE sync [<!ENTITY a 'b'>]><sync/>"_ba << u"refused"_s
                                       << u"文档类型"_s;
        QTest::newRow("successor of itself") << true << syncBody({u"successor|k|1|0|k"_s}) << u"refused"_s
                                             << u"第1项的新版本不正确"_s;
        QTest::newRow("not xml") << true << "<sync><item>"_ba << u"refused"_s << u"同步数据格式不正确"_s;
        QTest::newRow("new key beyond the limit") << true << syncBody({u"position|limit|1|0|"_s}) << u"ok"_s
                                                  << u"已达上限（1项）"_s;
        QTest::newRow("body too large") << true << QByteArray(1024 * 1024 + 1, ' ') << u"refused"_s
                                        << u"同步数据太大"_s;
    }
    void syncRefused()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        ServerConfig config = m_config;
        config.limits.syncItems = 1;
        Router router(config);
        router.setClock([this] { return m_now; });
        const QByteArray cookie = loggedIn ? syncUser() : QByteArray();
        Request r = Request::make(body.isEmpty() ? "GET" : "POST", "/folioway/sync/v1/" + (body.isEmpty() ? "pull"_ba : "push"_ba), body);
        r.headers.emplaceBack("cookie", cookie);
        r.headers.emplaceBack("content-length", QByteArray::number(body.size()));
        // The size is judged from the head, before the body is read.
        const Admission a = router.admit(r);
        const QByteArray answer = a.early ? a.early->body : router.handle(r).body;
        QTEST(element(answer, "status"), "status");
        QVERIFY2(element(answer, "message").contains(message), answer.left(300).data());
    }

private:
    QByteArray syncUser()
    {
        if (!Store::forThread(m_config.databaseLocation()).accounts().userByName(u"carol"_s))
            post(Account, "action=reg&username=carol&userpass=abc&email=a%40b%2Ecn", Form);
        return loginCookie(u"carol"_s, u"abc"_s);
    }
    // Items as "kind|key|changed|deleted|payload".
    static QByteArray syncBody(const QStringList &items)
    {
        XmlOut x;
        x.open("sync");
        for (const QString &item : items) {
            const QStringList f = item.split(u'|');
            x.open("item").element("kind", f[0]).element("key", f[1]).element("changed", f[2])
                .element("deleted", f[3]).element("payload", f[4]).close("item");
        }
        return x.close("sync").take();
    }
    QByteArray syncPush(const QByteArray &cookie, const QStringList &items) const
    {
        return post("/folioway/sync/v1/push", syncBody(items), "text/xml; charset=utf-8", cookie).body;
    }
    QByteArray syncPull(const QByteArray &cookie, qint64 after, int limit) const
    {
        return get("/folioway/sync/v1/pull?after=" + QByteArray::number(after) + "&limit=" + QByteArray::number(limit),
                   cookie).body;
    }
};

QTEST_GUILESS_MAIN(TestServerRouterAccounts)
#include "tst_server_router_accounts.moc"
