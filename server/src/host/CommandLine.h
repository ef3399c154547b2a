#pragma once

#include "http/HttpServer.h"
#include "routes/ServerConfig.h"

#include <QString>
#include <QStringList>

#include <optional>

// What the host asked for on the command line: the options, the limits, and a command with
// its argument (none to serve).
struct CommandLine
{
    QString dataDir; // absolute; the user's data location when none is given
    QString bind = QStringLiteral("127.0.0.1");
    QString category;
    int port = 8080;
    int threads = 4;
    bool demo = false;
    QString publicUrl;
    QString logFile;
    QString database;
    QString booksDir;
    QString migrateFrom;
    QString migrateTo;
    QStringList trustedProxies;
    QString tlsCert; // PEM files; both or neither
    QString tlsKey;
    bool noLog = false;
    bool replace = false; // import: a file of a book already there replaces its file
    QStringList command;

    // Reads the arguments after the program's name. Returns the exit code when the run ends
    // here (help, version, or a usage error, already printed).
    std::optional<int> parse(const QStringList &args);
    bool serving() const { return command.isEmpty(); }
    // The limits, public address, database and book folder given, over the loaded config.
    void applyTo(ServerConfig *config) const;
    // The transport's options from the limits given.
    HttpServer::Options transport(const ServerConfig &config) const;

private:
    ServerConfig::Limits m_defaults;
    HttpServer::Options m_transport;
    qint64 m_maxUploadMb = m_defaults.uploadBytes >> 20, m_pendingUploads = m_defaults.pendingUploads,
           m_pendingMb = m_defaults.pendingBytes >> 20, m_perHour = m_defaults.uploadsPerHour,
           m_diskFloorMb = m_defaults.diskFloorBytes >> 20, m_loginTries = m_defaults.accountLockTries,
           m_lockMinutes = m_defaults.lockMinutes, m_perAddress = 32, m_headTimeout = 10;
    qint64 m_bodyTimeout = m_transport.bodySeconds, m_bodyRate = m_transport.bodyRate,
           m_connections = m_transport.connectionLimit, m_hashQueue = m_transport.slowQueue,
           m_signups = m_defaults.signupsPerHour, m_syncQuotaMb = m_defaults.syncQuotaBytes >> 20,
           m_epubCacheMb = m_defaults.epubCacheBytes >> 20,
           m_privateQuotaMb = m_defaults.privateQuotaBytes >> 20;
};

// What the server tells the host on the terminal.
namespace Console {

// Prints message on standard error; returns code, the exit code.
int fail(const QString &message, int code = 1);
// Prints message and the usage on standard error; returns the exit code 2.
int usageError(const QString &message);
void printLine(const QString &line);

} // namespace Console
