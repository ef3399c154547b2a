// The catalogue at scale: 100,000 generated books (and 1,000,000 with --million) loaded into
// each back end, then list and search throughput and p99 with wrk for one SQLite server, one
// PostgreSQL server and two PostgreSQL servers on the same database, in one run. Figures
// only: on one machine the servers, the database and wrk share the same cores.
//
//   folioway-server-scale-bench [--million] [--seconds N] [--index-only]

#include "LiveServer.h"
#include "PgCluster.h"
#include "store/Categories.h"
#include "store/SearchIndex.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

// Common characters of titles, and surnames; the searches pair characters of the first.
const QString kTitleChars = QStringLiteral(
    "天地人山水风云龙剑仙道魔神王帝城门书心情爱恨生死春秋日月星辰花草木火金石之的一不了大小中上下"
    "无天下第长生诀传奇记录歌行江湖侠客少年英雄美女总裁重生都市修真玄幻异界穿越末世星际游戏网王者"
    "荣耀三国大唐明朝宋清红楼西游封神灵异鬼怪恐怖悬疑推理校园青春");
const QString kSurnames = QStringLiteral("李王张刘陈杨赵黄周吴徐孙胡朱高林何郭马罗梁宋郑谢韩唐冯于董萧程曹袁邓许");

struct Rng
{
    quint64 state;
    quint32 next(quint32 bound)
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(state >> 33) % bound;
    }
};

// Books in ids 1..count; titles of 2 to 9 characters, authors of a surname and one or two more.
bool load(Store &store, int count, QString *error)
{
    QSqlDatabase db = store.database();
    QSqlQuery q(db);
    // The version counter is bumped once at the end instead of once a row.
    if (store.isPostgres() && !q.exec(QStringLiteral("SET session_replication_role = replica"))) {
        *error = q.lastError().text();
        return false;
    }
    const int batch = 500;
    QString values;
    for (int i = 0; i < batch; ++i)
        values += QStringLiteral("%1(?, ?, ?, ?, ?, ?)").arg(i ? QStringLiteral(", ") : QString());
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO books (name, author, class, filename, filesize, ftime) VALUES ") + values);
    Rng rng{42};
    const QStringList categories = Categories::names();
    db.transaction();
    for (int done = 0; done < count; done += batch) {
        for (int i = 0; i < batch; ++i) {
            QString name, author = kSurnames[rng.next(quint32(kSurnames.size()))];
            for (int n = 2 + int(rng.next(8)); n > 0; --n)
                name += kTitleChars[rng.next(quint32(kTitleChars.size()))];
            for (int n = 1 + int(rng.next(2)); n > 0; --n)
                author += kTitleChars[rng.next(quint32(kTitleChars.size()))];
            insert.addBindValue(done + i < count ? name : QStringLiteral("-"));
            insert.addBindValue(author);
            insert.addBindValue(categories[rng.next(quint32(categories.size()))]);
            insert.addBindValue(QStringLiteral("%1.txt").arg(done + i + 1));
            insert.addBindValue(qint64(100000 + rng.next(3000000)));
            insert.addBindValue(QStringLiteral("2024-03-07 09:05:33"));
        }
        if (!insert.exec()) {
            *error = insert.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!q.exec(QStringLiteral("DELETE FROM books WHERE id > %1").arg(count)) ||
        !q.exec(QStringLiteral("UPDATE catalogue_version SET version = version + 1")) || !db.commit()) {
        *error = q.lastError().text() + db.lastError().text();
        return false;
    }
    // What autovacuum would do before long, done now so that it does not run during the
    // measurements: the visibility map that lets counts read the indexes alone.
    if (store.isPostgres() && (!q.exec(QStringLiteral("VACUUM ANALYZE books")) || !q.exec(QStringLiteral("CHECKPOINT")))) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

QString percent(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "/:"));
}

