// The web reader's answers without sockets: the headers every answer carries, the token every
// change needs, who may read which book, chapters as plain text and places as sync items.

#include "RouterFixture.h"
#include "web/WebReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
        const Response answer = m_web->handle(r);
        return answer.deferred ? answer.deferred() : answer;
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
        QFETCH(int, status);
        const Response r = web("GET", target, loggedIn ? m_alice : QByteArray());
        QCOMPARE(r.status, status);
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
};

QTEST_GUILESS_MAIN(TestServerWeb)
#include "tst_server_web.moc"
