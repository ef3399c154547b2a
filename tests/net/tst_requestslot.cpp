#include "TinyHttpServer.h"
#include "net/NetworkService.h"
#include "net/RequestSlot.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestRequestSlot : public QObject
{
    Q_OBJECT

    static HttpResult waitForResult(QSignalSpy &spy, int timeoutMs = 5000)
    {
        if (spy.isEmpty() && !spy.wait(timeoutMs))
            return HttpResult{-1, {}, {}, true, QStringLiteral("no signal")};
        return spy.takeFirst().at(0).value<HttpResult>();
    }

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<HttpResult>(); }

    void answer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("sendLength");
        QTest::addColumn<int>("expectedStatus");
        QTest::addColumn<bool>("failed");
        QTest::newRow("xml") << 200 << QByteArray("text/xml; charset=gb2312") << true << 200 << false;
        QTest::newRow("without length") << 200 << QByteArray("text/xml") << false << 200 << false;
        QTest::newRow("not found is an answer") << 404 << QByteArray("text/html") << true << 404 << false;
        QTest::newRow("server error is an answer") << 500 << QByteArray("text/plain") << true << 500 << false;
    }
    void answer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, sendLength);
        QFETCH(int, expectedStatus);
        QFETCH(bool, failed);
        TinyHttpServer server([&](const TinyHttpServer::Request &) {
            TinyHttpServer::Response r;
            r.status = status;
            r.contentType = contentType;
            r.sendLength = sendLength;
            r.body = "<a>正文</a>";
            return r;
        });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.readHTTP(server.baseUrl() +
                      QStringLiteral("/readerserver/listbook.asp?action=list&rnt=2024/3/7%209:05:33"));
        QVERIFY(slot.isBusy());
        const HttpResult result = waitForResult(spy);
        QCOMPARE(result.status, expectedStatus);
        QCOMPARE(result.failed, failed);
        QCOMPARE(result.contentType, QString::fromLatin1(contentType));
        QCOMPARE(result.body, QByteArray("<a>正文</a>"));
        QVERIFY(!slot.isBusy());
        QCOMPARE(server.requests.value(0).target,
                 QByteArray("/readerserver/listbook.asp?action=list&rnt=2024/3/7%209:05:33"));
    }

    void transportFailures_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("stalled body times out") << 0;
        QTest::newRow("no answer times out") << 1;
        QTest::newRow("connection dropped mid-body") << 2;
        QTest::newRow("connection refused") << 3;
    }
    void transportFailures()
    {
        QFETCH(int, mode);
        TinyHttpServer server([&](const TinyHttpServer::Request &) {
            TinyHttpServer::Response r;
            r.body = QByteArray(1000, 'x');
            r.stallAfter = mode == 0 ? 10 : -1;
            r.silent = mode == 1;
            r.dropAfter = mode == 2 ? 10 : -1;
            return r;
        });
        QString address = server.baseUrl() + QStringLiteral("/x");
        if (mode == 3) {
            QTcpServer closed;
            closed.listen(QHostAddress::LocalHost, 0);
            address = QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort());
        }
        RequestSlot slot;
        slot.setTransferTimeout(300);
        QSignalSpy spy(&slot, &RequestSlot::finished);
        QElapsedTimer clock;
        clock.start();
        slot.get(address);
        const HttpResult result = waitForResult(spy);
        QCOMPARE(result.status, 0);
        QVERIFY(result.failed);
        QVERIFY(result.body.isEmpty());
        QVERIFY2(clock.elapsed() < 4000, "the transfer timeout did not end the request");
    }

    void newerRequestSupersedesOlder()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            TinyHttpServer::Response r;
            r.body = request.target;
            r.delayMs = request.target.contains("first") ? 300 : 0;
            return r;
        });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.get(server.baseUrl() + QStringLiteral("/first"));
        QTRY_COMPARE(server.requests.size(), 1);
        slot.get(server.baseUrl() + QStringLiteral("/second"));
        QCOMPARE(waitForResult(spy).body, QByteArray("/second"));
        QTest::qWait(500); // the first answer would have arrived by now
        QCOMPARE(spy.size(), 0);
    }

    void separateSlotsDoNotInterfere()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            TinyHttpServer::Response r;
            r.body = request.target;
            r.delayMs = 100;
            return r;
        });
        RequestSlot account, list;
        QSignalSpy accountSpy(&account, &RequestSlot::finished), listSpy(&list, &RequestSlot::finished);
        account.loginHTTP(server.baseUrl() + QStringLiteral("/check"));
        list.readHTTP(server.baseUrl() + QStringLiteral("/list"));
        account.postForm(server.baseUrl() + QStringLiteral("/edit"), "a=1");
        QCOMPARE(waitForResult(listSpy).body, QByteArray("/list"));
        QCOMPARE(waitForResult(accountSpy).body, QByteArray("/edit"));
    }

    void postForm_sendsBodyUnchanged()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &) { return TinyHttpServer::Response{}; });
        RequestSlot slot;
        QSignalSpy spy(&slot, &RequestSlot::finished);
        const QByteArray body = "action=reg&uname=%D5%C5&mail=a%40b.cn&x=1+2";
        slot.postForm(server.baseUrl() + QStringLiteral("/readerserver/userinfo.asp?action=reg"), body);
        QVERIFY(!waitForResult(spy).failed);
        QCOMPARE(server.requests.value(0).method, QByteArray("POST"));
        QCOMPARE(server.requests.value(0).body, body);
        QCOMPARE(server.requests.value(0).headers.value("content-type"),
                 QByteArray("application/x-www-form-urlencoded"));
    }

    void oversizedAnswerFails()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &) {
            TinyHttpServer::Response r;
            r.body = QByteArray(200000, 'x');
            return r;
        });
        RequestSlot slot;
        slot.setMaxBodyBytes(50000);
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.get(server.baseUrl() + QStringLiteral("/big"));
        const HttpResult result = waitForResult(spy);
        QVERIFY(result.failed);
        QCOMPARE(result.status, 0);
    }

    void cookies_sentBackAndPersisted()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("cookies.dat"));
        TinyHttpServer server([](const TinyHttpServer::Request &request) {
            TinyHttpServer::Response r;
            r.body = request.headers.value("cookie");
            if (request.target == "/login") {
                r.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=s1; Path=/")));
                r.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("remember=u1; Path=/; Max-Age=86400")));
                r.headers.append(qMakePair(QByteArray("Set-Cookie"),
                                           QByteArray("old=x; Path=/; Expires=Wed, 01 Jan 2020 00:00:00 GMT")));
            }
            return r;
        });
        {
            QNetworkAccessManager manager;
            auto *jar = new PersistentCookieJar(file);
            manager.setCookieJar(jar);
            RequestSlot slot(nullptr, &manager);
            QSignalSpy spy(&slot, &RequestSlot::finished);
            slot.loginHTTP(server.baseUrl() + QStringLiteral("/login"));
            waitForResult(spy);
            slot.loginHTTP(server.baseUrl() + QStringLiteral("/check"));
            const QByteArray sent = waitForResult(spy).body;
            QVERIFY2(sent.contains("session=s1") && sent.contains("remember=u1"), sent.constData());
            QVERIFY(!sent.contains("old="));
        }
        const QFileDevice::Permissions others =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(!(QFile::permissions(file) & others));
        // A restart: only the persistent cookie comes back from the file.
        QNetworkAccessManager manager;
        manager.setCookieJar(new PersistentCookieJar(file));
        RequestSlot slot(nullptr, &manager);
        QSignalSpy spy(&slot, &RequestSlot::finished);
        slot.loginHTTP(server.baseUrl() + QStringLiteral("/check"));
        QCOMPARE(waitForResult(spy).body, QByteArray("remember=u1"));
    }
};

QTEST_GUILESS_MAIN(TestRequestSlot)
#include "tst_requestslot.moc"
