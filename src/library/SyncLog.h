#pragma once

#include "library/BookFingerprint.h"

#include <QString>
#include <QVariant>

#include <functional>

struct LibraryConnection;

// The change log of reading synchronised through an account, kept in a file of its own in the
// program folder (readable by its owner only) beside the library database, never inside it: the
// account's server and name, the cursor of what was fetched, the versions the server gave, the
// changes waiting to be sent and the fingerprints of the shelf's files. The file is attached to
// the library's connection as "sync"; while the log is on, triggers of that connection write,
// with the moment, every change of a shelf entry, of a book's bookmark, of a reading position and
// of how a book is read (SyncChange, one row per kind and book file; `first` marks a row's first appearance, which is no
// change of the user's) and of an entry of a book's bookmark list (SyncMarkChange). SyncSuccessor
// keeps which fingerprint a book's content had before an update and which it has since.
class SyncLog
{
public:
    explicit SyncLog(LibraryConnection &connection) : m_connection(connection) {}

    // The sync file that goes with the library file at dataFile: in the program folder, the one
    // holding the library's "DataFile" folder, or beside the library file elsewhere.
    static QString fileFor(const QString &dataFile);

    // At the library's opening: attaches the sync file when there is one. A library that kept
    // its log inside itself moves it into the sync file first, once, losing nothing.
    bool open(const QString &dataFile);
    bool isOn() const;
    // Creates and attaches the file when needed and turns the log on; the first time, everything
    // the library holds now is queued with the time it last changed. A log whose lists never
    // travelled queues them once.
    bool enable();
    // While paused, what changes in the library is not logged (the server's versions going in).
    bool setPaused(bool paused);

    QString value(const QString &name) const;
    bool setValue(const QString &name, const QString &value);

    QList<FingerprintEntry> fingerprintEntries() const;
    bool storeFingerprints(const QList<FingerprintEntry> &entries);
    QString fingerprintOf(const QString &path) const;
    // The fingerprint the account knows the book at path by: its successor when it has one.
    QString keyOf(const QString &path) const;
    // The content of a book changed by an update: the new fingerprint takes the old one's place
    // here, and the change is waiting to be sent. False when nothing changed.
    bool recordSuccessor(const QString &oldFingerprint, const QString &newFingerprint, qint64 changed, bool pending);

    // Forgets the waiting change of kind at path (or of the list entry), unless it changed after upTo.
    bool forget(const QString &kind, const QString &path, const QString &entry, qint64 upTo);

private:
    bool attach(bool create);
    bool moveOldLog();
    bool createTriggers();

    LibraryConnection &m_connection;
    QString m_file;
    bool m_attached = false;
};

// Milliseconds since 1970 UTC of a time the library wrote as local "yyyy-MM-dd HH:mm:ss[.zzz]"; 1 when unreadable.
qint64 SyncLocalTimeMs(const QString &text);

// Runs work in one transaction, kept only when all of it succeeded.
bool SyncTransaction(LibraryConnection &connection, const std::function<bool()> &work);
