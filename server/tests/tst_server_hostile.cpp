#include "FairQueue.h"
#include "LiveServer.h"
#include "TestSupport.h"
#include "XmlFields.h"

#include <QDir>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

using TestSupport::binDir;

// Descriptors of the process that are sockets: its listening socket and its connections.
int socketsOf(qint64 pid)
{
    int n = 0;
    const QDir fds(u"/proc/%1/fd"_s.arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        n += fd.symLinkTarget().contains(u"socket:"_s);
    return n;
}

// Clock ticks the process has run, on every core, since it started.
qint64 cpuTicks(qint64 pid)
{
    const QByteArray stat = TestSupport::readFile(u"/proc/%1/stat"_s.arg(pid));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
}

} // namespace

#define START(server, ...) QVERIFY2((server).start(binDir(), __VA_ARGS__), qPrintable((server).output()))

// The real binary against a determined attacker: connections that stall the TLS handshake.
class TestServerHostile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cert, m_key;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!LiveServer::binary(binDir()).isEmpty(), qPrintable(binDir()));
        m_cert = m_dir.filePath(u"cert.pem"_s);
        m_key = m_dir.filePath(u"key.pem"_s);
        const TestSupport::ProgramRun made = TestSupport::runProgram(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s,
            u"-pkeyopt"_s, u"ec_paramgen_curve:P-256"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
            u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s, m_key, u"-out"_s, m_cert});
        if (made.exitCode != 0)
            m_cert.clear();
    }

    // The password queue orders checks by their address's recent failures and, when full, takes
    // the place of the worst: a newcomer with fewer failures is never turned away by guessers.
    void passwordQueue_ordersByFailures_data()
    {
        QTest::addColumn<QStringList>("jobs");  // "group:rank" pushed in turn into a queue of three
        QTest::addColumn<QString>("admitted");  // per job: + queued, - turned away, x queued then pushed out
        QTest::addColumn<QString>("order");     // the groups of the jobs run, in order
        QTest::newRow("fresh address before failing ones")
            << QStringList{u"a:2"_s, u"b:1"_s, u"c:0"_s} << u"+++"_s << u"cba"_s;
        QTest::newRow("known address before everyone")
            << QStringList{u"a:0"_s, u"b:-1"_s, u"c:3"_s} << u"+++"_s << u"bac"_s;
        QTest::newRow("full: the most failures give way")
            << QStringList{u"a:5"_s, u"b:2"_s, u"a:5"_s, u"c:0"_s, u"d:1"_s} << u"x+x++"_s << u"cdb"_s;
        QTest::newRow("full: an equal rank waits its turn")
            << QStringList{u"a:1"_s, u"b:1"_s, u"c:1"_s, u"d:1"_s} << u"+++-"_s << u"abc"_s;
        QTest::newRow("full: one address's pile gives way at an equal rank")
            << QStringList{u"a:0"_s, u"a:0"_s, u"a:0"_s, u"d:0"_s} << u"++x+"_s << u"ada"_s;
    }
    void passwordQueue_ordersByFailures()
    {
        QFETCH(QStringList, jobs);
        QFETCH(QString, admitted);
        QFETCH(QString, order);
        QString ran, seen(jobs.size(), u'-');
        {
            FairQueue queue(3);
            for (qsizetype i = 0; i < jobs.size(); ++i) {
                const QStringList job = jobs[i].split(u':');
                const bool queued = queue.push(job[0].toLatin1(), {[&ran, job] { ran += job[0]; },
                                                                   [&seen, i] { seen[i] = u'x'; }, false, job[1].toInt()});
                if (queued)
                    seen[i] = u'+';
            }
            queue.start(1);
        } // stopping runs what is queued
        QCOMPARE(seen, admitted);
        QCOMPARE(ran, order);
    }

    // Connections that never finish their handshake are cut at the head deadline, and once cut
    // they cost nothing: the server's sockets go back to what they were and its threads sleep.
    void tls_stalledHandshakesAreFreed_data()
    {
        QTest::addColumn<QByteArray>("sent"); // the start of a handshake, then nothing more
        QTest::addColumn<bool>("reset");      // the client resets the connection instead of waiting
        QTest::addColumn<bool>("handshake");  // the handshake completes, no request follows
        QTest::newRow("nothing sent") << QByteArray() << false << false;
        QTest::newRow("half a ClientHello") << "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"_ba << false << false;
        QTest::newRow("reset mid-handshake") << "\x16\x03\x01\x02\x00\x01"_ba << true << false;
        QTest::newRow("handshake, no request") << QByteArray() << false << true;
    }
    void tls_stalledHandshakesAreFreed()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, reset);
        QFETCH(bool, handshake);
        if (m_cert.isEmpty() || !QSslSocket::supportsSsl())
            QSKIP("openssl or Qt's TLS back end is missing");
        LiveServer server;
        START(server, {u"--data"_s, m_dir.filePath(u"tls-"_s + QTest::currentDataTag()), u"--no-log"_s, u"--head-timeout"_s,
                       u"1"_s, u"--tls-cert"_s, m_cert, u"--tls-key"_s, m_key});
        const int before = socketsOf(server.pid());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(m_cert));
        std::vector<std::unique_ptr<QSslSocket>> stalled;
        for (int i = 0; i < 8; ++i) {
            auto socket = std::make_unique<QSslSocket>();
            socket->setSslConfiguration(tls);
            if (handshake) {
                socket->connectToHostEncrypted(u"127.0.0.1"_s, server.port());
                QVERIFY(socket->waitForEncrypted(10000));
            } else {
                socket->connectToHost(QHostAddress::LocalHost, server.port());
                QVERIFY(socket->waitForConnected(10000));
                socket->write(sent);
                socket->waitForBytesWritten(5000);
            }
            if (reset) {
                const linger abortive{1, 0};
                ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                socket->abort();
            }
            stalled.push_back(std::move(socket));
        }
        // The server ends each connection itself, past its deadline.
        for (auto &socket : stalled) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                QVERIFY(socket->waitForDisconnected(30000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(socketsOf(server.pid()), before, 30000);
        // A spinning event loop would run a core through the whole second.
        const qint64 ticks = cpuTicks(server.pid());
        QTest::qWait(1000);
        const qint64 spent = cpuTicks(server.pid()) - ticks;
        QVERIFY2(spent * 1000 / sysconf(_SC_CLK_TCK) < 200, qPrintable(u"%1 ticks in a second"_s.arg(spent)));
        // And the port still serves.
        QSslSocket client;
        client.setSslConfiguration(tls);
        client.connectToHostEncrypted(u"127.0.0.1"_s, server.port());
        client.write("GET /readerserver/getinfo.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (client.waitForReadyRead(10000))
            answer += client.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
        QCOMPARE(server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerHostile)
#include "tst_server_hostile.moc"
