#pragma once

#include "library/BookFingerprint.h"
#include "library/LibraryOptions.h"
#include "library/SyncLog.h"
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

// What the library keeps for reading synchronised through an account, on top of its change log
// (SyncLog): the changes to send, taking the server's versions, and what they offer. Nothing is
// recorded until enable() (the first sync). SyncRemote keeps the newest version the server gave
// of each item: positions from other computers are offered from it, books of other computers are
// listed from it, and a book file that arrives later takes its items from it.
class LibrarySync
{
public:
    explicit LibrarySync(LibraryConnection &connection) : m_connection(connection), m_log(connection) {}

    bool open(const QString &dataFile) { return m_log.open(dataFile); }
    bool isEnabled() const { return m_log.isOn(); }
    // Starts the log (see SyncLog::enable), so an older copy on another computer does not win over
    // a newer one here.
    bool enable() { return m_log.enable(); }

    QList<FingerprintEntry> fingerprintEntries() const { return m_log.fingerprintEntries(); }
    bool storeFingerprints(const QList<FingerprintEntry> &entries)
    {
        return SyncTransaction(m_connection, [&] { return m_log.storeFingerprints(entries); });
    }
    // The cached fingerprint of a path, however old; empty when never taken.
    QString fingerprintOf(const QString &path) const { return m_log.fingerprintOf(path); }

    // A shelf row for path was just added (inside the caller's transaction): when the account
    // holds items of that content, the row takes its shelf entry, bookmark, list entries and
    // place now, and its appearance is no change to send.
    bool bookArrived(const QString &path);
    // The file at path got new content by an update: every item of the book follows it, and the
    // server is told which content the old became.
    bool bookReplaced(const QString &path);
    // Rows that appeared before their items were fetched take them now (a round, after a fetch).
    bool takeAccountValues();

    // The oldest waiting changes as items to push, those of how a book is read only with `readings` (older
    // servers refuse them). A change of a file never fingerprinted waits while the file is there, then goes.
    QList<PendingSyncItem> pendingItems(int limit, bool readings = false);
    // The server holds what was sent: each change is done unless it changed again since, and
    // the versions it kept (held) are known as the server's, so an older copy of the server's
    // data cannot bring older versions back over them.
    bool settle(const QList<PendingSyncItem> &sent, const QList<SyncItem> &held = {});

    // Takes the server's versions: each newer than the change waiting here (if any) replaces the
    // shelf entry, the bookmark, the bookmark list entry or the way of reading of every file with
    // that fingerprint, without logging a change.
    bool apply(const QList<SyncItem> &items);

    qint64 cursor() const { return m_log.value(QStringLiteral("Cursor")).toLongLong(); }
    bool setCursor(qint64 seq) { return m_log.setValue(QStringLiteral("Cursor"), QString::number(seq)); }
    // Another server or account: everything is asked for again.
    void resetFor(const QString &account);

    // The place another computer reached in the book at path when it is newer than, and
    // differs from, the one saved here.
    std::optional<ReadingPosition> remotePositionAhead(const QString &path) const;
    QList<RemoteBook> remoteOnlyBooks() const;

    static QString positionPayload(const ReadingPosition &position);

private:
    // onlyPath: the one file that takes the item, whatever the server's version held before.
    bool applyOne(const SyncItem &item, const QString &onlyPath = {});
    bool applyListEntry(const SyncItem &item, const QString &fingerprint, const QString &entry, const QString &onlyPath);
    bool applyPosition(const SyncItem &item, const QString &path);
    bool takeFor(const QString &path, const QString &key);
    // The files holding the book that take the server's version of the item: all but those where
    // a change of it at least as new waits to be sent; none when the database refused.
    std::optional<QStringList> filesTaking(const SyncItem &item, const QString &fingerprint, const QString &entry,
                                           const QString &onlyPath) const;

    LibraryConnection &m_connection;
    SyncLog m_log;
};
