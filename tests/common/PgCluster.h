#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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
        QStringList versions = QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &v : versions) {
            if (QFileInfo(u"/usr/lib/postgresql/%1/bin/initdb"_s.arg(v)).isExecutable())
                return u"/usr/lib/postgresql/%1/bin"_s.arg(v);
        }
        return {};
    }

    // Creates the cluster and starts its server; false with the programs' output in error.
    bool create(QString *error)
    {
        m_bin = programs();
        const passwd *nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (nobody && ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) == 0)
            m_runAs = u"nobody"_s;
        QTcpServer probe;
        if (m_bin.isEmpty() || !m_dir.isValid() || !probe.listen(QHostAddress::LocalHost)) {
            *error = u"PostgreSQL is not installed, or no folder or port is free"_s;
            return false;
        }
        m_port = probe.serverPort();
        probe.close();
        return run(u"initdb"_s, {u"-D"_s, dataDir(), u"-U"_s, user(), u"--auth=trust"_s, u"-EUTF8"_s,
                                  u"--no-locale"_s, u"--no-sync"_s}, error) &&
               start(error);
    }

    // Starts (again) the cluster's server and waits until it takes connections.
    bool start(QString *error)
    {
        const QString options = u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off"_s.arg(m_port).arg(m_dir.path());
        return m_running = run(u"pg_ctl"_s, {u"-D"_s, dataDir(), u"-l"_s, m_dir.filePath(u"server.log"_s), u"-w"_s,
                                              u"-o"_s, options, u"start"_s}, error);
    }

    // Stops the server at once, ending open connections, as a restart of the database does.
    bool stop()
    {
        QString error;
        if (m_running)
            m_running = !run(u"pg_ctl"_s, {u"-D"_s, dataDir(), u"-mfast"_s, u"-w"_s, u"stop"_s}, &error);
        return !m_running;
    }

    // A new empty database; its address for folioway-server.
    QString createDatabase(const QString &name, QString *error)
    {
        if (!run(u"createdb"_s, {u"-h127.0.0.1"_s, u"-p%1"_s.arg(m_port), u"-U"_s, user(), name}, error))
            return {};
        return u"postgresql://%1@127.0.0.1:%2/%3"_s.arg(user()).arg(m_port).arg(name);
    }

private:
    static QString user() { return u"folioway"_s; }
    QString dataDir() const { return m_dir.filePath(u"cluster"_s); }

    bool run(const QString &program, const QStringList &arguments, QString *error) const
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QString path = m_bin + u'/' + program;
        p.start(m_runAs.isEmpty() ? path : u"runuser"_s,
                m_runAs.isEmpty() ? arguments : QStringList{u"-u"_s, m_runAs, u"--"_s, path} + arguments);
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            *error = program + u": "_s + QString::fromLocal8Bit(p.readAll());
        return ok;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_runAs;
    quint16 m_port = 0;
    bool m_running = false;
};

// Runs `job(backEnd, serverArguments, scratchFolder)` on SQLite and then on a throw-away
// PostgreSQL cluster (skipped with a line saying so when it is not installed): the benchmarks'
// main. 0 when every run went well.
template <typename Job>
int RunOnBothBackEnds(Job job)
{
    QTemporaryDir dir;
    if (!job("sqlite", QStringList{u"--data"_s, dir.filePath(u"sqlite"_s)}, dir.filePath(u"scratch-sqlite"_s)))
        return 1;
    if (PgCluster::programs().isEmpty()) {
        std::printf("postgresql not installed, skipped\n");
        return 0;
    }
    PgCluster pg;
    QString error;
    const QString database = pg.create(&error) ? pg.createDatabase(u"bench"_s, &error) : QString();
    if (database.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return job("postgresql", QStringList{u"--data"_s, dir.filePath(u"pg"_s), u"--database"_s, database},
               dir.filePath(u"scratch-pg"_s))
               ? 0
               : 1;
}
