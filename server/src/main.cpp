#include "BookStorage.h"
#include "Categories.h"
#include "DemoCatalogue.h"
#include "HttpServer.h"
#include "Importer.h"
#include "Router.h"
#include "Secrets.h"
#include "ServerConfig.h"
#include "Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

const char kUsage[] =
    "用法 / usage:\n"
    "  folioway-server [--port 8080] [--bind 127.0.0.1] [--data DIR] [--demo] [--threads N]\n"
    "  folioway-server [--data DIR] import FOLDER --category 分类名称\n"
    "  folioway-server [--data DIR] approve ID | reject ID | pending\n"
    "\n"
    "  --port N      监听端口，0 表示自动选择 / port to listen on, 0 picks a free one (default 8080)\n"
    "  --bind ADDR   监听地址 / address to bind (default 127.0.0.1)\n"
    "  --data DIR    数据文件夹 / data folder (default: the user's data location)\n"
    "  --demo        书库为空时生成演示书籍 / seed demo books when the catalogue is empty\n"
    "  --threads N   工作线程数 / worker threads (default 4)\n";

int fail(const QString &message, int code = 1)
{
    std::fprintf(stderr, "folioway-server: %s\n", message.toLocal8Bit().constData());
    return code;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "folioway-server: %s\n\n%s", message.toLocal8Bit().constData(), kUsage);
    return 2;
}

bool prepareDataDir(const QString &dir, QString *error)
{
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("数据文件夹不是文件夹 / data folder is not a folder: %1").arg(dir);
        return false;
    }
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("无法创建数据文件夹 / cannot create data folder: %1").arg(dir);
        return false;
    }
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".probe-XXXXXX")));
    if (!probe.open()) {
        *error = QStringLiteral("数据文件夹不可写 / data folder is not writable: %1").arg(dir);
        return false;
    }
    return true;
}

// Leftovers of an interrupted run: unfinished book folders and spooled uploads.
void cleanLeftovers(const ServerConfig &config)
{
    QDirIterator staging(config.booksDir(), {QStringLiteral("*.part")}, QDir::Dirs | QDir::NoDotAndDotDot);
    while (staging.hasNext())
        QDir(staging.next()).removeRecursively();
    QDir(config.spoolDir()).removeRecursively();
}

int review(Store &store, const ServerConfig &config, const QString &idText, Review verdict)
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0)
        return usageError(QStringLiteral("无效的书号 / invalid book id: %1").arg(idText));
    const ReviewOutcome outcome = store.review(id, verdict, config.newBookCoins, config.updateCoins);
    if (!outcome.found)
        return fail(QStringLiteral("没有书号为 %1 的电子书 / no book with id %1").arg(id));
    BookStorage storage(store, config.booksDir());
    for (qint64 old : outcome.replacedIds)
        storage.removeFolder(old);
    std::printf("%s\n", (verdict == Review::Approved ? QStringLiteral("已审核通过 / approved: %1")
                                                     : QStringLiteral("已拒绝 / rejected: %1"))
                            .arg(id)
                            .toLocal8Bit()
                            .constData());
    return 0;
}

