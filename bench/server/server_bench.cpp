// Catalogue pages under load: 50 connections for 10 seconds against a server seeded
// with the demo books, every request a different list or search page as the client
// sends them. Prints requests per second and latency percentiles, and fails when the
// figures miss their targets. More runs measure the catalogue beside abuse: a flood of logins
// (password hashing), 1,000 clients that send their request heads slowly, and on one server
// with its default limits, quiet and in turn beside slow bodies, a registration flood and a
// guess flood, each with ten logins of a real user.

#include "BenchClients.h"
#include "LiveServer.h"
#include "PgCluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {

const double kTargetRequestsPerSecond = 3000;
const double kTargetP99Ms = 50;

QString percent(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "/:"));
}

// The pages a reader browses: every category's first pages, the whole list's pages, and
// searches, each address ending in a request time like the client's. With distinctSearches
// only searches, each for a different pair of characters, so that few are answered from
// the catalogue cache.
QString luaScript(bool lists = true, bool searches = true, bool distinctSearches = false)
{
    const QStringList categories = {QStringLiteral("全部资源"), QStringLiteral("武侠仙侠"), QStringLiteral("玄幻修真"),
                                    QStringLiteral("都市言情"), QStringLiteral("游戏动漫"), QStringLiteral("历史军事"),
                                    QStringLiteral("推理灵异"), QStringLiteral("纪实文学"), QStringLiteral("学习资料"),
                                    QStringLiteral("管理哲学"), QStringLiteral("其他分类")};
    QStringList paths;
    for (const QString &c : lists ? categories : QStringList()) {
        for (int page = 1; page <= 4; ++page)
            paths << QStringLiteral("/readerserver/listbook.asp?action=list&type=%1&page=%2").arg(percent(c)).arg(page);
    }
    for (const QString &key : searches ? QStringList{QStringLiteral("剑"), QStringLiteral("李"), QStringLiteral("都市"),
                                                     QStringLiteral("无此书")}
                                       : QStringList())
        paths << QStringLiteral("/readerserver/listbook.asp?action=search&key=%1").arg(percent(key));
    const QString common = QStringLiteral("天地人山水风云龙剑仙道魔神王帝城门书心情爱恨生死春秋日月星辰花草木火金石");
    for (int i = 0; distinctSearches && i < common.size() * common.size(); ++i)
        paths << QStringLiteral("/readerserver/listbook.asp?action=search&key=%1")
                     .arg(percent(QString(common[i / common.size()]) + common[i % common.size()]));

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

struct Figures
{
    bool ok = false;
    double requestsPerSecond = 0;
    double p50Ms = -1;
    double p99Ms = -1;
    int errors = 0;
    QString socketErrors;
};

QString writeScript(const QTemporaryDir &dir, const QString &name, const QString &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0)
        return {};
    return path;
}

// Starts wrk; the caller keeps its event loop running until it finishes.
std::unique_ptr<QProcess> startWrk(const QString &script, const QString &baseUrl, int connections, int seconds)
{
    auto load = std::make_unique<QProcess>();
    load->start(QStandardPaths::findExecutable(QStringLiteral("wrk")),
                {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds),
                 QStringLiteral("--latency"), QStringLiteral("-s"), script, baseUrl + QLatin1Char('/')});
    return load;
}

