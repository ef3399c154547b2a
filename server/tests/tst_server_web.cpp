// The web reader's answers without sockets: the headers every answer carries, the token every
// change needs, who may read which book, chapters as plain text and places as sync items.

#include "RouterFixture.h"
#include "store/BookPrint.h"
#include "text/BookLineIndex.h"
#include "web/WebBooks.h"
#include "web/WebReader.h"

#include <sys/stat.h>

class TestServerWeb : public RouterFixture
{
    Q_OBJECT

    std::unique_ptr<WebReader> m_web;
    QByteArray m_alice; // the cookies of alice's browser
    QByteArray m_token;

    Response web(const QByteArray &method, const QByteArray &target, const QByteArray &cookies,
                 const QByteArray &body = {}, const QByteArray &token = {}) const
    {
        Request r = Request::make(method, target, body);
        r.peer = "192.0.2.7";
        if (!cookies.isEmpty())
            r.headers.emplaceBack("cookie", cookies);
        if (!token.isEmpty())
            r.headers.emplaceBack(WebReader::kTokenHeader, token);
        r.headers.emplaceBack("accept-encoding", "gzip, deflate");
        return finished(m_web->handle(r));
    }
    static QJsonObject json(const Response &r)
    {
        QByteArray sized(4, 0);
        qToBigEndian<quint32>(1 << 24, sized.data());
        return QJsonDocument::fromJson(r.header("Content-Encoding") == "deflate" ? qUncompress(sized + r.body) : r.body).object();
    }
    // A browser of the account: its own cookie, then a login through the page.
    QByteArray browserOf(const QByteArray &name, const QByteArray &password, QByteArray *token)
    {
        const Response session = web("GET", "/read/api/session", {});
        const QByteArray browser = session.header("Set-Cookie").split(';').value(0);
        *token = json(session).value(u"token").toString().toLatin1();
        const Response in = web("POST", "/read/api/login", browser, "username=" + name + "&password=" + password, *token);
        if (!json(in).value(u"ok").toBool())
            return {};
        return browser + "; " + in.header("Set-Cookie").split(';').value(0);
    }
    static quint64 inode(const QString &path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? quint64(info.st_ino) : 0;
    }
    QString privateFile(const QByteArray &bytes) const
    {
        const QString fingerprint = QString::number(bytes.size()) + u':' +
                                    QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
        return PrivateCopies::filePath(m_config.booksDir(), fingerprint);
    }
    qint64 addBook(const QByteArray &text, Review review, qint64 uploader)
    {
        BookStorage storage(Store::forThread(m_config.databaseLocation()), m_config.booksDir());
        QString error;
        const BookRow b{.name = u"标记"_s, .category = Categories::names()[0], .status = u"全集"_s,
                        .fileName = u"m.txt"_s, .uploader = uploader, .review = review};
        return storage.add(b, {text, {}}, {}, &error);
    }

private Q_SLOTS:
    void initTestCase()
    {
        setUpRouter();
        m_web = std::make_unique<WebReader>(*m_router, m_config);
        m_web->setClock([this] { return m_now; });
        m_alice = browserOf("alice", "abc", &m_token);
        QVERIFY(!m_alice.isEmpty());
    }