// Lists: every category's first four pages, as the client asks for them. Searches: one and
// two characters of the titles' alphabet, pages 1 to 3, so that few repeat within a thread's
// answer cache.
QString script(bool search)
{
    QStringList paths;
    if (!search) {
        for (const QString &c : QStringList{Categories::all()} + Categories::names()) {
            for (int page = 1; page <= 4; ++page)
                paths << QStringLiteral("/readerserver/listbook.asp?action=list&type=%1&page=%2").arg(percent(c)).arg(page);
        }
    } else {
        Rng rng{7};
        for (int i = 0; i < 6000; ++i) {
            QString key = kTitleChars[rng.next(quint32(kTitleChars.size()))];
            if (i % 4)
                key += kTitleChars[rng.next(quint32(kTitleChars.size()))];
            paths << QStringLiteral("/readerserver/listbook.asp?action=search&key=%1&page=%2")
                         .arg(percent(key))
                         .arg(1 + rng.next(3));
        }
    }
    QString lua = QStringLiteral("paths = {\n");
    for (const QString &p : paths)
        lua += QStringLiteral("  \"%1\",\n").arg(p);
    return lua + QStringLiteral("}\ncounter = math.random(#paths)\n"
                                "request = function()\n"
                                "  counter = counter + 1\n"
                                "  return wrk.format(\"GET\", paths[(counter % #paths) + 1])\n"
                                "end\n");
}

double toMs(const QString &value, const QString &unit)
{
    const double v = value.toDouble();
    return unit == u"us" ? v / 1000.0 : unit == u"s" ? v * 1000.0 : v;
}

struct Figures
{
    double rps = 0;
    double p99 = 0;
    int errors = 0;
};

// One wrk per server, the connections shared out between them, all at once.
Figures measure(const QList<LiveServer *> &nodes, const QString &scriptPath, int connections, int seconds)
{
    std::vector<std::unique_ptr<QProcess>> loads;
    const int each = std::max(1, connections / int(nodes.size()));
    for (LiveServer *node : nodes) {
        loads.push_back(std::make_unique<QProcess>());
        loads.back()->start(QStandardPaths::findExecutable(QStringLiteral("wrk")),
                            {QStringLiteral("-t%1").arg(std::min(2, each)), QStringLiteral("-c%1").arg(each),
                             QStringLiteral("-d%1s").arg(seconds), QStringLiteral("--latency"), QStringLiteral("-s"),
                             scriptPath, node->baseUrl() + u'/'});
    }
    Figures f;
    for (auto &load : loads) {
        load->waitForFinished((seconds + 60) * 1000);
        const QString out = QString::fromUtf8(load->readAllStandardOutput());
        const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([\\d.]+)")).match(out);
        const auto p99 = QRegularExpression(QStringLiteral("\\s99%\\s+([\\d.]+)(us|ms|s)")).match(out);
        const auto bad = QRegularExpression(QStringLiteral("Non-2xx or 3xx responses:\\s+(\\d+)")).match(out);
        if (!rps.hasMatch() || !p99.hasMatch()) {
            std::fprintf(stderr, "could not read the wrk report:\n%s%s\n", qPrintable(out),
                         load->readAllStandardError().constData());
            continue;
        }
        f.rps += rps.captured(1).toDouble();
        f.p99 = std::max(f.p99, toMs(p99.captured(1), p99.captured(2)));
        f.errors += bad.hasMatch() ? bad.captured(1).toInt() : 0;
    }
    return f;
}

// Resident memory of the server started with dataDir, in MB, from /proc.
double residentMb(const QString &dataDir)
{
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString proc = it.next();
        QFile cmdline(proc + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly) || !cmdline.readAll().contains(dataDir.toUtf8() + '\0'))
            continue;
        QFile status(proc + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        const auto m = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(QString::fromLatin1(status.readAll()));
        return m.hasMatch() ? m.captured(1).toDouble() / 1024.0 : -1;
    }
    return -1;
}

// The index inside this process: how long its build takes, what it holds, and how long
// searches take through the store without HTTP (the rows of each page read from the database).
// CPU time of this thread in ms: on a machine busy with other work, wall time mostly measures
// the waits for a core.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