int pending(Store &store)
{
    const QList<BookRow> rows = store.pendingBooks();
    for (const BookRow &b : rows) {
        std::printf("%lld\t%s\t%s\t%s\t%s\n", static_cast<long long>(b.id), b.category.toLocal8Bit().constData(),
                    b.name.toLocal8Bit().constData(), b.author.toLocal8Bit().constData(),
                    b.fileName.toLocal8Bit().constData());
    }
    std::printf("%lld\n", static_cast<long long>(rows.size()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("folioway-server"));

    QString dataDir;
    QString bind = QStringLiteral("127.0.0.1");
    QString category;
    int port = 8080;
    int threads = 4;
    bool demo = false;
    QStringList command;

    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto next = [&](QString *into) {
            if (i + 1 >= args.size())
                return false;
            *into = args[++i];
            return true;
        };
        QString value;
        if (a == u"-h" || a == u"--help") {
            std::printf("%s", kUsage);
            return 0;
        } else if (a == u"--demo") {
            demo = true;
        } else if (a == u"--data") {
            if (!next(&dataDir) || dataDir.isEmpty())
                return usageError(QStringLiteral("--data 需要一个文件夹 / --data needs a folder"));
        } else if (a == u"--bind") {
            if (!next(&bind) || bind.isEmpty())
                return usageError(QStringLiteral("--bind 需要一个地址 / --bind needs an address"));
        } else if (a == u"--category") {
            if (!next(&category))
                return usageError(QStringLiteral("--category 需要分类名称 / --category needs a name"));
        } else if (a == u"--port" || a == u"--threads") {
            bool ok = false;
            const int n = next(&value) ? value.toInt(&ok) : -1;
            if (a == u"--port") {
                if (!ok || n < 0 || n > 65535)
                    return usageError(QStringLiteral("无效的端口 / invalid port: %1").arg(value));
                port = n;
            } else {
                if (!ok || n < 1 || n > 64)
                    return usageError(QStringLiteral("无效的线程数 / invalid thread count: %1").arg(value));
                threads = n;
            }
        } else if (a.startsWith(u'-')) {
            return usageError(QStringLiteral("未知选项 / unknown option: %1").arg(a));
        } else {
            command.append(a);
        }
    }

    if (dataDir.isEmpty())
        dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                      .filePath(QStringLiteral("folioway-server"));
    dataDir = QDir(dataDir).absolutePath();

    const QString verb = command.value(0);
    const bool serving = command.isEmpty();
    if (!serving && verb != u"import" && verb != u"approve" && verb != u"reject" && verb != u"pending")
        return usageError(QStringLiteral("未知命令 / unknown command: %1").arg(verb));
    if ((verb == u"import" || verb == u"approve" || verb == u"reject") && command.size() != 2)
        return usageError(QStringLiteral("%1 需要一个参数 / %1 needs one argument").arg(verb));
    if (verb == u"pending" && command.size() != 1)
        return usageError(QStringLiteral("pending 不需要参数 / pending takes no argument"));

    QString error;
    if (!prepareDataDir(dataDir, &error))
        return fail(error);
    if (!Secrets::initialize())
        return fail(QStringLiteral("libsodium 初始化失败 / libsodium failed to initialise"));
    const ServerConfig config = ServerConfig::load(dataDir);
    Store &store = Store::forThread(dataDir);
    if (!store.isOpen())
        return fail(QStringLiteral("无法打开数据库 / cannot open the database %1: %2")
                        .arg(Store::databasePath(dataDir), store.lastError()));

    if (verb == u"import") {
        if (!Categories::names().contains(category))
            return usageError(QStringLiteral("--category 必须是以下之一 / must be one of: %1")
                                  .arg(Categories::names().join(QStringLiteral("、"))));
        if (!QFileInfo(command[1]).isDir())
            return fail(QStringLiteral("找不到文件夹 / no such folder: %1").arg(command[1]));
        const int added = Importer::importFolder(store, config.booksDir(), command[1], category, &error);
        if (added < 0)
            return fail(QStringLiteral("导入失败 / import failed: %1").arg(error));
        std::printf("%s\n",
                    QStringLiteral("已导入 %1 本电子书 / imported %1 books").arg(added).toLocal8Bit().constData());
        return 0;
    }
    if (verb == u"approve")
        return review(store, config, command[1], Review::Approved);
    if (verb == u"reject")
        return review(store, config, command[1], Review::Rejected);
    if (verb == u"pending")
        return pending(store);

    cleanLeftovers(config);
    if (demo) {
        const int added = DemoCatalogue::seedIfEmpty(store, config.booksDir(), &error);
        if (added < 0)
            return fail(QStringLiteral("生成演示书库失败 / demo catalogue failed: %1").arg(error));
        if (added > 0)
            std::printf("folioway-server: %d demo books added\n", added);
    }

    // Worker threads inherit this mask, so only sigwait below sees the stop signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const Router router(config);
    HttpServer::Options options;
    options.threads = unsigned(threads);
    options.spoolDir = config.spoolDir();
    HttpServer server([&router](const Request &r) { return router.handle(r); }, &Router::bodyLimit, options);
    if (!server.start(bind, quint16(port), &error))
        return fail(error);

    const QString host = bind.contains(u':') ? u'[' + bind + u']' : bind;
    std::printf("folioway-server listening on http://%s:%u\n", host.toLatin1().constData(), unsigned(server.port()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
