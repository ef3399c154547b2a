#pragma once

#include <QProcess>
#include <QStringList>
#include <QUrl>

// Runs the built folioway-server binary for a test: on a free loopback port, with a data
// folder of the test's choosing.
class ServerProcess
{
public:
    ~ServerProcess();

    static QString binary();
    // Starts serving and waits for the "listening on" line; false with the output on failure.
    bool start(const QString &dataDir, const QStringList &extra = {});
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }
    QUrl url(const QString &pathAndQuery) const;
    QString output() const { return m_output; }

    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    // Runs one command of the binary to its end.
    static Result run(const QStringList &arguments);

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_output;
};
