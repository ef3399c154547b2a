#include "TinyHttpServer.h"
#include "catalogue/CatalogueProtocol.h"
#include "net/AnswerReader.h"
#include "net/NetworkLimits.h"
#include "net/RequestSlot.h"

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

    // What one request comes back with: an answer whatever its status, a transport failure, or
    // the end of redirects, which are followed on the server asked only and for a few hops.
    void exchange_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status"); // 0: failed
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("timedOut"); // the failure is told as the server's silence
        QTest::newRow("without length") << "/plain?rnt=2024/3/7%209:05:33"_ba << 200 << "<a>正文</a>"_ba << false;
        QTest::newRow("an error status is an answer") << "/404"_ba << 404 << "<a>正文</a>"_ba << false;
        QTest::newRow("silent server times out") << "/silent"_ba << 0 << QByteArray() << true;
        QTest::newRow("stalled body times out") << "/stall"_ba << 0 << QByteArray() << true;
        QTest::newRow("connection dropped mid-body") << "/drop"_ba << 0 << QByteArray() << false;
        QTest::newRow("connection refused") << "refused"_ba << 0 << QByteArray() << false;
        // An announced size is refused before the body (tst_serverinfocheck); here it is not sent.
        QTest::newRow("answer beyond the size limit") << "/large"_ba << 0 << QByteArray() << false;
        QTest::newRow("redirects on the same server") << "/hop/3"_ba << 200 << "arrived"_ba << false;
        QTest::newRow("too many hops") << "/hop/4"_ba << 0 << QByteArray() << false;
        QTest::newRow("redirect to another server") << "/away"_ba << 0 << QByteArray() << false;
    }
    void exchange()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, timedOut);
        TinyHttpServer other([](const TinyHttpServer::Request &) { return TinyHttpServer::reply("elsewhere"); });
        TinyHttpServer server([&](const TinyHttpServer::Request &request) {
            const QByteArray t = request.target;
            if (t == "/hop/0")
                return TinyHttpServer::reply("arrived");
            if (t.startsWith("/hop/") || t == "/away")
                return TinyHttpServer::reply({}, 302).header(
                    "Location", t == "/away" ? other.baseUrl().toLatin1() + "/x" : "/hop/" + QByteArray::number(t.mid(5).toInt() - 1));
            if (t == "/silent")
                return TinyHttpServer::noAnswer();
            const bool answer = t == "/404" || t.startsWith("/plain");
            return TinyHttpServer::Response{.status = t == "/404" ? 404 : 200,
                                            .contentType = t == "/404" ? "text/html" : "text/xml",
                                            .body = answer ? "<a>正文</a>" : QByteArray(t == "/large" ? 200000 : 1000, 'x'),
                                            .sendLength = t != "/large" && !t.startsWith("/plain"),
                                            .stallAfter = t == "/stall" ? 10 : -1, .dropAfter = t == "/drop" ? 10 : -1};
        });
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString base = target == "refused" ? u"http://127.0.0.1:%1/x"_s.arg(closed.serverPort()) : server.baseUrl();
        closed.close();
        RequestSlot slot;
        slot.setTransferTimeout(300);
        slot.setMaxBodyBytes(50000);
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.get(target == "refused" ? base : base + QString::fromLatin1(target));
        QVERIFY(slot.isBusy());
        const HttpResult result = waitForResult(spy);
        QVERIFY(!slot.isBusy());
        QCOMPARE(QList<int>({result.status, result.failed, result.tooLarge}), QList<int>({status, !status, target == "/large"}));
        QCOMPARE(result.body, body);
        QCOMPARE(result.timedOut, timedOut);
        if (!status)
            QCOMPARE(NoAnswerText(result).startsWith(u"无法连接服务器："_s), !timedOut);
        if (timedOut)
            QCOMPARE(NoAnswerText(result), u"服务器在 1 秒内没有回答。"_s);
        if (status)
            QCOMPARE(result.contentType, status == 404 ? u"text/html"_s : u"text/xml"_s);
        if (target.startsWith("/plain"))
            QCOMPARE(server.requests.value(0).target, target);
        QVERIFY(other.requests.isEmpty());
    }

    // A newer request on a slot replaces the older one; another slot runs beside it. The older
    // answer is sent first: had it not been dropped, it would be the first result.
    void slots_newerSupersedesOlder_separateDoNotInterfere()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            return TinyHttpServer::reply(request.target, 200, request.target == "/first" ? 100 : 300);
        });
        RequestSlot slot, list;
        QSignalSpy spy(&slot, &RequestSlot::finished), listSpy(&list, &RequestSlot::finished);
        slot.get(server.baseUrl() + u"/first"_s);
        list.readHTTP(server.baseUrl() + u"/list"_s);
        slot.postForm(server.baseUrl() + u"/edit"_s, "a=1");
        QCOMPARE(waitForResult(spy).body, "/edit"_ba);
        QCOMPARE(waitForResult(listSpy).body, "/list"_ba);
    }

    // A hostile server's answer, one element with 200,000 attributes, is refused; it is
    // read on a worker while the event loop keeps turning: the worker waits for a 0 ms timer of
    // this thread before it parses. A later read supersedes an unfinished one.
    void answerReader_hostileAnswerOffTheThread()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &) {
            return TinyHttpServer::reply("<root><bookinfo" + " a=\"\""_ba.repeated(200000) + "/></root>");
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

    // The one move off the asked address that is followed: the same server going over to https.
    void redirectRule_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("same origin, default port written out") << u"http://h/a"_s << u"http://H:80/b"_s << true;
        QTest::newRow("to https, default ports") << u"http://h/a"_s << u"https://h/a"_s << true;
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
};

QTEST_GUILESS_MAIN(TestRequestSlot)
#include "tst_requestslot.moc"