void inProcess(Store &store)
{
    QElapsedTimer t;
    t.start();
    double cpu = cpuMs();
    store.catalogue().searchBooks(QStringLiteral("剑"), 1, 20);
    const qint64 build = t.elapsed();
    const double buildCpu = cpuMs() - cpu;
    const auto index = store.catalogue().searchIndex();
    if (!index)
        return;
    Rng rng{9};
    std::vector<double> ms, cpuTimes;
    for (int i = 0; i < 3000; ++i) {
        QString key = kTitleChars[rng.next(quint32(kTitleChars.size()))];
        if (i % 4)
            key += kTitleChars[rng.next(quint32(kTitleChars.size()))];
        t.start();
        cpu = cpuMs();
        store.catalogue().searchBooks(key, 1 + int(rng.next(3)), 20);
        cpuTimes.push_back(cpuMs() - cpu);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("  (index in process: %lld books, %.1f MB, built in %lld ms (%.0f ms CPU); search with its page's "
                "rows p50 %.3f ms, p99 %.3f ms (CPU p99 %.3f ms))\n",
                qint64(index->books()), double(index->bytes()) / 1048576.0, build, buildCpu, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], cpuTimes[cpuTimes.size() * 99 / 100]);
}

// One request's time in ms, or -1.
double once(const LiveServer &node, const QByteArray &target)
{
    QElapsedTimer t;
    t.start();
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, node.port());
    if (!s.waitForConnected(5000))
        return -1;
    s.write("GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (s.waitForReadyRead(120000))
        answer += s.readAll();
    return answer.startsWith("HTTP/1.1 200") ? double(t.nsecsElapsed()) / 1e6 : -1;
}

struct Bench
{
    QTemporaryDir dir;
    QString binDir;
    QString lists, searches;
    int seconds = 10;
    double sqliteLists = 0;
    bool indexOnly = false; // the index in this process on SQLite, no servers

    void row(const QString &what, const QList<LiveServer *> &nodes, const QString &dataDir)
    {
        const double before = residentMb(dataDir);
        // The first search builds the index; the lists' answers are cached by every worker
        // thread at their first request, which on a large catalogue counts its books.
        double build = 0;
        for (LiveServer *n : nodes)
            build = std::max(build, once(*n, "/readerserver/listbook.asp?action=search&key=%E5%89%91"));
        measure(nodes, lists, 8, seconds);
        const Figures list8 = measure(nodes, lists, 8, seconds);
        // Cached lists of each PostgreSQL server against the SQLite server's.
        if (what.contains(u"SQLite"))
            sqliteLists = list8.rps;
        const QString ratio = sqliteLists > 0 && !what.contains(u"SQLite")
                                  ? QStringLiteral(" (lists per server %1x SQLite's)")
                                        .arg(list8.rps / double(nodes.size()) / sqliteLists, 0, 'f', 2)
                                  : QString();
        const Figures search1 = measure(nodes, searches, 1, seconds);
        const Figures search8 = measure(nodes, searches, 8, seconds);
        std::printf("  %-24s %9.0f %7.2f | %8.0f %7.2f | %8.0f %7.2f | %7.0f ms %6.0f -> %4.0f MB%s%s\n",
                    qPrintable(what), list8.rps, list8.p99, search1.rps, search1.p99, search8.rps, search8.p99,
                    build, before, residentMb(dataDir),
                    list8.errors + search1.errors + search8.errors ? "  (errors!)" : "", qPrintable(ratio));
        std::fflush(stdout);
    }

