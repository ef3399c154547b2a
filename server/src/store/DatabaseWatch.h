#pragma once

#include <QByteArray>
#include <QString>

// Writes to a SQLite database file by any process on this host, seen through inotify on its
// folder: asking costs one read that does not wait, and no lock of the database.
class DatabaseWatch
{
public:
    explicit DatabaseWatch(const QString &databaseFile);
    ~DatabaseWatch();
    DatabaseWatch(const DatabaseWatch &) = delete;
    DatabaseWatch &operator=(const DatabaseWatch &) = delete;

    bool watching() const { return m_fd >= 0; }
    // Whether the database, its journal or its write-ahead log was written since last asked
    // (true too when the events overflowed). Safe from several threads at once.
    bool written();

private:
    int m_fd = -1;
    QByteArray m_name; // the database file's name in its folder
};
