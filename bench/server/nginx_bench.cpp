// The cached catalogue list page beside nginx serving the same bytes as a static file, both
// with wrk over the same connections, in turn in one run. nginx (Debian's
// nginx-light) is started on a free loopback port with a configuration of our own and
// "worker_processes auto"; without nginx the comparison is skipped. Goal: >= 1.0x nginx.

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

const char kListPath[] = "/readerserver/listbook.asp?action=list";

double wrkRate(const QString &url, int connections, int seconds)
{
    QProcess wrk;
    wrk.start(QStandardPaths::findExecutable(QStringLiteral("wrk")),
              {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds), url});
    wrk.waitForFinished((seconds + 30) * 1000);
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    if (out.contains(QStringLiteral("Non-2xx")))
        return 0;
    return QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out).captured(1).toDouble();
}

QByteArray fetch(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(10000))
        answer += socket.readAll();
    return answer;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

// True unless the list page is served below nginx's rate.
bool listBesideNginx(const QTemporaryDir &dir, quint16 serverPort, int connections, int seconds)
{
    const QString nginx = QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (nginx.isEmpty()) {
        std::printf("catalogue list beside nginx: skipped (nginx is not installed; Debian package nginx-light)\n");
        return true;
    }
    const QByteArray answer = fetch(serverPort, kListPath);
    const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    const QByteArray type = QRegularExpression(QStringLiteral("Content-Type: ([^\\r]*)"), QRegularExpression::CaseInsensitiveOption)
                                .match(QString::fromLatin1(answer))
                                .captured(1)
                                .toLatin1();
    const QString root = dir.filePath(QStringLiteral("nginx"));
    QDir().mkpath(root + QStringLiteral("/www/readerserver"));
    QFile page(root + QStringLiteral("/www/readerserver/listbook.asp"));
    const quint16 port = freePort();
    QFile conf(root + QStringLiteral("/nginx.conf"));
    if (body.isEmpty() || !page.open(QIODevice::WriteOnly) || page.write(body) != body.size() || !conf.open(QIODevice::WriteOnly)) {
        std::printf("catalogue list beside nginx: not measured (no list page)\n");
        return false;
    }
    page.close();
    conf.write(QStringLiteral("worker_processes auto;\ndaemon off;\npid %1/nginx.pid;\nerror_log %1/error.log;\n%2"
                              "events { worker_connections 4096; }\n"
                              "http {\n access_log off;\n sendfile on;\n tcp_nopush on;\n types { }\n default_type \"%3\";\n"
                              " client_body_temp_path %1/tmp;\n proxy_temp_path %1/tmp;\n fastcgi_temp_path %1/tmp;\n"
                              " uwsgi_temp_path %1/tmp;\n scgi_temp_path %1/tmp;\n"
                              " server {\n  listen 127.0.0.1:%4;\n  root %1/www;\n }\n}\n")
                   .arg(root, ::geteuid() == 0 ? QStringLiteral("user root;\n") : QString(), QString::fromLatin1(type))
                   .arg(port)
                   .toUtf8());
    conf.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(nginx, {QStringLiteral("-c"), conf.fileName(), QStringLiteral("-p"), root});
    QByteArray served;
    for (int i = 0; i < 50 && served.isEmpty() && server.state() != QProcess::NotRunning; ++i) {
        QEventLoop wait;
        QTimer::singleShot(100, &wait, &QEventLoop::quit);
        wait.exec();
        served = fetch(port, kListPath);
    }
    if (!served.endsWith(body)) {
        std::printf("catalogue list beside nginx: not measured (nginx did not serve the page: %s)\n",
                    (server.readAll() + served.left(200)).constData());
        server.kill();
        server.waitForFinished();
        return true;
    }
    // Turn about, three times each; the best of each stands, as the machine's other work
    // comes and goes.
    double ours = 0, theirs = 0;
    const int each = std::max(3, seconds / 2);
    for (int round = 0; round < 3; ++round) {
        ours = std::max(ours, wrkRate(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort).arg(QLatin1String(kListPath)),
                                      connections, each));
        theirs = std::max(theirs, wrkRate(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(kListPath)),
                                          connections, each));
    }
    server.terminate();
    if (!server.waitForFinished(10000))
        server.kill();
    const double ratio = theirs > 0 ? ours / theirs : 0;
    std::printf("cached catalogue list (%lld bytes), %d connections, best of 3 runs of %d s: %.0f requests/s; nginx, "
                "worker_processes auto, the same bytes, in turn: %.0f requests/s; %.2fx (goal >= 1.0x): %s\n",
                static_cast<long long>(body.size()), connections, each, ours, theirs, ratio, ratio >= 1.0 ? "met" : "MISSED");
    return ratio >= 1.0;
}