Figures finish(QProcess &load, int seconds, bool print)
{
    Figures f;
    if (load.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&load, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot((seconds + 30) * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const QString out = QString::fromUtf8(load.readAllStandardOutput());
    if (print)
        std::printf("%s\n", qPrintable(out));
    const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out);
    const auto p50 = QRegularExpression(QStringLiteral("\\s50%\\s+([\\d.]+)(us|ms|s)")).match(out);
    const auto p99 = QRegularExpression(QStringLiteral("\\s99%\\s+([\\d.]+)(us|ms|s)")).match(out);
    const auto non2xx = QRegularExpression(QStringLiteral("Non-2xx or 3xx responses:\\s+(\\d+)")).match(out);
    const auto socketErrors = QRegularExpression(QStringLiteral("Socket errors:([^\\n]*)")).match(out);
    if (!rps.hasMatch() || !p99.hasMatch()) {
        std::fprintf(stderr, "could not read the wrk report\n%s\n", qPrintable(load.readAllStandardError()));
        return f;
    }
    f.ok = true;
    f.requestsPerSecond = rps.captured(1).toDouble();
    f.p99Ms = toMs(p99.captured(1), p99.captured(2));
    f.p50Ms = p50.hasMatch() ? toMs(p50.captured(1), p50.captured(2)) : -1;
    f.errors = non2xx.hasMatch() ? non2xx.captured(1).toInt() : 0;
    f.socketErrors = socketErrors.hasMatch() ? socketErrors.captured(1) : QString();
    return f;
}

// Logins with the right password, each one a full Argon2 verification on the server.
QString loginScript(const QString &name, const QString &password)
{
    return QStringLiteral("request = function()\n"
                          "  return wrk.format(\"GET\", \"/readerserver/userinfo.asp?action=login&username=%1"
                          "&password=%2&cookies=0\")\n"
                          "end\n")
        .arg(name, password);
}

// Clients that open a request and send one header line every 20 seconds, reconnecting when
// cut off; spread over loopback addresses 127.0.0.2 and up, ten to an address.
class SlowClients
{
public:
    SlowClients(quint16 port, int count) : m_port(port)
    {
        for (int i = 0; i < count; ++i)
            m_sockets.push_back(std::make_unique<QTcpSocket>());
        m_tick.setInterval(200);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
        m_tick.start();
        tick();
    }
    int connected() const
    {
        return int(std::count_if(m_sockets.begin(), m_sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        }));
    }
    int reconnects() const { return m_reconnects; }

private:
    void tick()
    {
        ++m_ticks;
        for (size_t i = 0; i < m_sockets.size(); ++i) {
            QTcpSocket &s = *m_sockets[i];
            if (s.state() == QAbstractSocket::UnconnectedState) {
                s.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i / 10)));
                s.connectToHost(QHostAddress::LocalHost, m_port);
                s.write("GET /readerserver/listbook.asp?action=list HTTP/1.1\r\nHost: x\r\n");
                ++m_reconnects;
            } else if (s.state() == QAbstractSocket::ConnectedState && (m_ticks + int(i)) % 100 == 0) {
                s.write("X-Slow: 1\r\n");
            }
        }
    }

    quint16 m_port;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    QTimer m_tick;
    int m_ticks = 0;
    int m_reconnects = 0;
};

// List and search requests per second over every node at once, the connections shared
// out between them; one wrk per node.
std::pair<double, double> listAndSearch(const QList<LiveServer *> &nodes, const QString &lists, const QString &searches,
                                        int connections, int seconds)
{
    std::pair<double, double> out;
    for (const QString *script : {&lists, &searches}) {
        std::vector<std::unique_ptr<QProcess>> loads;
        for (LiveServer *node : nodes)
            loads.push_back(startWrk(*script, node->baseUrl(), std::max(1, connections / int(nodes.size())), seconds));
        double sum = 0;
        for (auto &load : loads)
            sum += finish(*load, seconds, false).requestsPerSecond;
        (script == &lists ? out.first : out.second) = sum;
    }
    return out;
}

// The same catalogue served by one SQLite server, one PostgreSQL server and two PostgreSQL
// servers sharing the database and the book folder. Figures only: on one machine the
// servers, the database and wrk share the same cores.
void compareBackEnds(const QTemporaryDir &dir, const QString &binDir, int connections, int seconds)
{
    const QString lists = writeScript(dir, QStringLiteral("lists.lua"), luaScript(true, false));
    const QString searches = writeScript(dir, QStringLiteral("searches.lua"), luaScript(false, false, true));
    std::printf("list (cached pages) and search (1,296 different keys) requests/s, %d connections, %d s each:\n",
                connections, seconds);
    const auto print = [](const char *what, std::pair<double, double> f) {
        std::printf("  %-24s list %8.0f   search %8.0f\n", what, f.first, f.second);
    };
    const QStringList common{QStringLiteral("--no-log"), QStringLiteral("--per-address"), QStringLiteral("100000")};
    {
        LiveServer sqlite;
        if (!sqlite.start(binDir, common + QStringList{QStringLiteral("--data"), dir.filePath(QStringLiteral("cmp-sqlite")),
                                                       QStringLiteral("--demo")})) {
            std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(sqlite.output()));
            return;
        }
        print("one SQLite server", listAndSearch({&sqlite}, lists, searches, connections, seconds));
    }
    PgCluster pg;
    QString error;
    QString database;
    if (!pg.create(&error) || (database = pg.createDatabase(QStringLiteral("bench"), &error)).isEmpty()) {
        std::printf("  PostgreSQL: not measured (%s)\n", qPrintable(error.left(300)));
        return;
    }
    const auto node = [&](const char *data) {
        return common + QStringList{QStringLiteral("--data"), dir.filePath(QLatin1String(data)),
                                    QStringLiteral("--database"), database, QStringLiteral("--books"),
                                    dir.filePath(QStringLiteral("cmp-books")), QStringLiteral("--demo")};
    };
    LiveServer a, b;
    if (!a.start(binDir, node("cmp-pg-a"))) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(a.output()));
        return;
    }
    print("one PostgreSQL server", listAndSearch({&a}, lists, searches, connections, seconds));
    if (!b.start(binDir, node("cmp-pg-b"))) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(b.output()));
        return;
    }
    print("two PostgreSQL servers", listAndSearch({&a, &b}, lists, searches, connections, seconds));
}

