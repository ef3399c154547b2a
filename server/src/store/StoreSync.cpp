#include "store/StoreSync.h"

#include "store/Store.h"
#include "store/StoreSupport.h"

#include <QSqlQuery>
#include <QVariant>

#include <optional>

bool SyncItem::supersedes(const SyncItem &other) const
{
    if (changed != other.changed)
        return changed > other.changed;
    if (deleted != other.deleted)
        return deleted;
    return payload > other.payload;
}

SyncPushOutcome StoreSync::push(qint64 userId, const QList<SyncItem> &items, qint64 maxItems)
{
    SyncPushOutcome out;
    const bool done = m_store.transaction([&] {
        out.verdicts.clear();
        out.kept.clear();
        // The user's counter row is written first: on PostgreSQL that locks it, so two pushes of
        // one user number their items in turn and commit in the order of their numbers.
        QSqlQuery &create = m_store.prepared(
            QStringLiteral("INSERT INTO sync_users (userid, seq, items) VALUES (?, 0, 0) ON CONFLICT DO NOTHING"));
        create.addBindValue(userId);
        QSqlQuery &lock = m_store.prepared(QStringLiteral("UPDATE sync_users SET seq = seq WHERE userid = ?"));
        lock.addBindValue(userId);
        if (!m_store.exec(create) || !m_store.exec(lock))
            return false;
        QSqlQuery &counter = m_store.prepared(QStringLiteral("SELECT seq, items FROM sync_users WHERE userid = ?"));
        counter.addBindValue(userId);
        if (!m_store.exec(counter) || !counter.next())
            return false;
        qint64 seq = counter.value(0).toLongLong();
        qint64 held = counter.value(1).toLongLong();
        counter.finish();
        const qint64 firstSeq = seq;

        for (const SyncItem &sent : items) {
            QSqlQuery &find = m_store.prepared(QStringLiteral(
                "SELECT seq, changed, deleted, payload FROM sync_items WHERE userid = ? AND kind = ? AND key = ?"));
            find.addBindValue(userId);
            find.addBindValue(sent.kind);
            find.addBindValue(sent.key);
            if (!m_store.exec(find))
                return false;
            std::optional<SyncItem> old;
            if (find.next()) {
                old = SyncItem{sent.kind, sent.key, find.value(1).toLongLong(), find.value(2).toInt() != 0,
                               find.value(3).toString(), find.value(0).toLongLong()};
            }
            find.finish();
            if (old && !sent.supersedes(*old)) {
                out.verdicts.append(old->sameVersion(sent) ? SyncVerdict::Same : SyncVerdict::Older);
                out.kept.append(*old);
                continue;
            }
            if (!old && held >= maxItems) {
                out.verdicts.append(SyncVerdict::Full);
                out.kept.append(sent);
                continue;
            }
            SyncItem stored = sent;
            stored.seq = ++seq;
            QSqlQuery &write = m_store.prepared(
                old ? QStringLiteral("UPDATE sync_items SET seq = ?, changed = ?, deleted = ?, payload = ? "
                                     "WHERE userid = ? AND kind = ? AND key = ?")
                    : QStringLiteral("INSERT INTO sync_items (seq, changed, deleted, payload, userid, kind, key) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?)"));
            for (const QVariant &v : {QVariant(stored.seq), QVariant(stored.changed), QVariant(stored.deleted ? 1 : 0),
                                      QVariant(StoreSupport::notNull(stored.payload)), QVariant(userId), QVariant(stored.kind),
                                      QVariant(stored.key)})
                write.addBindValue(v);
            if (!m_store.exec(write))
                return false;
            if (!old)
                ++held;
            out.verdicts.append(SyncVerdict::Stored);
            out.kept.append(stored);
        }
        out.last = seq;
        if (seq == firstSeq)
            return true;
        QSqlQuery &save = m_store.prepared(QStringLiteral("UPDATE sync_users SET seq = ?, items = ? WHERE userid = ?"));
        save.addBindValue(seq);
        save.addBindValue(held);
        save.addBindValue(userId);
        return m_store.exec(save);
    });
    out.ok = done;
    return out;
}

SyncPage StoreSync::pull(qint64 userId, qint64 after, int limit)
{
    SyncPage page;
    QSqlQuery &head = m_store.prepared(QStringLiteral("SELECT seq FROM sync_users WHERE userid = ?"));
    head.addBindValue(userId);
    if (!m_store.exec(head))
        return page;
    page.last = head.next() ? head.value(0).toLongLong() : 0;
    head.finish();
    // One row more than asked for tells whether another page follows.
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT seq, kind, key, changed, deleted, payload FROM sync_items "
                                                   "WHERE userid = ? AND seq > ? ORDER BY seq LIMIT ?"));
    q.addBindValue(userId);
    q.addBindValue(after);
    q.addBindValue(limit + 1);
    if (!m_store.exec(q))
        return page;
    while (q.next()) {
        if (page.items.size() == limit) {
            page.more = true;
            break;
        }
        page.items.append(SyncItem{q.value(1).toString(), q.value(2).toString(), q.value(3).toLongLong(),
                                   q.value(4).toInt() != 0, q.value(5).toString(), q.value(0).toLongLong()});
    }
    q.finish();
    // A push committed between the two reads may show here before its number did above.
    if (!page.items.isEmpty())
        page.last = std::max(page.last, page.items.last().seq);
    page.ok = true;
    return page;
}

std::optional<SyncItem> StoreSync::item(qint64 userId, const QString &kind, const QString &key)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT seq, changed, deleted, payload FROM sync_items "
                                                   "WHERE userid = ? AND kind = ? AND key = ?"));
    q.addBindValue(userId);
    q.addBindValue(kind);
    q.addBindValue(key);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    SyncItem item{kind, key, q.value(1).toLongLong(), q.value(2).toInt() != 0, q.value(3).toString(), q.value(0).toLongLong()};
    q.finish();
    return item;
}
