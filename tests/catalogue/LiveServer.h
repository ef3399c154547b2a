#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

// The real folioway-server binary from the build's bin folder, on a free loopback port.
class LiveServer
{
public:
    ~LiveServer() { stop(); }

    static QString binary(const QString &binDir)
    {
        const QString path = QDir(binDir).filePath(QStringLiteral("folioway-server"));
        return QFileInfo(path).isExecutable() ? path : QString();
    }

    bool start(const QString &binDir, const QStringList &arguments)
    {
        m_process.setProgram(binary(binDir));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        static const QRegularExpression listening(QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+)"));
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(200);
            m_output += QString::fromUtf8(m_process.readAll());
            const QRegularExpressionMatch match = listening.match(m_output);
            if (match.hasMatch()) {
                m_baseUrl = match.captured(1);
                return true;
            }
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString baseUrl() const { return m_baseUrl; }
    QString output() const { return m_output; }

private:
    QProcess m_process;
    QString m_baseUrl;
    QString m_output;
};
