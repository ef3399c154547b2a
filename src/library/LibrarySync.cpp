#include "library/LibrarySync.h"

#include "library/LibrarySql.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const auto kOn = QStringLiteral("SyncOn");
const auto kCursor = QStringLiteral("SyncCursor");
const auto kAccount = QStringLiteral("SyncAccount");
const auto kShelf = QStringLiteral("shelf");
const auto kBookmark = QStringLiteral("bookmark");
const auto kPosition = QStringLiteral("position");
// The book's own bookmark; a list of further bookmarks would number its entries from 1.
const auto kBookmarkId = QStringLiteral("/0");

// Milliseconds since 1970 UTC, as the server and every computer count them.
const char kNowMs[] = "CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER)";

qint64 localTimeMs(const QString &text)
{
    for (const char *format : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss"}) {
        const QDateTime t = QDateTime::fromString(text, QString::fromLatin1(format));
        if (t.isValid())
            return t.toMSecsSinceEpoch();
    }
    return 1;
}

QString json(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QJsonObject object(const QString &payload)
{
    return QJsonDocument::fromJson(payload.toUtf8()).object();
}

} // namespace

QStringList LibrarySyncSchema()
{
    const QString on = QStringLiteral("EXISTS (SELECT 1 FROM Options WHERE name = 'SyncOn' AND value = '1')");
    const QString log = QStringLiteral("INSERT OR REPLACE INTO SyncChange (kind, path, changed) VALUES ('%1', %2, ")
                        + QString::fromLatin1(kNowMs) + QStringLiteral(");");
    auto trigger = [&](const QString &name, const QString &event, const QString &when, const QString &body) {
        return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER %2 FOR EACH ROW WHEN %3%4 BEGIN %5 END")
            .arg(name, event, on, when.isEmpty() ? QString() : QStringLiteral(" AND ") + when, body);
    };
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS SyncFingerprint (path TEXT PRIMARY KEY COLLATE NOCASE,"
                       " size INTEGER NOT NULL, modified INTEGER NOT NULL, fingerprint TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS SyncFingerprint_fingerprint ON SyncFingerprint(fingerprint)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS SyncChange (kind TEXT NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
                       " changed INTEGER NOT NULL, PRIMARY KEY (kind, path))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS SyncRemote (kind TEXT NOT NULL, key TEXT NOT NULL,"
                       " changed INTEGER NOT NULL, deleted INTEGER NOT NULL, payload TEXT NOT NULL DEFAULT '',"
                       " PRIMARY KEY (kind, key))"),
        trigger(QStringLiteral("SyncLogShelfAdded"), QStringLiteral("INSERT ON BookList"), {},
                log.arg(kShelf, QStringLiteral("NEW.path"))),
        trigger(QStringLiteral("SyncLogShelfRemoved"), QStringLiteral("DELETE ON BookList"), {},
                log.arg(kShelf, QStringLiteral("OLD.path"))),
        trigger(QStringLiteral("SyncLogShelfEdited"), QStringLiteral("UPDATE OF type, name, author, path ON BookList"),
                QStringLiteral("(OLD.type IS NOT NEW.type OR OLD.name IS NOT NEW.name OR OLD.author IS NOT NEW.author"
                               " OR OLD.path IS NOT NEW.path)"),
                log.arg(kShelf, QStringLiteral("NEW.path"))),
        trigger(QStringLiteral("SyncLogBookmark"), QStringLiteral("UPDATE OF marke ON BookList"),
                QStringLiteral("OLD.marke IS NOT NEW.marke"), log.arg(kBookmark, QStringLiteral("NEW.path"))),
        trigger(QStringLiteral("SyncLogPosition"), QStringLiteral("INSERT ON ReadingPosition"), {},
                log.arg(kPosition, QStringLiteral("NEW.path"))),
    };
}

bool LibrarySync::isEnabled() const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(kOn);
    return q.exec() && q.next() && q.value(0).toString() == QLatin1String("1");
}