// Bodies that arrive one byte every 20 seconds, 32 connections from each of 130 addresses
// (127.0.1.x), reconnecting when cut off.
class SlowBodies
{
public:
    explicit SlowBodies(quint16 port) : m_port(port)
    {
        for (int i = 0; i < 130 * 32; ++i)
            m_sockets.push_back(std::make_unique<QTcpSocket>());
        m_tick.setInterval(200);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
        m_tick.start();
        tick();
    }

private:
    void tick()
    {
        ++m_ticks;
        for (size_t i = 0; i < m_sockets.size(); ++i) {
            QTcpSocket &s = *m_sockets[i];
            if (s.state() == QAbstractSocket::UnconnectedState) {
                s.bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + i / 32)));
                s.connectToHost(QHostAddress::LocalHost, m_port);
                s.write("POST /readerserver/userinfo.asp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                        "application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\na");
            } else if (s.state() == QAbstractSocket::ConnectedState && (m_ticks + int(i)) % 100 == 0) {
                s.write("a");
            }
        }
    }

    quint16 m_port;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    QTimer m_tick;
    int m_ticks = 0;
};

// Catalogue pages from 10 connections beside an attack, and ten logins of a real user from an
// address of their own spread over the same time: p99 and how many logins got in.
struct AttackFigures
{
    Figures pages;
    int loggedIn = 0;
    qint64 slowestLoginMs = 0;
    QByteArray firstFailure; // the first login answer that was not a success
};

AttackFigures underAttack(const QString &pages, const LiveServer &server, int seconds)
{
    AttackFigures out;
    auto load = startWrk(pages, server.baseUrl(), 10, seconds);
    const QByteArray login = closingRequest("/readerserver/userinfo.asp?action=login&username=reader&password=reader1&cookies=0");
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        QTimer::singleShot(i * seconds * 100, [&, i] {
            auto clock = std::make_shared<QElapsedTimer>();
            clock->start();
            new OneRequest(QStringLiteral("127.0.0.%1").arg(50 + i), server.port(), login, [&, clock](const QByteArray &a) {
                out.loggedIn += a.contains("<logininfo>1|");
                if (!a.contains("<logininfo>1|") && out.firstFailure.isEmpty())
                    out.firstFailure = a.isEmpty() ? QByteArray("no answer") : a.mid(a.indexOf("\r\n\r\n") + 4).left(200);
                out.slowestLoginMs = std::max(out.slowestLoginMs, clock->elapsed());
                ++answered;
            });
        });
    }
    out.pages = finish(*load, seconds, false);
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { if (answered == 10) wait.quit(); });
    poll.start(50);
    QTimer::singleShot(60000, &wait, &QEventLoop::quit);
    wait.exec();
    return out;
}