    bool start(LiveServer &node, const QStringList &args)
    {
        if (node.start(binDir, args + QStringList{QStringLiteral("--no-log"), QStringLiteral("--per-address"),
                                                  QStringLiteral("100000")}))
            return true;
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(node.output()));
        return false;
    }

    // Other work on the machine shows in every p99; the load is printed beside the figures.
    static QByteArray loadAverage()
    {
        QFile f(QStringLiteral("/proc/loadavg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().left(14) : QByteArray("?");
    }

    void size(int books, PgCluster *pg)
    {
        struct Footer
        {
            ~Footer() { std::printf("  (load average at the end: %s)\n", loadAverage().constData()); }
        } footer;
        std::printf("\n%d books (load average at the start: %s)\n  %-24s %9s %7s | %8s %7s | %8s %7s | %10s %s\n", books,
                    loadAverage().constData(), "", "list/s", "p99 ms",
                    "search/s", "p99 ms", "search/s", "p99 ms", "first srch", "RSS before -> after");
        std::printf("  %-24s %17s | %16s | %16s |\n", "", "8 connections", "1 per server", "8 connections");
        QString error;
        QElapsedTimer t;
        const QString sqliteData = dir.filePath(QStringLiteral("sqlite-%1").arg(books));
        QDir().mkpath(sqliteData);
        {
            Store store(Store::sqliteLocation(QDir(sqliteData).filePath(QStringLiteral("catalogue.db"))));
            t.start();
            if (!store.open(&error) || !load(store, books, &error)) {
                std::fprintf(stderr, "SQLite: %s\n", qPrintable(error));
                return;
            }
            std::printf("  (SQLite loaded in %.1f s)\n", double(t.elapsed()) / 1000);
            inProcess(store);
        }
        if (indexOnly)
            return;
        {
            LiveServer node;
            if (!start(node, {QStringLiteral("--data"), sqliteData}))
                return;
            row(QStringLiteral("one SQLite server"), {&node}, sqliteData);
        }
        if (!pg)
            return;
        const QString database = pg->createDatabase(QStringLiteral("bench%1").arg(books), &error);
        {
            Store store(database);
            t.start();
            if (database.isEmpty() || !store.open(&error) || !load(store, books, &error)) {
                std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(error));
                return;
            }
            std::printf("  (PostgreSQL loaded in %.1f s)\n", double(t.elapsed()) / 1000);
            inProcess(store);
        }
        const auto node = [&](const QString &name) {
            return QStringList{QStringLiteral("--data"), dir.filePath(name + QString::number(books)),
                               QStringLiteral("--database"), database, QStringLiteral("--books"),
                               dir.filePath(QStringLiteral("books"))};
        };
        LiveServer a, b;
        if (!start(a, node(QStringLiteral("pg-a"))))
            return;
        row(QStringLiteral("one PostgreSQL server"), {&a}, dir.filePath(QStringLiteral("pg-a%1").arg(books)));
        if (!start(b, node(QStringLiteral("pg-b"))))
            return;
        row(QStringLiteral("two PostgreSQL servers"), {&a, &b}, dir.filePath(QStringLiteral("pg-b%1").arg(books)));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Bench bench;
    bench.binDir = qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath());
    if (const qsizetype at = args.indexOf(QStringLiteral("--seconds")); at > 0 && at + 1 < args.size())
        bench.seconds = std::max(1, args[at + 1].toInt());
    if (LiveServer::binary(bench.binDir).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("wrk")).isEmpty() ||
        !bench.dir.isValid()) {
        std::fprintf(stderr, "needs folioway-server in %s, wrk on the PATH and a temporary folder\n",
                     qPrintable(bench.binDir));
        return 2;
    }
    const auto write = [&](const QString &name, const QString &text) {
        QFile f(bench.dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) > 0 ? f.fileName() : QString();
    };
    bench.lists = write(QStringLiteral("lists.lua"), script(false));
    bench.searches = write(QStringLiteral("searches.lua"), script(true));

    bench.indexOnly = args.contains(QStringLiteral("--index-only"));
    std::unique_ptr<PgCluster> pg = std::make_unique<PgCluster>();
    QString error;
    if (bench.indexOnly || !QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")) || !pg->create(&error)) {
        std::printf("PostgreSQL: not measured (%s)\n", qPrintable(error.left(300)));
        pg.reset();
    }
    std::printf("list: cached category pages (after a warm-up run); search: 6,000 keys of one or two characters, pages 1-3; "
                "%d s each\n", bench.seconds);
    bench.size(100000, pg.get());
    if (args.contains(QStringLiteral("--million")))
        bench.size(1000000, pg.get());
    return 0;
}
