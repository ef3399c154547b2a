#include "store/StoreSync.h"

#include "store/Store.h"
#include "store/StoreSupport.h"

#include <QHash>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <optional>

bool SyncItem::supersedes(const SyncItem &other) const
{
    if (changed != other.changed)
        return changed > other.changed;
    if (deleted != other.deleted)
        return deleted;
    return payload > other.payload;
}

namespace {

qint64 bytesOf(const QString &text)
{
    return text.toUtf8().size();
}

// An update's chain of successors is followed at most this far (a loop ends there too).
constexpr int kSuccessorHops = 16;
const QString kSuccessor = QStringLiteral("successor");

bool isSuccessor(const SyncItem &item)
{
    return item.kind == kSuccessor;
}

} // namespace

std::optional<SyncItem> StoreSync::find(qint64 userId, const QString &kind, const QString &key, bool *ok)
{
    QSqlQuery &q = m_store.prepared(
        QStringLiteral("SELECT seq, changed, deleted, payload FROM sync_items WHERE userid = ? AND kind = ? AND key = ?"));
    q.addBindValue(userId);
    q.addBindValue(kind);
    q.addBindValue(key);
    if (!m_store.exec(q)) {
        *ok = false;
        return std::nullopt;
    }
    std::optional<SyncItem> found;
    if (q.next())
        found = SyncItem{kind, key, q.value(1).toLongLong(), q.value(2).toInt() != 0, q.value(3).toString(), q.value(0).toLongLong()};
    q.finish();
    return found;
}

bool StoreSync::write(qint64 userId, const SyncItem &item, bool held)
{
    QSqlQuery &q = m_store.prepared(held ? QStringLiteral("UPDATE sync_items SET seq = ?, changed = ?, deleted = ?, payload = ? "
                                                          "WHERE userid = ? AND kind = ? AND key = ?")
                                         : QStringLiteral("INSERT INTO sync_items (seq, changed, deleted, payload, userid, kind, key) "
                                                          "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v : {QVariant(item.seq), QVariant(item.changed), QVariant(item.deleted ? 1 : 0),
                              QVariant(StoreSupport::notNull(item.payload)), QVariant(userId), QVariant(item.kind),
                              QVariant(item.key)})
        q.addBindValue(v);
    return m_store.exec(q);
}

bool StoreSync::remove(qint64 userId, const QString &kind, const QString &key)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM sync_items WHERE userid = ? AND kind = ? AND key = ?"));
    q.addBindValue(userId);
    q.addBindValue(kind);
    q.addBindValue(key);
    return m_store.exec(q);
}

QString StoreSync::currentKey(qint64 userId, const QString &key, bool *ok)
{
    const qsizetype separator = key.indexOf(QLatin1Char('/'));
    QString content = separator < 0 ? key : key.left(separator);
    for (int hop = 0; hop < kSuccessorHops && *ok; ++hop) {
        const std::optional<SyncItem> next = find(userId, kSuccessor, content, ok);
        if (!next || next->deleted || next->payload.isEmpty())
            break;
        content = next->payload;
    }
    return separator < 0 ? content : content + key.mid(separator);
}

bool StoreSync::moveBook(qint64 userId, const QString &from, const QString &to, qint64 &seq, qint64 &held, qint64 &bytes)
{
    // The items of the old content: its own key, and its bookmarks' keys after a "/".
    QString pattern = from;
    pattern.replace(QLatin1Char('!'), QStringLiteral("!!")).replace(QLatin1Char('%'), QStringLiteral("!%")).replace(QLatin1Char('_'), QStringLiteral("!_"));
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT kind, key, seq, changed, deleted, payload FROM sync_items "
                                                   "WHERE userid = ? AND kind <> ? AND (key = ? OR key LIKE ? ESCAPE '!')"));
    q.addBindValue(userId);
    q.addBindValue(kSuccessor);
    q.addBindValue(from);
    q.addBindValue(pattern + QStringLiteral("/%"));
    if (!m_store.exec(q))
        return false;
    QList<SyncItem> moving;
    while (q.next()) {
        moving.append(SyncItem{q.value(0).toString(), q.value(1).toString(), q.value(3).toLongLong(), q.value(4).toInt() != 0,
                               q.value(5).toString(), q.value(2).toLongLong()});
    }
    q.finish();
    for (SyncItem item : std::as_const(moving)) {
        if (item.key != from && !item.key.startsWith(from + QLatin1Char('/')))
            continue;
        if (!remove(userId, item.kind, item.key))
            return false;
        --held;
        bytes -= bytesOf(item.key) + bytesOf(item.payload);
        item.key = to + item.key.mid(from.size());
        bool ok = true;
        const std::optional<SyncItem> there = find(userId, item.kind, item.key, &ok);
        if (!ok)
            return false;
        if (there && !item.supersedes(*there))
            continue;
        item.seq = ++seq;
        if (!write(userId, item, there.has_value()))
            return false;
        if (!there)
            ++held;
        bytes += bytesOf(item.payload) - (there ? bytesOf(there->payload) : -bytesOf(item.key));
    }
    // Earlier contents whose successor was the old one lead to the new one now.
    QSqlQuery &earlier = m_store.prepared(QStringLiteral("SELECT key, changed FROM sync_items WHERE userid = ? AND kind = ? AND payload = ?"));
    earlier.addBindValue(userId);
    earlier.addBindValue(kSuccessor);
    earlier.addBindValue(from);
    if (!m_store.exec(earlier))
        return false;
    QList<SyncItem> relinked;
    while (earlier.next())
        relinked.append(SyncItem{kSuccessor, earlier.value(0).toString(), earlier.value(1).toLongLong(), false, to, 0});
    earlier.finish();
    for (SyncItem item : std::as_const(relinked)) {
        // A content updated back into an earlier one leads nowhere: it is the current one.
        if (item.key == to) {
            if (!remove(userId, kSuccessor, to))
                return false;
            --held;
            bytes -= bytesOf(to) + bytesOf(from);
            continue;
        }
        item.seq = ++seq;
        if (!write(userId, item, true))
            return false;
    }
    return true;
}