// The server with its default limits, quiet and then beside each attack in turn.
bool attacks(const QTemporaryDir &dir, const QString &binDir, const QString &pages, int seconds)
{
    LiveServer server;
    if (!server.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("attacks")), QStringLiteral("--demo"),
                               QStringLiteral("--no-log")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return false;
    }
    bool registered = false;
    new OneRequest(QStringLiteral("127.0.0.49"), server.port(),
                   closingRequest("/readerserver/userinfo.asp", "action=reg&username=reader&userpass=reader1&email=r%40x.cn"),
                   [&](const QByteArray &a) { registered = a.contains("<logininfo>1|"); });
    QEventLoop settle;
    QTimer::singleShot(3000, &settle, &QEventLoop::quit);
    settle.exec();
    if (!registered) {
        std::fprintf(stderr, "the real user could not sign up\n");
        return false;
    }
    const auto addresses = [](int base, int count) {
        QStringList out;
        for (int i = 0; i < count; ++i)
            out << QStringLiteral("127.0.%1.%2").arg(base).arg(1 + i);
        return out;
    };
    struct Row
    {
        const char *name;
        AttackFigures figures;
    };
    std::vector<Row> rows;
    rows.push_back({"quiet", underAttack(pages, server, seconds)});
    {
        SlowBodies slow(server.port());
        QEventLoop ramp;
        QTimer::singleShot(3000, &ramp, &QEventLoop::quit);
        ramp.exec();
        rows.push_back({"slow bodies (4160 connections)", underAttack(pages, server, seconds)});
    }
    {
        // 40 loops on 40 addresses, each sign-up a new name.
        Flood flood(server.port(), addresses(2, 40), [](int loop, int round) {
            return closingRequest("/readerserver/userinfo.asp", "action=reg&username=f" + QByteArray::number(loop) + "x" +
                                                                    QByteArray::number(round) +
                                                                    "&userpass=flood1&email=f%40x.cn");
        });
        rows.push_back({"registration flood (40 addresses)", underAttack(pages, server, seconds)});
    }
    {
        // Wrong passwords for the real user and for other names, from four addresses, five loops each.
        QStringList from;
        for (const QString &a : addresses(3, 4))
            from << a << a << a << a << a;
        Flood flood(server.port(), from, [](int, int round) {
            const QByteArray name = round % 2 ? "reader" : "guess" + QByteArray::number(round);
            return closingRequest("/readerserver/userinfo.asp?action=login&username=" + name + "&password=wrong" +
                                  QByteArray::number(round) + "&cookies=0");
        });
        rows.push_back({"guess flood (4 addresses)", underAttack(pages, server, seconds)});
    }
    bool met = true;
    std::printf("catalogue pages from 10 connections and 10 real logins, %d s each (goal: p99 < 100 ms, >= 9/10 logins):\n",
                seconds);
    for (const Row &r : rows) {
        const bool ok = r.figures.pages.ok && r.figures.pages.p99Ms < 100 && r.figures.loggedIn >= 9;
        met = met && ok;
        std::printf("  %-36s p99 %8.2f ms (quiet %6.2f ms), %6.0f requests/s, non-2xx %d, logins %d/10 "
                    "(slowest %lld ms): %s%s%s%s%s\n",
                    r.name, r.figures.pages.p99Ms, rows[0].figures.pages.p99Ms, r.figures.pages.requestsPerSecond,
                    r.figures.pages.errors, r.figures.loggedIn, static_cast<long long>(r.figures.slowestLoginMs),
                    ok ? "met" : "MISSED", r.figures.pages.socketErrors.isEmpty() ? "" : "\n      socket errors:",
                    qPrintable(r.figures.pages.socketErrors), r.figures.firstFailure.isEmpty() ? "" : "\n      a failed login: ",
                    r.figures.firstFailure.constData());
    }
    return met;
}

} // namespace

