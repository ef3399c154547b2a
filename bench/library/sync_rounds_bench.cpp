// The program's own sync of a large library against the real server: 2,000 books on the shelf,
// each with its place, its bookmark and four entries of its bookmark list (10,000 bookmarks,
// 14,000 items). Prints requests, body bytes both ways and milliseconds of a whole round of the
// sync engine (fingerprints, pushes, pulls, the library's writes) for the first sync, the first
// sync of a second computer, an incremental one with nothing changed and one after a single
// change. On SQLite and, when it is installed, PostgreSQL.
//   cmake --build <build> --target bench_sync_rounds folioway-server && <build>/bin/bench_sync_rounds

#include "LiveServer.h"
#include "PgCluster.h"
#include "library/LibraryDb.h"
#include "library/SyncEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int kBooks = 2000;
constexpr int kListEntries = 4; // per book, beside the book's own bookmark

// Counts what goes through it: requests, and the bodies sent and received.
class CountingManager : public QNetworkAccessManager
{
public:
    int requests = 0;
    qint64 bytes = 0;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        ++requests;
        bytes += data ? data->size() : 0;
        QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, data);
        connect(reply, &QNetworkReply::finished, this,
                [this, reply] { bytes += reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(); });
        return reply;
    }
};

struct Computer
{
    CountingManager manager;
    LibraryDb db;
    SyncEngine engine;

    Computer(const QString &name, const QString &file) : db(name), engine(db, nullptr, &manager)
    {
        manager.setCookieJar(new QNetworkCookieJar(&manager));
        db.open(file);
    }
    void wait(QNetworkReply *reply)
    {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
    }
    void login(const QString &server)
    {
        const QString account = server + QStringLiteral("/readerserver/userinfo.asp");
        QNetworkRequest form{QUrl(account)};
        form.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        wait(manager.post(form, QByteArrayLiteral("action=reg&username=reader&userpass=secret&email=r%40x%2Ecn")));
        wait(manager.get(
            QNetworkRequest(QUrl(account + QStringLiteral("?action=login&username=reader&password=secret")))));
    }
    // One whole round, begun by `begin` (the engine's start, say) or else asked for now; false
    // when it failed.
    bool round(const char *backEnd, const char *what, const std::function<void()> &begin = {})
    {
        QEventLoop loop;
        bool ok = false;
        QObject::connect(&engine, &SyncEngine::finished, &loop, [&](bool done) {
            ok = done;
            loop.quit();
        });
        const int requests = manager.requests;
        const qint64 bytes = manager.bytes;
        // How long the window's thread is kept from its events: a probe that wants to run every 2 ms.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer probe;
        probe.setInterval(2);
        QObject::connect(&probe, &QTimer::timeout, &probe,
                         [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        QElapsedTimer t;
        t.start();
        sinceTick.start();
        probe.start();
        if (begin)
            begin();
        else
            engine.syncNow();
        loop.exec();
        longestStall = std::max(longestStall, sinceTick.elapsed());
        std::printf("%-10s %-44s %4d requests %10lld bytes %9.1f ms, window thread busy at most %lld ms%s\n", backEnd,
                    what, manager.requests - requests, qlonglong(manager.bytes - bytes), t.nsecsElapsed() / 1e6,
                    qlonglong(longestStall), ok ? "" : "  FAILED");
        if (!ok)
            std::fprintf(stderr, "%s\n", qPrintable(engine.lastError()));
        return ok;
    }
};

// A shelf as a reader keeps it, written in one transaction.
void fill(LibraryDb &db, const QString &folder)
{
    QDir().mkpath(folder);
    QSqlDatabase d = QSqlDatabase::database(QStringLiteral("bench-a"));
    d.transaction();
    for (int b = 0; b < kBooks; ++b) {
        const QString path = QStringLiteral("%1/第%2部.txt").arg(folder).arg(b);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(QStringLiteral("第一回 起\n正文%1。\n").arg(b).repeated(50).toUtf8());
        db.insertBook(QStringLiteral("武侠仙侠"), QStringLiteral("第%1部 长篇连载小说").arg(b),
                      QStringLiteral("作者%1").arg(b), path);
        db.saveReadingPosition({path, 12, QStringLiteral("第十二回 风雪山神庙"), 0.4, 632, 1000, {}});
        db.setBookmark(path, QStringLiteral("第十回 夜奔"));
        for (int m = 0; m < kListEntries; ++m) {
            BookmarkEntry entry{.book = path,
                                .chapter = m + 1,
                                .chapterTitle = QStringLiteral("第%1回").arg(m + 1),
                                .fraction = 0.25 * m,
                                .excerpt = QStringLiteral("林冲踏着那瑞雪，迎着北风，飞也似奔到草场门口"),
                                .note = QStringLiteral("此处伏笔")};
            db.bookmarks().add(entry);
        }
    }
    d.commit();
}

bool run(const char *backEnd, const QString &binDir, const QStringList &arguments, const QString &folder)
{
    LiveServer server;
    if (!server.start(binDir, arguments + QStringList{QStringLiteral("--no-log")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return false;
    }
    // Each computer's program folder of its own, where its sync file lives beside the library.
    Computer a(QStringLiteral("bench-a"), folder + QStringLiteral("/a/Data.db"));
    Computer b(QStringLiteral("bench-b"), folder + QStringLiteral("/b/Data.db"));
    fill(a.db, folder + QStringLiteral("/books"));
    a.login(server.baseUrl());
    b.login(server.baseUrl());
    const auto start = [&](Computer &c) { return [&] { c.engine.start(server.baseUrl(), QStringLiteral("reader")); }; };
    bool ok = a.round(backEnd, "first sync, 14,000 items", start(a));
    ok = ok && b.round(backEnd, "first sync of a second computer", start(b));
    ok = ok && a.round(backEnd, "incremental sync, nothing changed");
    const BookmarkEntry one = a.db.bookmarks().list(folder + QStringLiteral("/books/第7部.txt")).value(0);
    ok = ok && a.db.bookmarks().setNote(one.book, one.id, QStringLiteral("改过的批注"));
    ok = ok && a.round(backEnd, "incremental sync, one note changed");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString binDir = qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath());
    return RunOnBothBackEnds([&](const char *backEnd, const QStringList &arguments, const QString &scratch) {
        // The server needs Qt's PostgreSQL driver as well as the cluster.
        if (std::strcmp(backEnd, "postgresql") == 0 && !QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            std::printf("postgresql: no QPSQL driver, skipped\n");
            return true;
        }
        return run(backEnd, binDir, arguments, scratch);
    });
}
