#pragma once

#include <QList>
#include <QString>

#include <atomic>

// Which book a file holds, whatever its name and folder: "<size>:<sha1 of the content>", so the
// same file copied to another computer is known as the same book there.
// Empty when the file cannot be read, or when `stop` is set while it is read.
QString BookFingerprint(const QString &path, const std::atomic_bool *stop = nullptr);

// One file of the shelf with what the library remembers of it (size and modification time, in
// milliseconds, of the file when its fingerprint was taken).
struct FingerprintEntry
{
    QString path;
    qint64 size = -1;
    qint64 modified = -1;
    QString fingerprint; // empty: not taken yet, or the file cannot be read
};

// The entries whose file changed since their fingerprint was taken, fingerprinted again; files
// that are gone or unreadable are left out. Reads whole files: meant for a worker thread, which
// `stop` ends within a megabyte (the program is closing), with the files finished so far.
QList<FingerprintEntry> RefreshFingerprints(const QList<FingerprintEntry> &known, const std::atomic_bool *stop = nullptr);
