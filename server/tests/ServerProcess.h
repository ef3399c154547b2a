#pragma once

#include "../../tests/common/LiveServer.h"

#include <QCoreApplication>

// The server benchmark's name for LiveServer: a data folder to serve, and the binary from
// FOLIOWAY_BIN_DIR or beside the running program.
class ServerProcess : public LiveServer
{
public:
    bool start(const QString &dataDir, const QStringList &extra = {})
    {
        const QString binDir = qEnvironmentVariable("FOLIOWAY_BIN_DIR", QCoreApplication::applicationDirPath());
        return LiveServer::start(binDir, QStringList{QStringLiteral("--data"), dataDir} + extra);
    }
    QUrl url(const QString &pathAndQuery) const { return QUrl(baseUrl() + pathAndQuery); }
};
