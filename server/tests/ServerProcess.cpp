#include "ServerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::binary()
{
    // Tests and benchmarks are built into the same folder as the server.
    const QByteArray dir = qgetenv("FOLIOWAY_BIN_DIR");
    return QDir(dir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(dir))
        .filePath(QStringLiteral("folioway-server"));
}

bool ServerProcess::start(const QString &dataDir, const QStringList &extra)
{
    m_process.setProgram(binary());
    m_process.setArguments(
        QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dataDir} + extra);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    static const QRegularExpression listening(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        m_output += QString::fromUtf8(m_process.readAll());
        const auto match = listening.match(m_output);
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
    }
    m_output += QString::fromUtf8(m_process.readAll());
    return false;
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QUrl ServerProcess::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
}

ServerProcess::Result ServerProcess::run(const QStringList &arguments)
{
    QProcess p;
    p.start(binary(), arguments);
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