int syncBench(const QString &binDir); // sync_bench.cpp
bool guessPhases(const QTemporaryDir &dir, const QString &binDir, int seconds); // guess_bench.cpp
bool hostilePhases(const QTemporaryDir &dir, const QString &binDir, int seconds); // hostile_bench.cpp
bool tlsOnly(const QTemporaryDir &dir, const QString &binDir, int seconds);       // hostile_bench.cpp
int webBench(const QString &binDir, int connections, int seconds); // web_bench.cpp
bool listBesideNginx(const QTemporaryDir &dir, quint16 serverPort, int connections, int seconds); // nginx_bench.cpp

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
    int connections = 50;
    const QStringList args = app.arguments();
    const bool attacksOnly = args.contains(QStringLiteral("--attacks-only"));
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--duration")
            seconds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--connections")
            connections = std::max(1, args[++i].toInt());
    }
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    if (args.contains(QStringLiteral("--web-only")))
        return webBench(qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath()), 64, seconds);
    if (args.contains(QStringLiteral("--sync-only")))
        return syncBench(qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath()));
    if (QStandardPaths::findExecutable(QStringLiteral("wrk")).isEmpty()) {
        std::fprintf(stderr, "wrk not found; install the Debian package wrk\n");
        return 2;
    }
    QTemporaryDir dir;
    LiveServer server;
    const QString binDir = qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath());
    // All load comes from one address here, so the per-address limit is lifted.
    if (!dir.isValid() || !server.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                                                 QStringLiteral("--demo"), QStringLiteral("--no-log"),
                                                 QStringLiteral("--per-address"), QStringLiteral("100000")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return 2;
    }
    const QString pages = writeScript(dir, QStringLiteral("pages.lua"), luaScript());
    if (args.contains(QStringLiteral("--nginx-only")))
        return listBesideNginx(dir, server.port(), connections, seconds) ? 0 : 1;
    if (args.contains(QStringLiteral("--tls-only")))
        return tlsOnly(dir, binDir, seconds) ? 0 : 1;
    if (args.contains(QStringLiteral("--guesses-only")))
        return guessPhases(dir, binDir, seconds) ? 0 : 1;
    if (args.contains(QStringLiteral("--hostile-only"))) {
        const bool guesses = guessPhases(dir, binDir, seconds);
        return hostilePhases(dir, binDir, seconds) && guesses ? 0 : 1;
    }
    if (attacksOnly) {
        const bool met = attacks(dir, binDir, pages, seconds);
        const bool guesses = guessPhases(dir, binDir, seconds);
        return hostilePhases(dir, binDir, seconds) && guesses && met ? 0 : 1;
    }

    const Figures quiet = finish(*startWrk(pages, server.baseUrl(), connections, seconds), seconds, true);
    if (!quiet.ok)
        return 2;
    std::printf("catalogue pages, %d connections, %d s: %.0f requests/s, p50 %.2f ms, p99 %.2f ms, "
                "non-2xx %d%s%s\n",
                connections, seconds, quiet.requestsPerSecond, quiet.p50Ms, quiet.p99Ms, quiet.errors,
                quiet.socketErrors.isEmpty() ? "" : ", socket errors:", qPrintable(quiet.socketErrors));
    const bool met = quiet.requestsPerSecond >= kTargetRequestsPerSecond && quiet.p99Ms < kTargetP99Ms &&
                     quiet.errors == 0 && quiet.socketErrors.isEmpty();
    std::printf("target (>= %.0f requests/s, p99 < %.0f ms, no errors): %s\n", kTargetRequestsPerSecond, kTargetP99Ms,
                met ? "met" : "MISSED");
    const bool nginxMet = listBesideNginx(dir, server.port(), connections, seconds);

    // The same load beside 20 connections logging in as fast as they are answered.
    QProcess reg;
    reg.start(QStandardPaths::findExecutable(QStringLiteral("curl")),
              {QStringLiteral("-s"), QStringLiteral("--data"),
               QStringLiteral("action=reg&username=flood&userpass=flood1&email=f%40x.cn"),
               server.baseUrl() + QStringLiteral("/readerserver/userinfo.asp")});
    reg.waitForFinished(30000);
    const QString logins = writeScript(dir, QStringLiteral("logins.lua"), loginScript(QStringLiteral("flood"),
                                                                                         QStringLiteral("flood1")));
    auto flood = startWrk(logins, server.baseUrl(), 20, seconds + 2);
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    const Figures busy = finish(*startWrk(pages, server.baseUrl(), connections, seconds), seconds, false);
    const Figures floodFigures = finish(*flood, seconds, false);
    const bool floodMet = busy.ok && busy.p99Ms <= 2 * quiet.p99Ms;
    std::printf("login flood (20 connections, %.0f logins/s answered): catalogue p99 %.2f ms quiet, %.2f ms beside it "
                "(%.0f requests/s); goal within 2x: %s\n",
                floodFigures.requestsPerSecond, quiet.p99Ms, busy.p99Ms, busy.requestsPerSecond,
                floodMet ? "met" : "MISSED");
    server.stop();

    // 1,000 slow clients against a server with its default limits; a few normal clients beside.
    LiveServer slowServer;
    if (!slowServer.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("slow")), QStringLiteral("--demo"),
                                   QStringLiteral("--no-log")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(slowServer.output()));
        return 2;
    }
    SlowClients slow(slowServer.port(), 1000);
    QEventLoop ramp;
    QTimer::singleShot(3000, &ramp, &QEventLoop::quit);
    ramp.exec();
    const int slowConnected = slow.connected();
    const int slowSeconds = std::max(seconds, 25); // longer than the head deadline
    const Figures normal = finish(*startWrk(pages, slowServer.baseUrl(), 10, slowSeconds), slowSeconds, false);
    const bool slowMet = normal.ok && normal.p99Ms < 100 && normal.errors == 0;
    std::printf("1000 slow clients (%d connected after 3 s, %d connections made in all): 10 normal clients %.0f "
                "requests/s, p99 %.2f ms, non-2xx %d; goal p99 < 100 ms: %s\n",
                slowConnected, slow.reconnects(), normal.requestsPerSecond, normal.p99Ms, normal.errors,
                slowMet ? "met" : "MISSED");
    slowServer.stop();

    const bool attacksMet = attacks(dir, binDir, pages, seconds) && guessPhases(dir, binDir, seconds) &&
                            hostilePhases(dir, binDir, seconds);
    compareBackEnds(dir, binDir, connections, seconds);
    return met && nginxMet && floodMet && slowMet && attacksMet ? 0 : 1;
}