bool LibrarySync::enable()
{
    if (isEnabled())
        return true;
    QSqlDatabase d = m_connection.db();
    if (!d.transaction())
        return false;
    QSqlQuery q(d);
    QList<QVariantList> rows;
    if (q.exec(QStringLiteral("SELECT path, lastread, marke FROM BookList"))) {
        while (q.next()) {
            const qint64 when = localTimeMs(q.value(1).toString());
            rows.append({kShelf, q.value(0), when});
            if (q.value(2).toString().compare(QLatin1String("Null"), Qt::CaseInsensitive) != 0)
                rows.append({kBookmark, q.value(0), when});
        }
    }
    if (q.exec(QStringLiteral("SELECT path, saved FROM ReadingPosition"))) {
        while (q.next())
            rows.append({kPosition, q.value(0), localTimeMs(q.value(1).toString())});
    }
    q.finish();
    bool ok = true;
    for (const QVariantList &row : rows)
        ok = ok && m_connection.run(QStringLiteral("INSERT OR IGNORE INTO SyncChange (kind, path, changed) VALUES (?, ?, ?)"), row);
    ok = ok && m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, '1')"), {kOn});
    if (!ok || !d.commit()) {
        d.rollback();
        return false;
    }
    return true;
}

QList<FingerprintEntry> LibrarySync::fingerprintEntries() const
{
    QList<FingerprintEntry> entries;
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral("SELECT p.path, f.size, f.modified, f.fingerprint FROM"
                               " (SELECT path FROM BookList UNION SELECT path FROM SyncChange) p"
                               " LEFT JOIN SyncFingerprint f ON f.path = p.path")))
        return entries;
    while (q.next()) {
        entries.append({q.value(0).toString(), q.value(1).isNull() ? -1 : q.value(1).toLongLong(),
                        q.value(2).isNull() ? -1 : q.value(2).toLongLong(), q.value(3).toString()});
    }
    return entries;
}

bool LibrarySync::storeFingerprints(const QList<FingerprintEntry> &entries)
{
    QSqlDatabase d = m_connection.db();
    if (!d.transaction())
        return false;
    for (const FingerprintEntry &e : entries) {
        if (!m_connection.run(QStringLiteral("INSERT OR REPLACE INTO SyncFingerprint (path, size, modified, fingerprint)"
                                             " VALUES (?, ?, ?, ?)"),
                              {e.path, e.size, e.modified, e.fingerprint})) {
            d.rollback();
            return false;
        }
    }
    return d.commit();
}

QString LibrarySync::fingerprintOf(const QString &path) const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT fingerprint FROM SyncFingerprint WHERE path = ?"));
    q.addBindValue(path);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

QList<PendingSyncItem> LibrarySync::pendingItems(int limit)
{
    QList<PendingSyncItem> items;
    QList<QVariantList> unnamed;
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral(
        "SELECT c.kind, c.path, c.changed, f.fingerprint, b.id, b.type, b.name, b.author, b.marke,"
        " r.path, r.chapter, r.chapterTitle, r.fraction, r.linesRead, r.lineCount"
        " FROM SyncChange c LEFT JOIN SyncFingerprint f ON f.path = c.path"
        " LEFT JOIN BookList b ON b.id = (SELECT id FROM BookList WHERE path = c.path ORDER BY id LIMIT 1)"
        " LEFT JOIN ReadingPosition r ON r.path = c.path ORDER BY c.changed LIMIT ?"));
    q.addBindValue(limit);
    if (!q.exec())
        return items;
    while (q.next()) {
        PendingSyncItem p;
        p.path = q.value(1).toString();
        p.item.kind = q.value(0).toString();
        p.item.changed = q.value(2).toLongLong();
        const QString fingerprint = q.value(3).toString();
        if (fingerprint.isEmpty()) {
            // A file added since the last fingerprints were taken waits for the next round.
            if (!QFileInfo(p.path).isFile())
                unnamed.append({p.item.kind, p.path});
            continue;
        }
        p.item.key = fingerprint;
        const bool onShelf = !q.value(4).isNull();
        if (p.item.kind == kShelf) {
            p.item.deleted = !onShelf;
            if (onShelf)
                p.item.payload = json({{QStringLiteral("type"), q.value(5).toString()},
                                       {QStringLiteral("name"), q.value(6).toString()},
                                       {QStringLiteral("author"), q.value(7).toString()}});
        } else if (p.item.kind == kBookmark) {
            p.item.key += kBookmarkId;
            const QString title = onShelf ? q.value(8).toString() : QString();
            p.item.deleted = title.isEmpty() || title.compare(QLatin1String("Null"), Qt::CaseInsensitive) == 0;
            if (!p.item.deleted)
                p.item.payload = json({{QStringLiteral("title"), title}});
        } else {
            p.item.deleted = q.value(9).isNull();
            if (!p.item.deleted) {
                ReadingPosition position;
                position.chapter = q.value(10).toInt();
                position.chapterTitle = q.value(11).toString();
                position.fraction = q.value(12).toDouble();
                position.linesRead = q.value(13).toLongLong();
                position.lineCount = q.value(14).toLongLong();
                p.item.payload = positionPayload(position);
            }
        }
        p.item.payload.truncate(SyncLimits::PayloadChars);
        items.append(p);
    }
    q.finish();
    for (const QVariantList &row : unnamed)
        m_connection.run(QStringLiteral("DELETE FROM SyncChange WHERE kind = ? AND path = ?"), row);
    return items;
}

