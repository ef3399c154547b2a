// Catalogue pages under load: 50 connections for 10 seconds against a server seeded
// with the demo books, every request a different list or search page as the client
// sends them. Prints requests per second and latency percentiles, and fails when the
// figures miss their targets.

#include "LiveServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

namespace {

const double kTargetRequestsPerSecond = 3000;
const double kTargetP99Ms = 50;

QString percent(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "/:"));
}

// The pages a reader browses: every category's first pages, the whole list's pages, and
// searches, each address ending in a request time like the client's.
QString luaScript()
{
    const QStringList categories = {QStringLiteral("全部资源"), QStringLiteral("武侠仙侠"), QStringLiteral("玄幻修真"),
                                    QStringLiteral("都市言情"), QStringLiteral("游戏动漫"), QStringLiteral("历史军事"),
                                    QStringLiteral("推理灵异"), QStringLiteral("纪实文学"), QStringLiteral("学习资料"),
                                    QStringLiteral("管理哲学"), QStringLiteral("其他分类")};
    QStringList paths;
    for (const QString &c : categories) {
        for (int page = 1; page <= 4; ++page)
            paths << QStringLiteral("/readerserver/listbook.asp?action=list&type=%1&page=%2").arg(percent(c)).arg(page);
    }
    for (const QString &key :
         {QStringLiteral("剑"), QStringLiteral("李"), QStringLiteral("都市"), QStringLiteral("无此书")})
        paths << QStringLiteral("/readerserver/listbook.asp?action=search&key=%1").arg(percent(key));

    QString lua = QStringLiteral("paths = {\n");
    for (const QString &p : paths)
        lua += QStringLiteral("  \"%1\",\n").arg(p);
    lua +=
        QStringLiteral("}\n"
                       "counter = 0\n"
                       "request = function()\n"
                       "  counter = counter + 1\n"
                       "  local path = paths[(counter % #paths) + 1] .. \"&rnt=2024/3/7%209:05:\" .. (counter % 60)\n"
                       "  return wrk.format(\"GET\", path)\n"
                       "end\n");
    return lua;
}

double toMs(const QString &value, const QString &unit)
{
    const double v = value.toDouble();
    if (unit == u"us")
        return v / 1000.0;
    if (unit == u"s")
        return v * 1000.0;
    return v;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
    int connections = 50;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--duration")
            seconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--connections")
            connections = std::max(1, args[i + 1].toInt());
    }

    const QString wrk = QStandardPaths::findExecutable(QStringLiteral("wrk"));
    if (wrk.isEmpty()) {
        std::fprintf(stderr, "wrk not found; install the Debian package wrk\n");
        return 2;
    }
    QTemporaryDir dir;
    LiveServer server;
    const QString binDir = qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath());
    if (!dir.isValid() ||
        !server.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("data")), QStringLiteral("--demo")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return 2;
    }
    const QString script = dir.filePath(QStringLiteral("pages.lua"));
    QFile lua(script);
    if (!lua.open(QIODevice::WriteOnly) || lua.write(luaScript().toUtf8()) < 0)
        return 2;
    lua.close();

    QProcess load;
    load.start(wrk,
               {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds),
                QStringLiteral("--latency"), QStringLiteral("-s"), script, server.baseUrl() + QLatin1Char('/')});
    if (!load.waitForFinished((seconds + 30) * 1000)) {
        load.kill();
        std::fprintf(stderr, "wrk did not finish\n");
        return 2;
    }
    const QString out = QString::fromUtf8(load.readAllStandardOutput());
    std::printf("%s\n", qPrintable(out));

    const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out);
    const auto p50 = QRegularExpression(QStringLiteral("\\s50%\\s+([\\d.]+)(us|ms|s)")).match(out);
    const auto p99 = QRegularExpression(QStringLiteral("\\s99%\\s+([\\d.]+)(us|ms|s)")).match(out);
    const auto non2xx = QRegularExpression(QStringLiteral("Non-2xx or 3xx responses:\\s+(\\d+)")).match(out);
    const auto socketErrors = QRegularExpression(QStringLiteral("Socket errors:([^\\n]*)")).match(out);
    if (!rps.hasMatch() || !p99.hasMatch()) {
        std::fprintf(stderr, "could not read the wrk report\n%s\n", qPrintable(load.readAllStandardError()));
        return 2;
    }
    const double requestsPerSecond = rps.captured(1).toDouble();
    const double p99Ms = toMs(p99.captured(1), p99.captured(2));
    const double p50Ms = p50.hasMatch() ? toMs(p50.captured(1), p50.captured(2)) : -1;
    const int errors = non2xx.hasMatch() ? non2xx.captured(1).toInt() : 0;

    std::printf("catalogue pages, %d connections, %d s: %.0f requests/s, p50 %.2f ms, p99 %.2f ms, "
                "non-2xx %d%s%s\n",
                connections, seconds, requestsPerSecond, p50Ms, p99Ms, errors,
                socketErrors.hasMatch() ? ", socket errors:" : "",
                socketErrors.hasMatch() ? qPrintable(socketErrors.captured(1)) : "");
    const bool met = requestsPerSecond >= kTargetRequestsPerSecond && p99Ms < kTargetP99Ms && errors == 0 &&
                     !socketErrors.hasMatch();
    std::printf("target (>= %.0f requests/s, p99 < %.0f ms, no errors): %s\n", kTargetRequestsPerSecond, kTargetP99Ms,
                met ? "met" : "MISSED");
    server.stop();
    return met ? 0 : 1;
}
