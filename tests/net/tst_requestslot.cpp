#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "catalogue/CatalogueProtocol.h"
#include "net/AnswerReader.h"
#include "net/NetworkLimits.h"
#include "net/NetworkService.h"
#include "net/RequestSlot.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestRequestSlot : public QObject
{
    Q_OBJECT

    static HttpResult waitForResult(QSignalSpy &spy, int timeoutMs = 5000)
    {
        if (spy.isEmpty() && !spy.wait(timeoutMs))
            return HttpResult{-1, {}, {}, true, u"no signal"_s};
        return spy.takeFirst().at(0).value<HttpResult>();
    }

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<HttpResult>(); }

    void answer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("sendLength");
        QTest::newRow("without length") << 200 << "text/xml"_ba << false;
        QTest::newRow("an error status is an answer") << 404 << "text/html"_ba << true;
    }
    void answer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, sendLength);
        TinyHttpServer server([&](const TinyHttpServer::Request &) {
            return TinyHttpServer::Response{
                .status = status, .contentType = contentType, .body = "<a>正文</a>", .sendLength = sendLength};
        });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.readHTTP(server.baseUrl() + u"/readerserver/listbook.asp?action=list&rnt=2024/3/7%209:05:33"_s);
        QVERIFY(slot.isBusy());
        const HttpResult result = waitForResult(spy);
        QCOMPARE(result.status, status);
        QVERIFY(!result.failed);
        QCOMPARE(result.contentType, QString::fromLatin1(contentType));
        QCOMPARE(result.body, "<a>正文</a>"_ba);
        QVERIFY(!slot.isBusy());
        QCOMPARE(server.requests.value(0).target, "/readerserver/listbook.asp?action=list&rnt=2024/3/7%209:05:33"_ba);
    }

    void transportFailures_data()
    {
        QTest::addColumn<int>("mode");
        // A server that never answers is timed out through the start-up check in tst_serverinfocheck.
        QTest::newRow("stalled body times out") << 0;
        QTest::newRow("connection dropped mid-body") << 2;
        QTest::newRow("connection refused") << 3;
        QTest::newRow("answer beyond the size limit") << 4;
    }
    void transportFailures()
    {
        QFETCH(int, mode);
        // An announced size is refused before the body (tst_serverinfocheck); here it is not sent.
        TinyHttpServer server([&](const TinyHttpServer::Request &) {
            return TinyHttpServer::Response{.body = QByteArray(mode == 4 ? 200000 : 1000, 'x'), .sendLength = mode != 4,
                                            .stallAfter = mode == 0 ? 10 : -1, .dropAfter = mode == 2 ? 10 : -1};
        });
        QString address = server.baseUrl() + u"/x"_s;
        QTcpServer closed;
        if (mode == 3) {
            closed.listen(QHostAddress::LocalHost, 0);
            address = u"http://127.0.0.1:%1/x"_s.arg(closed.serverPort());
            closed.close();
        }
        RequestSlot slot;
        slot.setTransferTimeout(300);
        slot.setMaxBodyBytes(50000);
        QSignalSpy spy(&slot, &RequestSlot::finished);
        QElapsedTimer clock;
        clock.start();
        slot.get(address);
        const HttpResult result = waitForResult(spy);
        QCOMPARE(result.status, 0);
        QVERIFY(result.failed);
        QCOMPARE(result.tooLarge, mode == 4);
        QVERIFY(result.body.isEmpty());
        QVERIFY2(clock.elapsed() < 4000, "the transfer timeout did not end the request");
    }

    // A newer request on a slot replaces the older one; separate slots run side by side.
    void slots_newerSupersedesOlder_separateDoNotInterfere()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            return TinyHttpServer::reply(request.target, 200, request.target.contains("first") ? 300 : 100);
        });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.get(server.baseUrl() + u"/first"_s);
        QTRY_COMPARE(server.requests.size(), 1);
        slot.get(server.baseUrl() + u"/second"_s);
        QCOMPARE(waitForResult(spy).body, "/second"_ba);
        QTest::qWait(500); // the first answer would have arrived by now
        QCOMPARE(spy.size(), 0);

        RequestSlot account, list;
        QSignalSpy accountSpy(&account, &RequestSlot::finished), listSpy(&list, &RequestSlot::finished);
        account.loginHTTP(server.baseUrl() + u"/check"_s);
        list.readHTTP(server.baseUrl() + u"/list"_s);
        account.postForm(server.baseUrl() + u"/edit"_s, "a=1");
        QCOMPARE(waitForResult(listSpy).body, "/list"_ba);
        QCOMPARE(waitForResult(accountSpy).body, "/edit"_ba);
    }

    // A hostile server's answer, one element with 200,000 attributes (1.7 MB), is refused; it is
    // read on a worker while the event loop keeps turning: the worker waits for a 0 ms timer of
    // this thread before it parses. A later read supersedes an unfinished one.
    void answerReader_hostileAnswerOffTheThread()
    {
        QByteArray attributes;
        for (int i = 0; i < 200000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        TinyHttpServer server([&](const TinyHttpServer::Request &) {
            return TinyHttpServer::reply("<root><bookinfo" + attributes + "/></root>");
        });
        RequestSlot slot;
        AnswerReader reader;
        QSemaphore ticked;
        std::atomic_bool tickedFirst = false;
        std::optional<CatalogueAnswer> answer;
        connect(&slot, &RequestSlot::finished, &reader, [&](const HttpResult &result) {
            AnswerReader::setWorkerHook([&] { tickedFirst = ticked.tryAcquire(1, 20000); });
            reader.read([result] { return ParseCatalogueAnswer(result); },
                        [&](const CatalogueAnswer &read) { answer = read; });
            AnswerReader::setWorkerHook({});
            QTimer::singleShot(0, &reader, [&] { ticked.release(); });
        });
        slot.readHTTP(server.baseUrl() + u"/readerserver/listbook.asp"_s);
        QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 40000);
        QVERIFY(tickedFirst);
        QCOMPARE(answer->outcome, AnswerOutcome::NoData);
        QCOMPARE(answer->problem, u"服务器的回答无法读取：其中一个元素带有超过 64 个属性。"_s);

        QStringList delivered;
        QSemaphore hold;
        AnswerReader::setWorkerHook([&] { hold.acquire(); });
        reader.read([] { return u"older"_s; }, [&](const QString &text) { delivered << text; });
        AnswerReader::setWorkerHook({});
        reader.read([] { return u"newer"_s; }, [&](const QString &text) { delivered << text; });
        QTRY_COMPARE(delivered, QStringList{u"newer"_s});
        hold.release();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(delivered, QStringList{u"newer"_s});
        QVERIFY(!reader.isBusy());
    }

    // Redirects stay on the server that was asked, and only for a few hops.
    void redirects_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body"); // empty: refused
        QTest::newRow("same server") << u"/hop/3"_s << "arrived"_ba;
        QTest::newRow("too many hops") << u"/hop/4"_s << QByteArray();
        QTest::newRow("another server") << u"/away"_s << QByteArray();
    }
    void redirects()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        TinyHttpServer other([](const TinyHttpServer::Request &) { return TinyHttpServer::reply("elsewhere"); });
        TinyHttpServer server([&](const TinyHttpServer::Request &request) {
            const QByteArray target = request.target;
            if (target == "/hop/0")
                return TinyHttpServer::reply("arrived");
            const QByteArray next = target == "/away" ? other.baseUrl().toLatin1() + "/x"
                                                      : "/hop/" + QByteArray::number(target.mid(5).toInt() - 1);
            return TinyHttpServer::reply({}, 302).header("Location", next);
        });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.get(server.baseUrl() + path);
        const HttpResult result = waitForResult(spy);
        QCOMPARE(result.failed, body.isEmpty());
        QCOMPARE(result.body, body);
        QVERIFY(other.requests.isEmpty());
    }

    // The one move off the asked address that is followed: the same server going over to https.
    void redirectRule_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("same origin, default port written out") << u"http://h/a"_s << u"http://H:80/b"_s << true;
        QTest::newRow("to https, default ports") << u"http://h/a"_s << u"https://h/a"_s << true;
        QTest::newRow("to https, 80 to 443 written out") << u"http://h:80/"_s << u"https://h:443/"_s << true;
        QTest::newRow("to https, same port") << u"http://h:8080/"_s << u"https://h:8080/"_s << true;
        QTest::newRow("to https, another port") << u"http://h:8080/"_s << u"https://h/"_s << false;
        QTest::newRow("back to http") << u"https://h/"_s << u"http://h/"_s << false;
        QTest::newRow("to https, another host") << u"http://h/"_s << u"https://g/"_s << false;
        QTest::newRow("another port") << u"http://h:8080/"_s << u"http://h:8081/"_s << false;
        QTest::newRow("another scheme") << u"http://h/"_s << u"ftp://h/"_s << false;
    }
    void redirectRule()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QTEST(RedirectAllowed(QUrl(from), QUrl(to)), "allowed");
    }

    void cookies_sentBackAndPersisted()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"cookies.dat"_s);
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            TinyHttpServer::Response r = TinyHttpServer::reply(request.headers.value("cookie"));
            if (request.target == "/login")
                r.header("Set-Cookie", "session=s1; Path=/")
                    .header("Set-Cookie", "remember=u1; Path=/; Max-Age=86400")
                    .header("Set-Cookie", "old=x; Path=/; Expires=Wed, 01 Jan 2020 00:00:00 GMT");
            return r;
        });
        {
            QNetworkAccessManager manager;
            auto *jar = new PersistentCookieJar(file);
            manager.setCookieJar(jar);
            RequestSlot slot(nullptr, &manager);
            QSignalSpy spy(&slot, &RequestSlot::finished);
            slot.loginHTTP(server.baseUrl() + u"/login"_s);
            waitForResult(spy);
            slot.loginHTTP(server.baseUrl() + u"/check"_s);
            const QByteArray sent = waitForResult(spy).body;
            QVERIFY2(sent.contains("session=s1") && sent.contains("remember=u1"), sent.constData());
            QVERIFY(!sent.contains("old="));
        }
        // Only the persistent cookie is kept, readable by this user alone. That it comes back
        // after a restart is seen with the real server in tst_account_live.
        const QByteArray kept = TestSupport::readFile(file);
        QVERIFY(kept.contains("remember") && !kept.contains("session") && !kept.contains("old"));
        const QFileDevice::Permissions others =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(!(QFile::permissions(file) & others));
    }
};

QTEST_GUILESS_MAIN(TestRequestSlot)
#include "tst_requestslot.moc"