bool LibrarySync::settle(const PendingSyncItem &sent)
{
    return m_connection.run(QStringLiteral("DELETE FROM SyncChange WHERE kind = ? AND path = ? AND changed <= ?"),
                            {sent.item.kind, sent.path, sent.item.changed});
}

QString LibrarySync::positionPayload(const ReadingPosition &p)
{
    return json({{QStringLiteral("chapter"), p.chapter},
                 {QStringLiteral("title"), p.chapterTitle},
                 {QStringLiteral("fraction"), p.fraction},
                 {QStringLiteral("linesRead"), p.linesRead},
                 {QStringLiteral("lineCount"), p.lineCount}});
}

bool LibrarySync::apply(const QList<SyncItem> &items)
{
    QSqlDatabase d = m_connection.db();
    if (!d.transaction())
        return false;
    // What the server gives is no change of this computer's: the log is paused meanwhile.
    bool ok = m_connection.run(QStringLiteral("UPDATE Options SET value = '0' WHERE name = ?"), {kOn});
    for (const SyncItem &item : items)
        ok = ok && applyOne(item);
    ok = ok && m_connection.run(QStringLiteral("UPDATE Options SET value = '1' WHERE name = ?"), {kOn});
    if (!ok || !d.commit()) {
        d.rollback();
        return false;
    }
    return true;
}

bool LibrarySync::applyOne(const SyncItem &item)
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT changed FROM SyncRemote WHERE kind = ? AND key = ?"));
    BindAll(q, {item.kind, item.key});
    if (q.exec() && q.next() && q.value(0).toLongLong() > item.changed)
        return true;
    q.finish();
    if (!m_connection.run(QStringLiteral("INSERT OR REPLACE INTO SyncRemote (kind, key, changed, deleted, payload)"
                                         " VALUES (?, ?, ?, ?, ?)"),
                          {item.kind, item.key, item.changed, item.deleted ? 1 : 0, item.payload}))
        return false;
    if (item.kind == kPosition)
        return true; // offered, never taken over by itself
    QString fingerprint = item.key;
    if (item.kind == kBookmark) {
        if (!fingerprint.endsWith(kBookmarkId))
            return true;
        fingerprint.chop(kBookmarkId.size());
    } else if (item.kind != kShelf) {
        return true;
    }
    // The files holding that book, unless a later change of theirs is waiting to be sent.
    q.prepare(QStringLiteral("SELECT f.path FROM SyncFingerprint f WHERE f.fingerprint = ? AND NOT EXISTS"
                             " (SELECT 1 FROM SyncChange c WHERE c.kind = ? AND c.path = f.path AND c.changed >= ?)"));
    BindAll(q, {fingerprint, item.kind, item.changed});
    if (!q.exec())
        return false;
    QStringList paths;
    while (q.next())
        paths.append(q.value(0).toString());
    q.finish();
    const QJsonObject o = object(item.payload);
    for (const QString &path : paths) {
        bool ok = m_connection.run(QStringLiteral("DELETE FROM SyncChange WHERE kind = ? AND path = ?"), {item.kind, path});
        if (item.kind == kBookmark) {
            const QString title = item.deleted ? QStringLiteral("Null") : o.value(QStringLiteral("title")).toString();
            ok = ok && m_connection.run(QStringLiteral("UPDATE BookList SET marke = ? WHERE path = ?"), {title, path});
        } else if (item.deleted) {
            ok = ok && m_connection.run(QStringLiteral("DELETE FROM BookList WHERE path = ?"), {path});
        } else {
            const QString type = o.value(QStringLiteral("type")).toString();
            const QString name = o.value(QStringLiteral("name")).toString();
            const QString author = o.value(QStringLiteral("author")).toString();
            if (!type.isEmpty() && !name.isEmpty())
                ok = ok && m_connection.run(QStringLiteral("UPDATE BookList SET type = ?, name = ?, author = ? WHERE path = ?"),
                                            {type, name, author, path});
        }
        if (!ok)
            return false;
    }
    return true;
}

