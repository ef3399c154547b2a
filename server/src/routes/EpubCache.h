#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>

// The EPUBs of the books, kept in a folder of their own under a name made from what went into
// them (the book file's content, its cover and its catalogue entry), so a replaced book gets a
// new one. Built once: a request for a book being built waits for that build. The folder is held
// to a size: past it the files used longest ago are dropped first, never the newest one, so
// even a bound smaller than one book keeps the book just built until the next is done.
// Shared by every thread.
class EpubCache
{
public:
    EpubCache(QString dir, qint64 maxBytes) : m_dir(std::move(dir)), m_maxBytes(maxBytes) {}

    // The SHA-1 of a file's content in hex, remembered while its size and modification time
    // stay the same; empty when the file cannot be read, or, without compute, is not hashed yet.
    QString contentHash(const QString &path, bool compute = true) const;
    // The kept EPUB named key, marked as used now; empty when there is none.
    QString find(const QString &key) const;

    struct Built
    {
        QString path;  // empty when the build failed
        QString error; // in words for the reader
    };
    // The EPUB named key, written by write(target) unless it is kept already; returns false
    // with the error when it fails. One build per key at a time.
    Built build(const QString &key, const std::function<bool(const QString &target, QString *error)> &write) const;

    QString dir() const { return m_dir; }

private:
    QString pathOf(const QString &key) const;
    // Drops the files used longest ago until the folder is within its bound; keeps `newest`.
    void trim(const QString &newest) const;

    struct Hashed
    {
        qint64 size = -1;
        QDateTime modified;
        QString hash;
    };

    QString m_dir;
    qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_built;
    mutable QSet<QString> m_building;
    mutable QHash<QString, Hashed> m_hashes;
    // The order of use since the start, which the files' times are too coarse to tell; files
    // not used since come first, in the order of their times.
    mutable QHash<QString, quint64> m_used;
    mutable quint64 m_uses = 0;
    mutable std::mutex m_trimMutex;
    mutable std::mutex m_useMutex;
};