SyncPushOutcome StoreSync::push(qint64 userId, const QList<SyncItem> &items, qint64 maxItems, qint64 maxBytes)
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
        QSqlQuery &counter = m_store.prepared(QStringLiteral("SELECT seq, items, bytes FROM sync_users WHERE userid = ?"));
        counter.addBindValue(userId);
        if (!m_store.exec(counter) || !counter.next())
            return false;
        qint64 seq = counter.value(0).toLongLong();
        qint64 held = counter.value(1).toLongLong();
        const qint64 bytesBefore = counter.value(2).toLongLong();
        qint64 bytes = bytesBefore;
        counter.finish();
        const qint64 firstSeq = seq;

        for (const SyncItem &sent : items) {
            // An item of a content since updated belongs to the new content.
            bool ok = true;
            SyncItem target = sent;
            if (!isSuccessor(sent))
                target.key = currentKey(userId, sent.key, &ok);
            const std::optional<SyncItem> old = ok ? find(userId, target.kind, target.key, &ok) : std::nullopt;
            if (!ok)
                return false;
            if (old && !target.supersedes(*old)) {
                out.verdicts.append(old->sameVersion(target) ? SyncVerdict::Same : SyncVerdict::Older);
                out.kept.append(*old);
                continue;
            }
            if (!old && held >= maxItems) {
                out.verdicts.append(SyncVerdict::Full);
                out.kept.append(sent);
                continue;
            }
            SyncItem stored = target;
            stored.seq = ++seq;
            if (!write(userId, stored, old.has_value()))
                return false;
            if (!old)
                ++held;
            bytes += bytesOf(stored.payload) - (old ? bytesOf(old->payload) : -bytesOf(stored.key));
            if (isSuccessor(stored) && !stored.deleted && !moveBook(userId, stored.key, stored.payload, seq, held, bytes))
                return false;
            out.verdicts.append(SyncVerdict::Stored);
            out.kept.append(stored);
        }
        out.last = seq;
        if (seq == firstSeq)
            return true;
        // Growing past the quota, the whole push is taken back; shrinking is always allowed.
        if (bytes > maxBytes && bytes > bytesBefore) {
            out.overQuota = true;
            return false;
        }
        QSqlQuery &save =
            m_store.prepared(QStringLiteral("UPDATE sync_users SET seq = ?, items = ?, bytes = ? WHERE userid = ?"));
        save.addBindValue(seq);
        save.addBindValue(held);
        save.addBindValue(bytes);
        save.addBindValue(userId);
        return m_store.exec(save);
    });
    out.ok = done && !out.overQuota;
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

QList<ShelfEntry> StoreSync::shelf(qint64 userId, bool *ok)
{
    constexpr int kMaxPages = 40; // 20,000 items: far beyond a shelf, still a bounded answer
    // The newest version of every shelf entry and place.
    QHash<QString, SyncItem> entries;
    QHash<QString, SyncItem> places;
    qint64 after = 0;
    *ok = true;
    for (int round = 0; round < kMaxPages; ++round) {
        const SyncPage page = pull(userId, after, 500);
        if (!page.ok) {
            *ok = false;
            return {};
        }
        for (const SyncItem &item : page.items) {
            if (item.kind == u"shelf")
                entries.insert(item.key, item);
            else if (item.kind == u"position")
                places.insert(item.key, item);
            after = item.seq;
        }
        if (!page.more || page.items.isEmpty())
            break;
    }
    QList<ShelfEntry> out;
    for (const SyncItem &item : std::as_const(entries)) {
        if (!item.deleted)
            out.append({item, places.value(item.key)});
    }
    const auto lastTouched = [](const ShelfEntry &e) { return std::max(e.entry.changed, e.place.changed); };
    std::sort(out.begin(), out.end(), [&](const ShelfEntry &a, const ShelfEntry &b) { return lastTouched(a) > lastTouched(b); });
    return out;
}