    void everyAnswerIsFenced_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<int>("status");
        QTest::newRow("page") << QByteArray("/read/") << false << 200;
        QTest::newRow("script") << QByteArray("/read/reader.js") << false << 200;
        QTest::newRow("session") << QByteArray("/read/api/session") << false << 200;
        QTest::newRow("shelf before login") << QByteArray("/read/api/shelf") << false << 401;
        QTest::newRow("shelf") << QByteArray("/read/api/shelf") << true << 200;
        QTest::newRow("no such file") << QByteArray("/read/secret.db") << false << 404;
        QTest::newRow("a way up") << QByteArray("/read/%2e%2e/catalogue.db") << false << 404;
        QTest::newRow("no such book") << QByteArray("/read/api/book/999999") << true << 404;
    }
    void everyAnswerIsFenced()
    {
        QFETCH(QByteArray, target);
        QFETCH(bool, loggedIn);
        const Response r = web("GET", target, loggedIn ? m_alice : QByteArray());
        QTEST(r.status, "status");
        const QByteArray policy = r.header("Content-Security-Policy");
        QVERIFY(policy.contains("frame-ancestors 'none'") && policy.contains("script-src 'self';"));
        QVERIFY(!policy.contains("unsafe"));
        QCOMPARE(r.header("X-Content-Type-Options"), "nosniff");
    }

    void changesNeedTheToken_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("login") << QByteArray("/read/api/login") << QByteArray("username=alice&password=abc");
        QTest::newRow("logout") << QByteArray("/read/api/logout") << QByteArray();
        QTest::newRow("shelf") << QByteArray("/read/api/shelf") << QByteArray("book=1");
        QTest::newRow("place") << QByteArray("/read/api/book/1/place") << QByteArray("chapter=1&fraction=0.5");
    }
    void changesNeedTheToken()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        Store &store = Store::forThread(m_config.databaseLocation());
        const qint64 before = store.sync().pull(1, 0, 500).last;
        QByteArray other;
        const QByteArray otherBrowser = web("GET", "/read/api/session", {}).header("Set-Cookie").split(';').value(0);
        for (const QByteArray &token : {QByteArray(), QByteArray("0"), m_web->tokenFor(otherBrowser.mid(13))})
            QCOMPARE(web("POST", target, m_alice, body, token).status, 403);
        QCOMPARE(store.sync().pull(1, 0, 500).last, before);
        QCOMPARE(json(web("GET", "/read/api/session", m_alice)).value(u"login").toBool(), true);
    }

    // Another account's own upload is answered like a book that is not there; the uploader reads it.
    void uploadsAreTheUploaders()
    {
        const qint64 own = addBook("书\n只给自己\n", Review::Pending, 1);
        QByteArray bobToken;
        QVERIFY(element(post(Account, "action=reg&username=bob&userpass=bcd&email=b%40b%2Ecn", Form).body, "logininfo")
                    .startsWith(u"1|"));
        const QByteArray bob = browserOf("bob", "bcd", &bobToken);
        QCOMPARE(web("GET", "/read/api/book/" + QByteArray::number(own), m_alice).status, 200);
        for (const QByteArray &suffix : {QByteArray(), QByteArray("/1")}) {
            const Response theirs = web("GET", "/read/api/book/" + QByteArray::number(own) + suffix, bob);
            QCOMPARE(theirs.status, 404);
            QCOMPARE(theirs.body, web("GET", "/read/api/book/999999" + suffix, bob).body);
        }
    }

    // A chapter is the book's lines as text, whatever they hold; the place read becomes the
    // desktop's position item, never dated ahead of the server.
    void chapterTextAndPlace()
    {
        const QByteArray markup = "<script>alert(1)</script> 甲 & 乙";
        const qint64 id = addBook("标记\n" + markup + "\n第二行\n", Review::Approved, 0);
        const QByteArray path = "/read/api/book/" + QByteArray::number(id);
        const Response chapter = web("GET", path + "/1", m_alice);
        QCOMPARE(chapter.status, 200);
        QVERIFY(chapter.contentType.startsWith("text/plain"));
        QCOMPARE(chapter.header("Content-Encoding"), "deflate");
        QByteArray sized(4, 0);
        qToBigEndian<quint32>(1 << 20, sized.data());
        QVERIFY(qUncompress(sized + chapter.body).startsWith(markup + '\n'));
        QCOMPARE(web("GET", path + "/1", m_alice).body, chapter.body); // the second from memory

        const Response saved = web("POST", path + "/place", m_alice, "chapter=1&fraction=0.5&changed=99999999999999", m_token);
        QVERIFY2(json(saved).value(u"ok").toBool(), saved.body.constData());
        const QJsonArray chapters = json(web("GET", path, m_alice)).value(u"chapters").toArray();
        QVERIFY(!chapters.isEmpty());
        const auto toc = json(web("GET", path, m_alice));
        const QJsonObject place = toc.value(u"place").toObject();
        QCOMPARE(place.value(u"device").toString(), u"手机浏览器"_s);
        QCOMPARE(place.value(u"chapter").toInt(), 1);
        QCOMPARE(place.value(u"changed").toInteger(), m_now.toMSecsSinceEpoch());
        QCOMPARE(place.value(u"lineCount").toInteger(), toc.value(u"lineCount").toInteger());
    }

    // A private copy is kept only for a signed-in account, whole, as text, within the size and the
    // account's quota; the reason for a refusal is told in words.
    void privateCopyRefusals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("fingerprint"); // empty: the right one
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("smallLimits"); // a host with a 4 KB quota and 2 KB uploads
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("says");
        const QByteArray text = "第一章 开始\n正文\n";
        QTest::newRow("kept") << text << QByteArray() << true << false << u"ok"_s << u"已放到"_s;
        QTest::newRow("not signed in") << QByteArray("未登录\n") << QByteArray() << false << false << u"login"_s << u"登录"_s;
        const QByteArray other = "指纹\n";
        QTest::newRow("fingerprint of other bytes") << other << QByteArray("19:0123456789abcdef0123456789abcdef01234567")
                                                    << true << false << u"refused"_s << u"指纹"_s;
        QTest::newRow("fingerprint malformed") << other << QByteArray("../../etc") << true << false << u"refused"_s
                                               << u"指纹"_s;
        QTest::newRow("not text") << QByteArray("MZ\0\1binary") << QByteArray() << true << false << u"refused"_s
                                  << u"文本"_s;
        QTest::newRow("too large") << QByteArray(3000, 'a') << QByteArray() << true << true << u"refused"_s
                                   << u"太大"_s;
        QTest::newRow("over quota") << QByteArray(1500, 'b') << QByteArray() << true << true << u"refused"_s
                                    << u"上限"_s;
    }
    void privateCopyRefusals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, fingerprint);
        QFETCH(bool, signedIn);
        QFETCH(bool, smallLimits);
        QFETCH(QString, status);
        QFETCH(QString, says);
        ServerConfig config = m_config;
        config.limits.privateQuotaBytes = 4000;
        config.limits.uploadBytes = 2000;
        Router small(config);
        small.setClock([this] { return m_now; });
        const QByteArray cookie = signedIn ? loginCookie(u"alice"_s, u"abc"_s) : QByteArray("folioway_session=none");
        if (smallLimits) // alice already keeps 3000 bytes there
            QCOMPARE(element(put(QByteArray(3000, 'q'), cookie).body, "status"), u"ok"_s);
        const Response r = put(bytes, cookie, fingerprint, smallLimits ? &small : nullptr);
        QCOMPARE(element(r.body, "status"), status);
        QVERIFY2(element(r.body, "message").contains(says), qPrintable(element(r.body, "message")));
        QCOMPARE(QFileInfo::exists(privateFile(bytes)), status == u"ok");
        // What the head says is refused before the body is read.
        if (smallLimits) {
            Request head = Request::make("POST", "/folioway/private/v1/put?fingerprint=1:2");
            head.headers = {{"cookie", cookie}, {"content-length", QByteArray::number(bytes.size())}};
            QVERIFY(element(small.admit(head).early.value_or(Response()).body, "message").contains(says));
        }
    }

    // The bytes of one fingerprint lie once on disk, whoever sends them; a copy of a catalogue
    // book is its file linked. Each account's copy counts against its own quota, and is read by
    // that account alone: in its shelf, its chapter list, its chapters and its place.
    void privateCopiesAreSharedOnDiskAndReadByTheirOwner()
    {
        QVERIFY(element(post(Account, "action=reg&username=carol&userpass=cde&email=c%40b%2Ecn", Form).body,
                        "logininfo").startsWith(u"1|"));
        const QByteArray alice = loginCookie(u"alice"_s, u"abc"_s);
        const QByteArray carol = loginCookie(u"carol"_s, u"cde"_s);
        const QByteArray text = "第一章 私藏\n只给自己看\n第二章 续\n再看\n";
        QCOMPARE(element(put(text, alice).body, "status"), u"ok"_s);
        const quint64 first = inode(privateFile(text));
        const Response again = put(text, carol);
        QCOMPARE(element(again.body, "status"), u"ok"_s);
        QCOMPARE(element(again.body, "used"), QString::number(text.size()));
        QVERIFY(first != 0 && inode(privateFile(text)) == first);
        const QByteArray catalogued(700, 'x'); // book 7 of the catalogue
        QCOMPARE(element(put(catalogued, carol).body, "status"), u"ok"_s);
        QCOMPARE(inode(privateFile(catalogued)), inode(m_config.booksDir() + u"/7/书名7.txt"_s));
        const Response listed = get("/folioway/private/v1/list", carol);
        QCOMPARE(XmlFields::values(listed.body, u"fingerprint"_s).size(), 2);
        QCOMPARE(element(listed.body, "used"), QString::number(text.size() + catalogued.size()));

        // The shelf entry of that fingerprint opens it for alice; carol's copy is not alice's.
        QByteArray aliceToken;
        const QByteArray aliceBrowser = browserOf("alice", "abc", &aliceToken);
        const QString fingerprint = QFileInfo(privateFile(text)).dir().dirName();
        const QString key = fingerprint.section(u'-', 1) + u':' + fingerprint.section(u'-', 0, 0);
        SyncItem shelved{.kind = u"shelf"_s, .key = key, .changed = 1, .payload = u"{\"name\":\"私藏\"}"_s};
        QVERIFY(Store::forThread(m_config.databaseLocation()).sync().push(1, {shelved}, 1000, 1 << 20).ok);
        QString own;
        for (const QJsonValue &v : json(web("GET", "/read/api/shelf", aliceBrowser)).value(u"books").toArray()) {
            if (v.toObject().value(u"key").toString() == key)
                own = v.toObject().value(u"book").toString();
        }
        QVERIFY2(own.startsWith(u'p'), qPrintable(own));
        const QByteArray path = "/read/api/book/" + own.toLatin1();
        QCOMPARE(json(web("GET", path, aliceBrowser)).value(u"chapters").toArray().size(), 2);
        QCOMPARE(web("GET", path + "/2", aliceBrowser).status, 200);
        QByteArray carolToken;
        const QByteArray carolBrowser = browserOf("carol", "cde", &carolToken);
        for (const QByteArray &suffix : {QByteArray(), QByteArray("/1")}) {
            const Response theirs = web("GET", path + suffix, carolBrowser);
            QCOMPARE(theirs.status, 404);
            QCOMPARE(theirs.body, web("GET", "/read/api/book/p999999" + suffix, carolBrowser).body);
        }
        QCOMPARE(web("POST", path + "/place", carolBrowser, "chapter=1&fraction=0", carolToken).status, 404);
        QVERIFY(json(web("POST", path + "/place", aliceBrowser, "chapter=2&fraction=0", aliceToken)).value(u"ok").toBool());

        // Removing one account's copy keeps the other's file; the last one takes it along.
        const QString carolsId = XmlFields::values(listed.body, u"id"_s).last();
        QCOMPARE(element(post("/folioway/private/v1/remove?id=" + carolsId.toLatin1(), {}, Form, alice).body, "status"),
                 u"refused"_s);
        QCOMPARE(element(post("/folioway/private/v1/remove?id=" + carolsId.toLatin1(), {}, Form, carol).body, "status"),
                 u"ok"_s);
        QVERIFY(QFileInfo::exists(privateFile(text)));
    }

    // A large book is named when stored, so its first opening does not read it once more for
    // that; a file changed since is named again, never by the name kept for its old bytes. The
    // list read back by a restarted server is the one built, whatever its titles hold.
    void listsAndNamesKept_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::newRow("as stored") << false;
        QTest::newRow("changed by hand, same size") << true;
    }
    void listsAndNamesKept()
    {
        QFETCH(bool, changed);
        QByteArray text = "第一章 \"引\\号\" <&>\x01\t尾\n" + QByteArray(BookPrint::kKeptFrom, 'a') + "\n第二章 末\n";
        const qint64 id = addBook(text, Review::Approved, 0);
        const auto row = Store::forThread(m_config.databaseLocation()).catalogue().book(id);
        QVERIFY(row);
        const QString file = QDir(m_config.booksDir()).filePath(QString::number(id) + u"/m.txt"_s);
        QVERIFY(!BookPrint::kept(file).isEmpty());
        if (changed) {
            text.replace("末", "完");
            QFile out(file);
            QVERIFY(out.open(QIODevice::ReadWrite) && out.write(text) == text.size());
            // As an editor saving a second later would leave it, however fast this machine writes.
            QVERIFY(out.setFileTime(QDateTime::currentDateTime().addSecs(1), QFileDevice::FileModificationTime));
        }
        // With a rule of the reader's own, whose list a restarted server takes only from the disk.
        const auto built = WebBooks(m_config.booksDir()).toc(*row, BookReading{.rule = u"^第.章"_s}.toText());
        QVERIFY2(built->ok() && built->notice.isEmpty(), qPrintable(built->error + built->notice));
        QCOMPARE(built->fingerprint, BookPrint::of(text));
        const auto read = WebBooks(m_config.booksDir()).kept(*row, built->rule);
        QVERIFY(read);
        QCOMPARE(read->fingerprint, built->fingerprint);
        QCOMPARE(read->lineCount, built->lineCount);
        QCOMPARE(read->chapters.size(), 2);
        for (qsizetype i = 0; i < read->chapters.size(); ++i) {
            QCOMPARE(read->chapters.at(i).title, built->chapters.at(i).title);
            QCOMPARE(read->chapters.at(i).lastLine, built->chapters.at(i).lastLine);
        }
        QCOMPARE(read->chapters.first().title, u"第一章 \"引\\号\" <&>\x01\t尾"_s);
    }
};

QTEST_GUILESS_MAIN(TestServerWeb)
#include "tst_server_web.moc"
