#include "host/CommandLine.h"
#include "host/DemoCatalogue.h"
#include "host/HostCommands.h"
#include "host/RunAsOwner.h"
#include "http/AccessLog.h"
#include "http/HttpServer.h"
#include "http/ListenSocket.h"
#include "routes/Router.h"
#include "routes/Secrets.h"
#include "routes/ServerConfig.h"
#include "store/Store.h"
#include "web/WebReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryFile>

#ifdef FOLIOWAY_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/stat.h>

namespace {

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
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".probe-XXXXXX")));
    if (!probe.open()) {
        *error = QStringLiteral("数据文件夹不可写 / data folder is not writable: %1").arg(dir);
        return false;
    }
    return true;
}

// Leftovers of an interrupted run: unfinished book folders and spooled uploads. The spool
// belongs to this server alone: servers sharing a catalogue each have their own data folder.
void cleanLeftovers(const ServerConfig &config)
{
    // The book folder may be shared with other servers, whose uploads in progress are young.
    QDirIterator staging(config.booksDir(), {QStringLiteral("*.part")}, QDir::Dirs | QDir::NoDotAndDotDot);
    while (staging.hasNext()) {
        const QString dir = staging.next();
        if (QFileInfo(dir).lastModified().secsTo(QDateTime::currentDateTime()) > 3600)
            QDir(dir).removeRecursively();
    }
    QDir(config.spoolDir()).removeRecursively();
}

} // namespace

int main(int argc, char *argv[])
{
    // The database, books and spool hold passwords' hashes and unpublished uploads.
    ::umask(077);
    // Without TZ the C library looks at /etc/localtime again on every local-time conversion,
    // some thirty times a request; named once, the zone is read once.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("folioway-server"));

    CommandLine options;
    if (const std::optional<int> exitCode = options.parse(app.arguments().mid(1)))
        return *exitCode;

    QString error;
    if (options.command.value(0) == u"migrate")
        return HostCommands::migrate(options.migrateFrom, options.migrateTo);
    switch (RunAsOwner::adopt(options.dataDir, &error)) {
    case RunAsOwner::Outcome::Failed:
        return Console::fail(error);
    case RunAsOwner::Outcome::Switched:
        std::fprintf(stderr, "folioway-server: %s\n", error.toLocal8Bit().constData());
        break;
    case RunAsOwner::Outcome::Unchanged:
        break;
    }
    if (!prepareDataDir(options.dataDir, &error))
        return Console::fail(error);
    if (!Secrets::initialize())
        return Console::fail(QStringLiteral("libsodium 初始化失败 / libsodium failed to initialise"));
    ServerConfig config = ServerConfig::load(options.dataDir);
    options.applyTo(&config);
    if (options.command.value(0) == u"backup" && !config.database.isEmpty())
        return HostCommands::postgresBackupAdvice(config, options.command[1]);
    Store &store = Store::forThread(config.databaseLocation());
    if (!store.isOpen())
        return Console::fail(QStringLiteral("无法打开数据库 / cannot open the database %1: %2")
                                 .arg(store.describe(), store.lastError()));

    if (config.database.isEmpty()) {
        for (const char *suffix : {"", "-wal", "-shm"}) {
            const QString file = QDir(options.dataDir).filePath(QStringLiteral("catalogue.db")) + QLatin1String(suffix);
            if (QFileInfo::exists(file))
                QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        }
    }

    if (!options.serving())
        return HostCommands::run(store, config, options.command, options.category, options.replace);

    if (!QDir().mkpath(config.booksDir()))
        return Console::fail(
            QStringLiteral("无法创建书籍文件夹 / cannot create the book folder: %1").arg(config.booksDir()));
    cleanLeftovers(config);
    if (options.demo) {
        const int added = DemoCatalogue::seedIfEmpty(store, config.booksDir(), &error);
        if (added < 0)
            return Console::fail(QStringLiteral("生成演示书库失败 / demo catalogue failed: %1").arg(error));
        if (added > 0)
            std::printf("folioway-server: %d demo books added\n", added);
    }

    HttpServer::Options transport = options.transport(config);
    if (!options.tlsCert.isEmpty()) {
        for (const auto &[path, into] :
             {std::pair{options.tlsCert, &transport.tlsCertificate}, std::pair{options.tlsKey, &transport.tlsKey}}) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return Console::fail(QStringLiteral("无法读取 / cannot read %1: %2").arg(path, file.errorString()));
            *into = file.readAll();
        }
    }

    // Worker threads inherit this mask, so only sigwait below sees these signals: the stop
    // signals, and SIGHUP, which reopens the log after its rotation.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    AccessLog log;
    if (!options.noLog && !log.open(options.logFile, &error))
        return Console::fail(error);
    Router router(config);
    if (!options.noLog) {
        router.setEventLog([&log](const QString &line) { log.event(line); });
        Store::setAvailabilityLog([&log](const QString &line) { log.event(line); });
    }
    // The web reader answers under /read/ and hands everything else to the router.
    const WebReader web(router, config);
    HttpServer server([&web](const Request &r) { return web.handle(r); },
                      [&web](const Request &head) { return web.admit(head); }, transport);
    if (!options.noLog)
        server.setAccessLog([&log](const Request &r, int status, qint64 bytes, qint64 ms) {
            log.request(r, status, bytes, ms);
        });
    if (!server.start(options.bind, quint16(options.port), &error))
        return Console::fail(error);

    const QStringList addresses = ListenSocket::reachableAddresses(options.bind);
    const auto url = [&](const QString &address) {
        const QString host = address.contains(u':') ? u'[' + address + u']' : address;
        return QStringLiteral("%1://%2:%3").arg(server.secure() ? u"https" : u"http", host).arg(server.port());
    };
    if (options.publicUrl.isEmpty() && config.publicUrl.isEmpty())
        router.setPublicUrl(url(addresses.value(0, options.bind)));
    std::printf("folioway-server listening on %s\n", url(options.bind).toLatin1().constData());
    if (addresses != QStringList{options.bind}) {
        std::printf("%s\n", QStringLiteral("好友可以使用以下地址 / friends can use:").toLocal8Bit().constData());
        for (const QString &a : addresses)
            std::printf("  %s\n", url(a).toLatin1().constData());
    }
    std::fflush(stdout);
#ifdef FOLIOWAY_HAVE_SYSTEMD
    // The service manager starts what depends on us only once we listen.
    sd_notify(0, "READY=1");
#endif

    for (int received = 0; sigwait(&signals, &received) == 0 && received == SIGHUP;) {
        if (!options.noLog && !log.reopen(&error))
            Console::fail(error);
    }
#ifdef FOLIOWAY_HAVE_SYSTEMD
    sd_notify(0, "STOPPING=1");
#endif
    // The requests in flight are answered before the process ends.
    server.stop();
    return 0;
}