qint64 LibrarySync::cursor() const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(kCursor);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

bool LibrarySync::setCursor(qint64 seq)
{
    return m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, ?)"),
                            {kCursor, QString::number(seq)});
}

void LibrarySync::resetFor(const QString &account)
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(kAccount);
    const QString before = q.exec() && q.next() ? q.value(0).toString() : QString();
    q.finish();
    if (before == account)
        return;
    setCursor(0);
    m_connection.run(QStringLiteral("DELETE FROM SyncRemote"), {});
    m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, ?)"), {kAccount, account});
}

std::optional<ReadingPosition> LibrarySync::remotePositionAhead(const QString &path) const
{
    const QString fingerprint = fingerprintOf(path);
    if (fingerprint.isEmpty())
        return std::nullopt;
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT r.changed, r.payload, p.chapter, p.fraction, p.saved FROM SyncRemote r"
                             " LEFT JOIN ReadingPosition p ON p.path = ? WHERE r.kind = ? AND r.key = ? AND r.deleted = 0"));
    BindAll(q, {path, kPosition, fingerprint});
    if (!q.exec() || !q.next())
        return std::nullopt;
    const QJsonObject o = object(q.value(1).toString());
    ReadingPosition remote;
    remote.path = path;
    remote.chapter = o.value(QStringLiteral("chapter")).toInt();
    remote.chapterTitle = o.value(QStringLiteral("title")).toString();
    remote.fraction = o.value(QStringLiteral("fraction")).toDouble();
    remote.linesRead = o.value(QStringLiteral("linesRead")).toInteger();
    remote.lineCount = o.value(QStringLiteral("lineCount")).toInteger();
    remote.saved = QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong());
    if (remote.chapter < 1)
        return std::nullopt;
    if (!q.value(2).isNull()) {
        const bool samePlace = q.value(2).toInt() == remote.chapter && qAbs(q.value(3).toDouble() - remote.fraction) < 0.001;
        if (samePlace || q.value(0).toLongLong() <= localTimeMs(q.value(4).toString()))
            return std::nullopt;
    }
    return remote;
}

QList<RemoteBook> LibrarySync::remoteOnlyBooks() const
{
    QList<RemoteBook> books;
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral("SELECT r.key, r.payload FROM SyncRemote r WHERE r.kind = 'shelf' AND r.deleted = 0"
                               " AND NOT EXISTS (SELECT 1 FROM SyncFingerprint f JOIN BookList b ON b.path = f.path"
                               " WHERE f.fingerprint = r.key) ORDER BY r.changed DESC")))
        return books;
    while (q.next()) {
        const QJsonObject o = object(q.value(1).toString());
        books.append({q.value(0).toString(), o.value(QStringLiteral("type")).toString(),
                      o.value(QStringLiteral("name")).toString(), o.value(QStringLiteral("author")).toString(), o.value(QStringLiteral("catalogue")).toString()});
    }
    return books;
}
