#pragma once

#include <QString>
#include <QStringList>

class Store;
struct ServerConfig;

// The host's commands on the catalogue, run from the command line instead of serving. Each
// returns the process's exit code, its messages already printed.
namespace HostCommands {

// Copies a single-machine catalogue into an empty shared database.
int migrate(const QString &fromLocation, const QString &toLocation);
// The backup command for a PostgreSQL catalogue: says how to use pg_dump; exit code 1.
int postgresBackupAdvice(const ServerConfig &config, const QString &dest);
// import FOLDER, backup DEST, approve ID, reject ID, pending, delete-book ID, users, reset-password NAME
// or disable-user NAME, as command holds it (the verb, then its argument).
int run(Store &store, const ServerConfig &config, const QStringList &command, const QString &category,
        bool replace = false);

} // namespace HostCommands
