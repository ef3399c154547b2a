#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

// A throw-away PostgreSQL cluster: initdb in a temporary folder, a server on a free loopback
// port with trust authentication, all removed at the end. PostgreSQL refuses to run as root,
// so under root the cluster belongs to the user nobody. Qt Core only.
class PgCluster
{
public:
    ~PgCluster() { stop(); }

    // The newest installed server's programs, or empty when PostgreSQL is not installed.
    static QString programs()
    {
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &v : versions) {
            if (QFileInfo(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(v)).isExecutable())
                return QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
        }
        return {};
    }

    // Creates the cluster and starts its server; false with the programs' output in error.
    bool create(QString *error)
    {
        m_bin = programs();
        const passwd *nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (nobody && ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) == 0)
            m_runAs = QStringLiteral("nobody");
        QTcpServer probe;
        if (m_bin.isEmpty() || !m_dir.isValid() || !probe.listen(QHostAddress::LocalHost)) {
            *error = QStringLiteral("PostgreSQL is not installed, or no folder or port is free");
            return false;
        }
        m_port = probe.serverPort();
        probe.close();
        return run(QStringLiteral("initdb"), {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), user(),
                                              QStringLiteral("--auth=trust"), QStringLiteral("-EUTF8"),
                                              QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
                   error) &&
               start(error);
    }

    // Starts (again) the cluster's server and waits until it takes connections.
    bool start(QString *error)
    {
        const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off").arg(m_port).arg(m_dir.path());
        m_running = run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"),
                                                   m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                                                   QStringLiteral("-o"), options, QStringLiteral("start")},
                        error);
        return m_running;
    }

    // Stops the server at once, ending open connections, as a restart of the database does.
    bool stop()
    {
        QString error;
        if (m_running)
            m_running = !run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(), QStringLiteral("-mfast"),
                                                        QStringLiteral("-w"), QStringLiteral("stop")},
                             &error);
        return !m_running;
    }

    // A new empty database; its address for folioway-server.
    QString createDatabase(const QString &name, QString *error)
    {
        if (!run(QStringLiteral("createdb"), {QStringLiteral("-h127.0.0.1"), QStringLiteral("-p%1").arg(m_port),
                                              QStringLiteral("-U"), user(), name},
                 error))
            return {};
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user()).arg(m_port).arg(name);
    }

private:
    static QString user() { return QStringLiteral("folioway"); }
    QString dataDir() const { return m_dir.filePath(QStringLiteral("cluster")); }

    bool run(const QString &program, const QStringList &arguments, QString *error) const
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QString path = m_bin + u'/' + program;
        if (m_runAs.isEmpty())
            p.start(path, arguments);
        else
            p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), m_runAs, QStringLiteral("--"), path} + arguments);
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            *error = program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
        return ok;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_runAs;
    quint16 m_port = 0;
    bool m_running = false;
};
