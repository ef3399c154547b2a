#include "LiveServer.h"
#include "XmlFields.h"
#include "http/AccessLog.h"
#include "http/FairQueue.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include <gnutls/gnutls.h>

#include <netinet/in.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

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

// One request over a connection of its own; the whole answer once the server closes it.
QByteArray exchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return {};
    socket.write(bytes);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QByteArray request(quint16 port, const QByteArray &method, const QByteArray &target, const QByteArray &cookie = {},
                   const QByteArray &body = {})
{
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
    if (!cookie.isEmpty())
        head += "Cookie: " + cookie + "\r\n";
    if (method == "POST")
        head += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    return exchange(port, head + "\r\n" + body);
}

QByteArray bodyOf(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// Signs a reader up and logs in; the session cookie, or empty.
QByteArray signedIn(quint16 port, const QByteArray &name)
{
    request(port, "POST", "/readerserver/userinfo.asp", {}, "action=reg&username=" + name + "&userpass=secret&email=w%40x%2Ecn");
    const QByteArray answer = request(port, "GET", "/readerserver/userinfo.asp?action=login&username=" + name + "&password=secret");
    const qsizetype at = answer.indexOf("folioway_session=");
    return at < 0 ? QByteArray() : answer.mid(at, answer.indexOf(';', at) - at);
}

// Over TLS 1.3, on one connection: a request, its answer, then a key update and the request
// again in one write, as a client's buffered output may arrive; the second answer.
QByteArray keyUpdateBetween(quint16 port, const QByteArray &request)
{
    struct Link
    {
        int fd;
        QByteArray held;
        bool holding = false;
    } link{::socket(AF_INET, SOCK_STREAM, 0)};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval wait{30, 0};
    ::setsockopt(link.fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    gnutls_session_t session = nullptr;
    gnutls_init(&session, GNUTLS_CLIENT);
    gnutls_priority_set_direct(session, "NORMAL:-VERS-ALL:+VERS-TLS1.3", nullptr);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
    gnutls_transport_set_ptr(session, &link);
    gnutls_transport_set_push_function(session, [](gnutls_transport_ptr_t p, const void *data, size_t n) -> ssize_t {
        auto *l = static_cast<Link *>(p);
        if (!l->holding)
            return ::send(l->fd, data, n, MSG_NOSIGNAL);
        l->held.append(static_cast<const char *>(data), qsizetype(n));
        return ssize_t(n);
    });
    gnutls_transport_set_pull_function(session, [](gnutls_transport_ptr_t p, void *data, size_t n) {
        return ::recv(static_cast<Link *>(p)->fd, data, n, 0);
    });
    QByteArray answer;
    const auto receive = [&](bool whole) { // whole: until the server closes, else one answer
        char buffer[4096];
        for (int r = 0; (r = int(gnutls_record_recv(session, buffer, sizeof buffer))) > 0 || r == GNUTLS_E_AGAIN;) {
            answer.append(buffer, std::max(r, 0));
            const qsizetype end = answer.indexOf("\r\n\r\n");
            const QByteArray length = end < 0 ? QByteArray() : answer.mid(answer.indexOf("Content-Length: ") + 16).split('\r')[0];
            if (!whole && end >= 0 && answer.size() >= end + 4 + length.toLongLong())
                return;
        }
    };
    int r = ::connect(link.fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    while (r == 0 && (r = gnutls_handshake(session)) < 0 && !gnutls_error_is_fatal(r)) {
    }
    if (r == 0) {
        gnutls_record_send(session, request.constData(), size_t(request.size()));
        receive(false);
        answer.clear();
        link.holding = true;
        gnutls_session_key_update(session, 0);
        const QByteArray last = QByteArray(request).replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n");
        gnutls_record_send(session, last.constData(), size_t(last.size()));
        ::send(link.fd, link.held.constData(), size_t(link.held.size()), MSG_NOSIGNAL);
        receive(true);
    }
    gnutls_deinit(session);
    gnutls_certificate_free_credentials(credentials);
    ::close(link.fd);
    return answer;
}

QByteArray syncItem(int n, qsizetype payload)
{
    return "<item><kind>shelf</kind><key>k" + QByteArray::number(n) + "</key><changed>1700000000000</changed><payload>" +
           QByteArray(payload, 'p') + "</payload></item>";
}

} // namespace

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
        QVERIFY2(!LiveServer::binary(TestSupport::binDir()).isEmpty(), qPrintable(TestSupport::binDir()));
        m_cert = m_dir.filePath(u"cert.pem"_s);
        m_key = m_dir.filePath(u"key.pem"_s);
        const TestSupport::ProgramRun made = TestSupport::runProgram(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s,
            u"-pkeyopt"_s, u"ec_paramgen_curve:P-256"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
            u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s, m_key, u"-out"_s, m_cert});
        if (made.exitCode != 0)
            m_cert.clear();
    }

    // What clients typed reaches terminals and logs with every control character visible.
    void controlCharacters_areShown_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("keepTabs"); // a table's own columns
        QTest::addColumn<QString>("shown");
        QTest::newRow("clear screen") << u"\x1b[2J书名"_s << false << u"\\x1b[2J书名"_s;
        QTest::newRow("bell, forged row") << u"a\x07\r\nb\tc"_s << false << u"a\\x07\\x0d\\x0ab\\x09c"_s;
        QTest::newRow("C1 and DEL") << u"x\u009b1m\x7f"_s << false << u"x\\x9b1m\\x7f"_s;
        QTest::newRow("table columns") << u"1\t书\x1b"_s << true << u"1\t书\\x1b"_s;
    }
    void controlCharacters_areShown()
    {
        QFETCH(QString, text);
        QFETCH(bool, keepTabs);
        QTEST(AccessLog::visible(text, keepTabs), "shown");
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
        QTEST(seen, "admitted");
        QTEST(ran, "order");
    }

    // Hostile pushes are refused readably and keep nothing: a shape that would cost the XML
    // reader quadratic time, more than the reader's quota, content around the root, and any
    // push while the disk is nearly full.
    void sync_hostilePushesKeepNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("earlier"); // kept before the push
        QTest::addColumn<QByteArray>("push");
        QTest::addColumn<QString>("message"); // part of the refusal
        QByteArray attributes = "<sync><item";
        for (int i = 0; i < 95000; ++i)
            attributes += " a" + QByteArray::number(i) + "=''";
        attributes += "/></sync>";
        QByteArray elements = "<sync>" + syncItem(0, 10);
        for (int i = 0; i < 20000; ++i)
            elements += "<x/>";
        elements += "</sync>";
        QByteArray large = "<sync>", more = "<sync>";
        for (int i = 0; i < 240; ++i) {
            large += syncItem(i, 4000);
            more += syncItem(1000 + i, 4000);
        }
        large += "</sync>";
        more += "</sync>";
        const QByteArray one = "<sync>" + syncItem(0, 10) + "</sync>";
        QTest::newRow("95,000 attributes") << QStringList() << one << attributes << u"属性"_s;
        QTest::newRow("20,000 elements") << QStringList() << one << elements << u"元素和属性超过"_s;
        QTest::newRow("past the quota") << QStringList{u"--sync-quota"_s, u"1"_s} << large << more << u"已达上限（1MB）"_s;
        QTest::newRow("text after the root") << QStringList() << one << one.chopped(7) + "1</sync>trailing"_ba
                                             << u"之后还有内容"_s;
        QTest::newRow("namespaced root") << QStringList() << one << "<n:sync xmlns:n='urn:x'>" + syncItem(1, 10) + "</n:sync>"_ba
                                         << u"缺少 sync 元素"_s;
        QTest::newRow("disk nearly full") << QStringList{u"--disk-floor-mb"_s, u"1000000"_s} << QByteArray() << one
                                          << u"存储空间不足"_s;
    }
    void sync_hostilePushesKeepNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, earlier);
        QFETCH(QByteArray, push);
        QFETCH(QString, message);
        // Signed up first: with the disk nearly full, sign-ups are refused too.
        const QStringList data{u"--data"_s, m_dir.filePath(u"sync-"_s + QTest::currentDataTag()), u"--no-log"_s};
        QByteArray cookie;
        {
            LiveServer first;
            START(first, data);
            cookie = signedIn(first.port(), "pusher");
        }
        QVERIFY(!cookie.isEmpty());
        LiveServer server;
        START(server, data + arguments);
        const auto last = [&] {
            return XmlFields::values(bodyOf(request(server.port(), "GET", "/folioway/sync/v1/pull?after=0&limit=1", cookie)), u"last"_s);
        };
        if (!earlier.isEmpty())
            QCOMPARE(XmlFields::values(bodyOf(request(server.port(), "POST", "/folioway/sync/v1/push", cookie, earlier)), u"status"_s),
                     QStringList{u"ok"_s});
        const QStringList before = last();
        const QByteArray answer = bodyOf(request(server.port(), "POST", "/folioway/sync/v1/push", cookie, push));
        QCOMPARE(XmlFields::values(answer, u"status"_s), QStringList{u"refused"_s});
        QVERIFY2(XmlFields::values(answer, u"message"_s).value(0).contains(message), answer.constData());
        QCOMPARE(last(), before);
        const QByteArray page = bodyOf(request(server.port(), "GET", "/folioway/sync/v1/pull?after=0&limit=abc", cookie));
        QCOMPARE(XmlFields::values(page, u"status"_s), QStringList{u"refused"_s});
    }

    // Connections that never finish their handshake are cut at the head deadline, and once cut
    // they cost nothing: the server's sockets go back to what they were and its threads sleep.
    void tls_stalledHandshakesAreFreed_data()
    {
        QTest::addColumn<QByteArray>("sent"); // the start of a handshake, then nothing more
        QTest::addColumn<bool>("reset");      // the client resets the connection instead of waiting
        QTest::addColumn<bool>("handshake");  // the handshake completes, no request follows
        QTest::addColumn<bool>("stop");       // the server is stopped while they stall
        const QByteArray half = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"_ba;
        QTest::newRow("nothing sent") << QByteArray() << false << false << false;
        QTest::newRow("half a ClientHello") << half << false << false << false;
        QTest::newRow("reset mid-handshake") << "\x16\x03\x01\x02\x00\x01"_ba << true << false << false;
        QTest::newRow("handshake, no request") << QByteArray() << false << true << false;
        QTest::newRow("stopped while they stall") << half << false << false << true;
    }
    void tls_stalledHandshakesAreFreed()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, reset);
        QFETCH(bool, handshake);
        QFETCH(bool, stop);
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
        if (stop) {
            QCOMPARE(server.stop(), 0);
            return;
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
        // And the port still serves, a request that comes with a key update too.
        const QByteArray answer = keyUpdateBetween(server.port(), "GET /readerserver/getinfo.asp HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
        QCOMPARE(server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerHostile)
#include "tst_server_hostile.moc"
