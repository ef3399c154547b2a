#pragma once

#include "library/BookFingerprint.h"
#include "library/LibraryOptions.h"
#include "net/SyncProtocol.h"

#include <QList>
#include <QString>
#include <optional>

struct LibraryConnection;

// A local change waiting for the server: the item to send and the book file it came from.
struct PendingSyncItem
{
    SyncItem item;
    QString path;
    QString entry; // the bookmark list entry's id; empty for the other kinds
};

// A shelf entry another computer keeps for a book no file here holds.
struct RemoteBook
{
    QString fingerprint;
    QString type;
    QString name;
    QString author;
    QString catalogueId; // the catalogue's id of the book when it was downloaded from there
    qint64 changed = 0;  // when that computer last changed the entry, ms since 1970 UTC
};

// What the library keeps for reading synchronised through an account. Nothing is recorded
// until enable() (the first sync after a login): from then on the database itself logs, with
// the moment, every change of a shelf entry, of a book's bookmark and of a reading position
// (SyncChange, one row per kind and book file) and of an entry of a book's bookmark list
// (SyncMarkChange, one row per file and entry), so no change is missed whichever window made
// it, and the changes wait there while the server is away. SyncFingerprint caches each file's
// fingerprint by path, size and modification time; SyncRemote keeps the newest version the
// server gave of each item, which is how positions from other computers are offered and books
// of other computers are listed.
class LibrarySync
{
public:
    explicit LibrarySync(LibraryConnection &connection) : m_connection(connection) {}

    bool isEnabled() const;
    // Starts the log. The first time, everything the library holds now is queued with the time
    // it last changed (the shelf's last reading, the position's saving, the list entry's own
    // change), so an older copy on another computer does not win over a newer one here. A
    // library whose log ran before its bookmark lists travelled queues those lists once.
    bool enable();

    // The shelf's files and the files of waiting changes, with their cached fingerprints.
    QList<FingerprintEntry> fingerprintEntries() const;
    bool storeFingerprints(const QList<FingerprintEntry> &entries);
    // The cached fingerprint of a path, however old; empty when never taken.
    QString fingerprintOf(const QString &path) const;

    // The oldest waiting changes, as items to push. A change of a file never fingerprinted
    // waits while the file is there and is dropped once it is gone: it cannot be named.
    QList<PendingSyncItem> pendingItems(int limit);
    // The server holds what was sent: each change is done unless it changed again since.
    bool settle(const QList<PendingSyncItem> &sent);

    // Takes the server's versions: each newer than the change waiting here (if any) replaces the
    // shelf entry, the bookmark or the bookmark list entry of every file with that fingerprint,
    // without logging a change.
    bool apply(const QList<SyncItem> &items);

    qint64 cursor() const;
    bool setCursor(qint64 seq);
    // Another server or account: everything is asked for again.
    void resetFor(const QString &account);

    // The place another computer reached in the book at path when it is newer than, and
    // differs from, the one saved here.
    std::optional<ReadingPosition> remotePositionAhead(const QString &path) const;
    QList<RemoteBook> remoteOnlyBooks() const;

    static QString positionPayload(const ReadingPosition &position);

private:
    bool applyOne(const SyncItem &item);
    bool applyListEntry(const SyncItem &item, const QString &fingerprint, const QString &entry);
    QString option(const QString &name) const;
    // Forgets the waiting change, unless it changed again after upTo.
    bool forget(const PendingSyncItem &change, qint64 upTo);
    // The files holding the book that take the server's version of the item: all but those where
    // a change of it at least as new waits to be sent; none when the database refused.
    std::optional<QStringList> filesTaking(const SyncItem &item, const QString &fingerprint, const QString &entry) const;

    LibraryConnection &m_connection;
};

// Statements creating the tables and the triggers that log changes.
QStringList LibrarySyncSchema();
