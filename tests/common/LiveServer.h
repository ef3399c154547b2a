#pragma once

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <csignal>

// The real folioway-server binary from the build's bin folder, on a free loopback port. The
// client's live tests and the server's own use it alike, so it needs Qt Core and TestSupport only.
class LiveServer
{
public:
    ~LiveServer() { stop(); }

    // folioway-server in binDir, or empty when it is not built there.
    static QString binary(const QString &binDir)
    {
        const QString path = QDir(binDir).filePath(QStringLiteral("folioway-server"));
        return QFileInfo(path).isExecutable() ? path : QString();
    }

    // Serves on port 0 with the given arguments and waits for the "listening on" line; false,
    // with the output kept, when the server does not come up.
    bool start(const QString &binDir, const QStringList &arguments)
    {
        m_process.setProgram(binary(binDir));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        static const QRegularExpression listening(QStringLiteral("listening on (https?://127\\.0\\.0\\.1:\\d+)"));
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
        m_output += QString::fromUtf8(m_process.readAll());
        return false;
    }

    // Asks the server to stop (SIGTERM) and waits; its exit code, -1 when it had to be killed.
    int stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        m_process.terminate();
        if (!m_process.waitForFinished(60000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    qint64 pid() const { return m_process.processId(); }
    // Sends a signal without waiting for anything.
    void signal(int number) const { ::kill(pid_t(m_process.processId()), number); }

    // Ends the server at once, as a crash would: open connections just drop.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QString baseUrl() const { return m_baseUrl; } // "http://127.0.0.1:<port>"
    quint16 port() const { return quint16(QUrl(m_baseUrl).port()); }
    QString output() const { return m_output; }

    struct Result
    {
        int exitCode = -1; // -1: crashed or did not finish
        QString out;
        QString err;
    };
    // Runs one command of the binary to its end.
    static Result run(const QString &binDir, const QStringList &arguments)
    {
        const TestSupport::ProgramRun r = TestSupport::runProgram(binary(binDir), arguments);
        return {r.exitCode, QString::fromUtf8(r.out), QString::fromUtf8(r.err)};
    }

private:
    QProcess m_process;
    QString m_baseUrl;
    QString m_output;
};

// In a test function: serves with these arguments, or fails the test with what the server said.
#define START(server, ...) QVERIFY2((server).start(TestSupport::binDir(), __VA_ARGS__), qPrintable((server).output()))
