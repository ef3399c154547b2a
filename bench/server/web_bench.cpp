// The web reader's chapter requests under load: a logged-in browser's chapters of a demo book,
// deflated, from 64 connections with wrk (folioway-server-bench --web-only).

#include "LiveServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr double kTargetRequestsPerSecond = 5000;
constexpr double kTargetP99Ms = 20;

QByteArray curl(const QStringList &args)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("curl")), QStringList{QStringLiteral("-s")} + args);
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

double ms(const QRegularExpressionMatch &m)
{
    const double v = m.captured(1).toDouble();
    return m.captured(2) == u"us" ? v / 1000 : m.captured(2) == u"s" ? v * 1000 : v;
}

} // namespace

int webBench(const QString &binDir, int connections, int seconds)
{
    QTemporaryDir dir;
    LiveServer server;
    if (!dir.isValid() || !server.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                                                 QStringLiteral("--demo"), QStringLiteral("--no-log"),
                                                 QStringLiteral("--per-address"), QStringLiteral("100000")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return 2;
    }
    const QString base = server.baseUrl();
    const QString jar = dir.filePath(QStringLiteral("cookies"));
    curl({QStringLiteral("--data"), QStringLiteral("action=reg&username=bench&userpass=bench1&email=b%40x.cn"),
          base + QStringLiteral("/readerserver/userinfo.asp")});
    const QJsonObject session = QJsonDocument::fromJson(curl({QStringLiteral("-c"), jar, base + QStringLiteral("/read/api/session")})).object();
    curl({QStringLiteral("-b"), jar, QStringLiteral("-c"), jar, QStringLiteral("-H"),
          QStringLiteral("X-Folioway-Token: ") + session.value(u"token").toString(), QStringLiteral("--data"),
          QStringLiteral("username=bench&password=bench1"), base + QStringLiteral("/read/api/login")});
    QFile cookies(jar);
    cookies.open(QIODevice::ReadOnly);
    const auto login = QRegularExpression(QStringLiteral("folioway_session\\t(\\S+)")).match(QString::fromLatin1(cookies.readAll()));
    // The first answer builds the chapter list; the load reads it.
    const QByteArray first = curl({QStringLiteral("-b"), jar, base + QStringLiteral("/read/api/book/1")});
    const int chapters = int(QJsonDocument::fromJson(first).object().value(u"chapters").toArray().size());
    if (!login.hasMatch() || chapters < 1) {
        std::fprintf(stderr, "could not log in or open the book: %s\n", first.constData());
        return 2;
    }
    const QString script = dir.filePath(QStringLiteral("chapters.lua"));
    QFile lua(script);
    lua.open(QIODevice::WriteOnly);
    lua.write(QStringLiteral("wrk.headers[\"Cookie\"] = \"folioway_session=%1\"\n"
                             "wrk.headers[\"Accept-Encoding\"] = \"gzip, deflate\"\n"
                             "local n = 0\n"
                             "request = function()\n  n = n %% %2 + 1\n"
                             "  return wrk.format(\"GET\", \"/read/api/book/1/\" .. n)\nend\n")
                  .arg(login.captured(1))
                  .arg(chapters)
                  .toUtf8());
    lua.close();
    QProcess load;
    load.start(QStandardPaths::findExecutable(QStringLiteral("wrk")),
               {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds),
                QStringLiteral("--latency"), QStringLiteral("-s"), script, base + u'/'});
    load.waitForFinished((seconds + 60) * 1000);
    const QString out = QString::fromUtf8(load.readAllStandardOutput());
    const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out);
    const auto p99 = QRegularExpression(QStringLiteral("\\s99%\\s+([\\d.]+)(us|ms|s)")).match(out);
    const bool errors = out.contains(u"Non-2xx") || out.contains(u"Socket errors");
    if (!rps.hasMatch() || !p99.hasMatch()) {
        std::fprintf(stderr, "could not read the wrk report\n%s\n", qPrintable(out));
        return 2;
    }
    const bool met = rps.captured(1).toDouble() >= kTargetRequestsPerSecond && ms(p99) <= kTargetP99Ms && !errors;
    std::printf("web reader chapters (%d of them), %d connections, %d s: %.0f requests/s, p99 %.2f ms%s\n"
                "target (>= %.0f requests/s, p99 <= %.0f ms, no errors): %s\n",
                chapters, connections, seconds, rps.captured(1).toDouble(), ms(p99), errors ? ", with errors" : "",
                kTargetRequestsPerSecond, kTargetP99Ms, met ? "met" : "MISSED");
    return met ? 0 : 1;
}
