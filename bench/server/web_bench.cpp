// The web reader's chapter requests under load: a logged-in browser's chapters of a demo book,
// deflated, from 64 connections with wrk (folioway-server-bench --web-only), on SQLite and on a
// throw-away PostgreSQL cluster.

#include "LiveServer.h"
#include "PgCluster.h"

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

// One back end: 0 when the targets are met, 1 when not, 2 when it could not be measured.
int measure(const char *backEnd, const QString &binDir, const QStringList &arguments, int connections, int seconds)
{
    QTemporaryDir dir;
    LiveServer server;
    if (!dir.isValid() || !server.start(binDir, arguments + QStringList{QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
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
    struct Run
    {
        double rps = 0;
        double p99 = 0;
        bool errors = false;
        bool read = false;
    };
    // pace: milliseconds each connection waits between its requests; 0 for as fast as it can.
    const auto run = [&](int pace) {
        const QString script = dir.filePath(QStringLiteral("chapters-%1.lua").arg(pace));
        QFile lua(script);
        lua.open(QIODevice::WriteOnly);
        lua.write(QStringLiteral("wrk.headers[\"Cookie\"] = \"folioway_session=%1\"\n"
                                 "wrk.headers[\"Accept-Encoding\"] = \"gzip, deflate\"\n"
                                 "local n = 0\n"
                                 "request = function()\n  n = n % %2 + 1\n"
                                 "  return wrk.format(\"GET\", \"/read/api/book/1/\" .. n .. \"?rule=\")\nend\n%3")
                      .arg(login.captured(1))
                      .arg(chapters)
                      .arg(pace ? QStringLiteral("delay = function() return %1 end\n").arg(pace) : QString())
                      .toUtf8());
        lua.close();
        QProcess load;
        load.start(QStandardPaths::findExecutable(QStringLiteral("wrk")),
                   {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds),
                    QStringLiteral("--latency"), QStringLiteral("-s"), script, base + u'/'});
        load.waitForFinished((seconds + 60) * 1000);
        const QString out = QString::fromUtf8(load.readAllStandardOutput());
        // A script wrk cannot read would leave it asking for "/" unseen.
        const QString complaint = QString::fromUtf8(load.readAllStandardError()).trimmed();
        if (!complaint.isEmpty()) {
            std::fprintf(stderr, "wrk: %s\n", qPrintable(complaint));
            return Run{};
        }
        const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out);
        const auto p99 = QRegularExpression(QStringLiteral("\\s99%\\s+([\\d.]+)(us|ms|s)")).match(out);
        if (!rps.hasMatch() || !p99.hasMatch())
            std::fprintf(stderr, "could not read the wrk report\n%s\n", qPrintable(out));
        return Run{rps.captured(1).toDouble(), p99.hasMatch() ? ms(p99) : 0,
                   out.contains(u"Non-2xx") || out.contains(u"Socket errors"), rps.hasMatch() && p99.hasMatch()};
    };
    // Flat out, the latency is the queue of a saturated machine; the target is held at its own
    // rate, each connection sending a request every `pace` ms (somewhat above 5,000 a second).
    const Run full = run(0);
    const int pace = int(connections * 1000 / (kTargetRequestsPerSecond * 1.3));
    const Run held = run(pace);
    if (!full.read || !held.read)
        return 2;
    const bool met = held.rps >= kTargetRequestsPerSecond && held.p99 <= kTargetP99Ms && !held.errors && !full.errors;
    std::printf("web reader chapters on %s (%d of them), %d connections, %d s each:\n"
                "  flat out %.0f requests/s, p99 %.2f ms%s; paced (%d ms a connection) %.0f requests/s, p99 %.2f ms%s\n"
                "  target (>= %.0f requests/s with p99 <= %.0f ms, no errors): %s\n",
                backEnd, chapters, connections, seconds, full.rps, full.p99, full.errors ? ", with errors" : "", pace,
                held.rps, held.p99, held.errors ? ", with errors" : "", kTargetRequestsPerSecond, kTargetP99Ms,
                met ? "met" : "MISSED");
    return met ? 0 : 1;
}

} // namespace

int webBench(const QString &binDir, int connections, int seconds)
{
    const int sqlite = measure("SQLite", binDir, {}, connections, seconds);
    PgCluster pg;
    QString error;
    QString database;
    if (!pg.create(&error) || (database = pg.createDatabase(QStringLiteral("web"), &error)).isEmpty()) {
        std::printf("web reader chapters on PostgreSQL: not measured (%s)\n", qPrintable(error.left(300)));
        return sqlite;
    }
    return std::max(sqlite, measure("PostgreSQL", binDir, {QStringLiteral("--database"), database}, connections, seconds));
}
