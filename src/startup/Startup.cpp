#include "startup/Startup.h"

#include "library/LibraryDb.h"
#include "net/WebAddress.h"
#include "platform/Prompter.h"
#include "startup/ProgramFolder.h"

#include <QSettings>
#include <QUrl>

AppConfig AppConfig::load(const QString &programFolder)
{
    AppConfig config;
    QSettings ini(JoinPath(programFolder, QStringLiteral("Folioway.ini")), QSettings::IniFormat);
    const QString base = ini.value(QStringLiteral("ServerBaseUrl")).toString().trimmed();
    if (!base.isEmpty())
        config.serverBaseUrl = base.endsWith(QLatin1Char('/')) ? base.chopped(1) : base;
    bool ok = false;
    const int timeout = ini.value(QStringLiteral("ServerInfoTimeoutMs")).toInt(&ok);
    if (ok && timeout > 0)
        config.serverInfoTimeoutMs = timeout;
    return config;
}

bool AppConfig::saveServerBaseUrl(const QString &programFolder) const
{
    QSettings ini(JoinPath(programFolder, QStringLiteral("Folioway.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("ServerBaseUrl"), serverBaseUrl);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

QString NormalisedServerAddress(const QString &typed)
{
    QString text = typed.trimmed();
    if (!text.contains(QStringLiteral("://")))
        text.prepend(QStringLiteral("http://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty() || url.hasQuery() ||
        url.hasFragment() || !url.userInfo().isEmpty())
        return {};
    QString address = url.toString(QUrl::NormalizePathSegments);
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address;
}

bool PrepareStartup(AppContext &ctx, Prompter &prompter, int *exitCode)
{
    const QString dbPath = JoinPath(JoinPath(ctx.programFolder, QStringLiteral("DataFile")), QStringLiteral("Data.db"));
    QString error;
    if (!ctx.db->open(dbPath, &error)) {
        prompter.message(QStringLiteral("无法打开书库数据库文件：\r\n%1\r\n\r\n%2\r\n\r\n"
                                        "该文件可能已损坏或不是书库数据库。程序不会改动它，请修复或移走该文件后再启动。")
                             .arg(dbPath, error),
                         Prompter::Icon::Critical);
        *exitCode = 2;
        return false;
    }

    bool made = true;
    ctx.downloadFolder = EnsureFolderPath(ctx.db->downSavePath(), &made);
    if (!made) {
        prompter.message(QStringLiteral("无法创建下载文件夹：\r\n%1").arg(ctx.downloadFolder), Prompter::Icon::Critical);
        *exitCode = 3;
        return false;
    }
    if (ctx.downloadFolder.isEmpty()) {
        // Not created now: the next start or the first download makes it.
        ctx.downloadFolder = JoinPath(ctx.programFolder, QStringLiteral("TxtBook"));
        ctx.db->setDownSavePath(ctx.downloadFolder);
    }

    ctx.serverInfo = ServerInfo{};
    ctx.machineId = MachineId(ctx.programFolder);
    *exitCode = 0;
    return true;
}

QString ServerInfoUrl(const QString &serverBaseUrl, const QString &machineId, const QDateTime &when)
{
    QString url = serverBaseUrl + QStringLiteral("/readerserver/getinfo.asp?desknum=") + machineId +
                  QStringLiteral("&rnt=") + RequestTimeText(when);
    url.remove(QLatin1Char(' '));
    return url;
}
