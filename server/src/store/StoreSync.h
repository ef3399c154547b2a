#pragma once

#include <QList>
#include <QString>

#include <optional>

class Store;

// One synchronised thing of a user's reading: the place in a book, a bookmark or a shelf entry,
// keyed by the book's content; or a successor, which says that the content named by its key was
// updated into the one named by its payload. Which one is told by kind and key; the server keeps, per kind and key, the version changed
// last and numbers every version it keeps in the user's own increasing sequence.
struct SyncItem
{
    QString kind;
    QString key;
    qint64 changed = 0; // milliseconds since the epoch, on the clock of the computer it changed on
    bool deleted = false; // a removal, kept so that it reaches the other computers
    QString payload;      // the client's own text; empty for a removal
    qint64 seq = 0;       // set by the server

    // Whether this version wins over other: changed later, or at the same moment a removal
    // over a live item, then the greater payload, so every server decides a tie alike.
    bool supersedes(const SyncItem &other) const;
    bool sameVersion(const SyncItem &other) const
    {
        return changed == other.changed && deleted == other.deleted && payload == other.payload;
    }
};

// What became of one item of a push.
enum class SyncVerdict { Stored, Same, Older, Full };

struct SyncPushOutcome
{
    bool ok = false;
    bool overQuota = false;      // nothing was kept: the user's items would outgrow their bytes
    qint64 last = 0;             // the user's newest sequence number afterwards
    QList<SyncVerdict> verdicts; // one per item sent
    QList<SyncItem> kept;        // one per item sent: the version the server holds (sent one when Full)
};

struct SyncPage
{
    bool ok = false;
    qint64 last = 0; // the user's newest sequence number
    QList<SyncItem> items;
    bool more = false; // items after these were left for the next page
};

// A book on a reader's synchronised shelf and the newest version of the place read in it
// (empty key: none; it may be a removal).
struct ShelfEntry
{
    SyncItem entry;
    SyncItem place;
};

// The users' synchronised items, on both back ends alike.
class StoreSync
{
public:
    explicit StoreSync(Store &store) : m_store(store) {}
    StoreSync(const StoreSync &) = delete;
    StoreSync &operator=(const StoreSync &) = delete;

    // Keeps each item that supersedes the held one of its kind and key, all in one transaction;
    // a key not held yet is refused once the user holds maxItems. A push sent again changes
    // nothing. A push that would take the user's keys and payloads past maxBytes (UTF-8) when
    // they grow keeps nothing. A successor kept moves the items of the old content to the new one
    // (the newer of two wins), so no item of the old content stays; an item later sent for the old
    // content is kept for the new one.
    SyncPushOutcome push(qint64 userId, const QList<SyncItem> &items, qint64 maxItems, qint64 maxBytes);
    // The versions numbered after `after`, in order, at most limit of them.
    SyncPage pull(qint64 userId, qint64 after, int limit);
    // The version held of one kind and key; empty when none is, or the database failed.
    std::optional<SyncItem> item(qint64 userId, const QString &kind, const QString &key);
    // The books on the reader's shelf as the program keeps it, the one read last first; empty
    // with *ok false when the database failed.
    QList<ShelfEntry> shelf(qint64 userId, bool *ok);

private:
    std::optional<SyncItem> find(qint64 userId, const QString &kind, const QString &key, bool *ok);
    bool write(qint64 userId, const SyncItem &item, bool held);
    bool remove(qint64 userId, const QString &kind, const QString &key);
    // The key an item of a content has now that the content may have been updated.
    QString currentKey(qint64 userId, const QString &key, bool *ok);
    bool moveBook(qint64 userId, const QString &from, const QString &to, qint64 &seq, qint64 &held, qint64 &bytes);

    Store &m_store;
};
