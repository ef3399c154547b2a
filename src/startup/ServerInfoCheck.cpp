#include "startup/ServerInfoCheck.h"

#include "net/NetworkLimits.h"
#include "net/NetworkService.h"
#include "net/XmlTree.h"
#include "platform/Prompter.h"
#include "startup/Startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

bool ReadServerInfoAnswer(int status, const QString &contentType, const QByteArray &body, ServerInfo &info)
{
    if (status != 200 && status != 206)
        return false;
    // A bare text/html is an error page; with a charset parameter it is still read, since some
    // servers label their XML that way.
    if (contentType.toUpper() == QLatin1String("TEXT/HTML"))
        return false;
    const XmlTree tree = XmlTree::parse(body);
    const XmlElement infobase = tree.first(QStringLiteral("infobase"));
    if (infobase.isNull())
        return false;

    const std::pair<const char *, QString *> fields[] = {
        {"reader_1", &info.reader_1}, {"reader_2", &info.reader_2},         {"reader_3", &info.reader_3},
        {"reader_4", &info.reader_4}, {"version", &info.version},           {"mustdown", &info.mustdown},
        {"verinfo", &info.verinfo},   {"downloadlist", &info.downloadlist}, {"savepathlist", &info.savepathlist}};
    for (const auto &[name, target] : fields) {
        const XmlElement element = infobase.first(QLatin1String(name));
        if (element.isNull())
            return false;
        *target = element.text();
        if (target == &info.version)
            *target = target->trimmed();
    }
    return true;
}

QUrl ServerPageUrl(const QString &reader1, const QString &serverBaseUrl)
{
    const QUrl page(reader1.trimmed(), QUrl::TolerantMode);
    const QUrl base(serverBaseUrl);
    // The same origin as the catalogue: scheme, host and port, a port left out being the scheme's own.
    auto port = [](const QUrl &url) { return url.port(url.scheme() == QLatin1String("https") ? 443 : 80); };
    if (!page.isValid() || (page.scheme() != QLatin1String("http") && page.scheme() != QLatin1String("https")) ||
        base.host().isEmpty() || page.scheme() != base.scheme() || page.host() != base.host() ||
        port(page) != port(base) || !page.userInfo().isEmpty())
        return {};
    return page;
}

namespace {

QString updaterProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("update.exe");
#else
    const QString name = QStringLiteral("update");
#endif
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

// Starts the updater; when it cannot be started the user learns why before the program ends.
void launchUpdater(Prompter &prompter, const std::function<bool()> &startUpdater)
{
    if (startUpdater && startUpdater())
        return;
    prompter.message(QStringLiteral("无法启动升级程序，程序将退出。请确认以下文件存在并且可以运行：\r\n") +
                         updaterProgram(),
                     Prompter::Icon::Critical, QStringLiteral("软件需更新"));
}

} // namespace

StartDecision OfferUpdate(const ServerInfo &info, Prompter &prompter, const std::function<bool()> &startUpdater)
{
    if (info.version == ProgramVersion())
        return StartDecision::GoOn;
    const QString title = QStringLiteral("软件需更新");
    // The question's box scrolls, so the notes are shown whole; only more than a server-info
    // answer can hold is cut.
    const QString details = QStringLiteral("\r\n\r\n更新内容：") +
                            BoundedServerText(info.verinfo, int(NetworkLimits::ServerInfoBytes));
    if (info.mustdown == QLatin1String("TRUE")) {
        if (prompter.question(
                QStringLiteral("系统检查到软件需要升级，你需要更新后才能继续使用，是否进行升级？") + details, title))
            launchUpdater(prompter, startUpdater);
        return StartDecision::EndProgram;
    }
    if (info.mustdown == QLatin1String("FALSE")) {
        if (prompter.question(QStringLiteral("系统检查到软件有更新，是否进行升级？") + details, title)) {
            launchUpdater(prompter, startUpdater);
            return StartDecision::EndProgram;
        }
    }
    return StartDecision::GoOn;
}

bool StartUpdater()
{
    // An argument list, so a program folder with blanks needs no quoting.
    return QProcess::startDetached(updaterProgram(), {QStringLiteral("-") + ProgramVersion()},
                                   QCoreApplication::applicationDirPath());
}

StartDecision RunServerInfoCheck(const QString &address, ServerInfo &info, Prompter &prompter,
                                 const ServerInfoCheckOptions &options)
{
    QNetworkAccessManager *manager = options.manager ? options.manager : NetworkService::manager();
    QPointer<QNetworkReply> reply =
        manager->get(GuardedRequest(QUrl(address, QUrl::TolerantMode), options.timeoutMs));
    GuardReply(reply, NetworkLimits::ServerInfoBytes);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(options.timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!reply->isFinished()) {
        reply->abort();
        reply->deleteLater();
        return StartDecision::GoOn;
    }
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return StartDecision::GoOn;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString contentType = QString::fromLatin1(reply->rawHeader(QByteArrayLiteral("Content-Type")));
    // Read on a worker like every answer, the loop turning meanwhile.
    deadline.stop();
    ServerInfo read = info;
    QFutureWatcher<bool> reading;
    QObject::connect(&reading, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
    reading.setFuture(QtConcurrent::run([&read, status, contentType, body = reply->readAll()] {
        return ReadServerInfoAnswer(status, contentType, body, read);
    }));
    if (!reading.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    info = read;
    if (!reading.result())
        return StartDecision::GoOn;
    return OfferUpdate(info, prompter, options.startUpdater);
}

StartDecision ContactServerAtStart(AppContext &ctx, Prompter &prompter, const std::function<bool()> &startUpdater)
{
    NetworkService::persistCookiesIn(ctx.programFolder);
    ServerInfoCheckOptions options;
    options.timeoutMs = ctx.config.serverInfoTimeoutMs;
    options.startUpdater = startUpdater;
    return RunServerInfoCheck(ServerInfoUrl(ctx.config.serverBaseUrl, ctx.machineId), ctx.serverInfo, prompter,
                              options);
}
