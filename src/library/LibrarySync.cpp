#include "library/LibrarySync.h"

#include "library/LibraryBookmarks.h"
#include "library/LibrarySql.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

const auto kOn = QStringLiteral("SyncOn");
const auto kCursor = QStringLiteral("SyncCursor");
const auto kAccount = QStringLiteral("SyncAccount");
// Set once the bookmark lists were queued, which a log started before they travelled did not.
const auto kListQueued = QStringLiteral("SyncListQueued");
const auto kShelf = QStringLiteral("shelf");
const auto kBookmark = QStringLiteral("bookmark");
const auto kPosition = QStringLiteral("position");
// A bookmark's key is the book's fingerprint, this separator and the bookmark's id: "0" for the
// book's own bookmark, the entry's id for an entry of its bookmark list.
const QChar kIdSeparator = QLatin1Char('/');
const auto kOwnBookmark = QStringLiteral("0");

// Milliseconds since 1970 UTC, as the server and every computer count them.
const char kNowMs[] = "CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER)";

// Digits at [from, from + count) of text as a number, or -1.
int digitsAt(const QString &text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

qint64 localTimeMs(const QString &text)
{
    // The library writes "yyyy-MM-dd HH:mm:ss[.zzz]"; read directly, as a format string is slow
    // for a shelf of thousands queued while the window waits.
    if ((text.size() == 19 || (text.size() == 23 && text.at(19) == u'.')) && text.at(4) == u'-' &&
        text.at(7) == u'-' && text.at(10) == u' ' && text.at(13) == u':' && text.at(16) == u':') {
        const QDate date(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
        const QTime time(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2),
                         text.size() == 23 ? digitsAt(text, 20, 3) : 0);
        if (date.isValid() && time.isValid())
            return QDateTime(date, time).toMSecsSinceEpoch();
    }
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

// Runs work in one transaction, kept only when all of it succeeded.
bool inTransaction(QSqlDatabase d, const std::function<bool()> &work)
{
    if (!d.transaction())
        return false;
    if (!work() || !d.commit()) {
        d.rollback();
        return false;
    }
    return true;
}

// The columns pendingItems() reads, in its query's order.
enum PendingColumn
{
    Kind,
    Path,
    Changed,
    Entry,
    Fingerprint,
    ShelfId,
    ShelfType,
    ShelfName,
    ShelfAuthor,
    ShelfMark,
    ShelfCatalogue,
    PositionPath,
    PositionChapter,
    PositionTitle,
    PositionFraction,
    PositionLinesRead,
    PositionLineCount,
    MarkChapter,
    MarkTitle,
    MarkFraction,
    MarkExcerpt,
    MarkNote,
    MarkMade,
    MarkRemoved,
};

// A list entry as it travels. A note too long for an item is cut, so the payload stays whole.
QString listEntryPayload(const QSqlQuery &q)
{
    QString note = q.value(MarkNote).toString();
    for (;;) {
        const QString payload = json({{QStringLiteral("chapter"), q.value(MarkChapter).toInt()},
                                      {QStringLiteral("chapterTitle"), q.value(MarkTitle).toString()},
                                      {QStringLiteral("fraction"), q.value(MarkFraction).toDouble()},
                                      {QStringLiteral("excerpt"), q.value(MarkExcerpt).toString()},
                                      {QStringLiteral("note"), note},
                                      {QStringLiteral("made"), localTimeMs(q.value(MarkMade).toString())}});
        if (payload.size() <= SyncLimits::PayloadChars || note.isEmpty())
            return payload;
        note.chop(std::min(note.size(), payload.size() - SyncLimits::PayloadChars));
    }
}

// The item of one waiting change, from a row of pendingItems()'s query.
void fillItem(SyncItem &item, const QString &entry, const QSqlQuery &q)
{
    const bool onShelf = !q.value(ShelfId).isNull();
    if (item.kind == kShelf) {
        item.deleted = !onShelf;
        if (onShelf) {
            QJsonObject o{{QStringLiteral("type"), q.value(ShelfType).toString()},
                          {QStringLiteral("name"), q.value(ShelfName).toString()},
                          {QStringLiteral("author"), q.value(ShelfAuthor).toString()}};
            const QString catalogue = q.value(ShelfCatalogue).toString();
            if (!catalogue.isEmpty())
                o.insert(QStringLiteral("catalogue"), catalogue);
            item.payload = json(o);
        }
    } else if (item.kind == kBookmark && !entry.isEmpty()) {
        item.key += kIdSeparator + entry;
        item.deleted = q.value(MarkRemoved).isNull() || q.value(MarkRemoved).toInt() != 0;
        if (!item.deleted)
            item.payload = listEntryPayload(q);
    } else if (item.kind == kBookmark) {
        item.key += kIdSeparator + kOwnBookmark;
        const QString title = onShelf ? q.value(ShelfMark).toString() : QString();
        item.deleted = title.isEmpty() || title.compare(QLatin1String("Null"), Qt::CaseInsensitive) == 0;
        if (!item.deleted)
            item.payload = json({{QStringLiteral("title"), title}});
    } else {
        item.deleted = q.value(PositionPath).isNull();
        if (!item.deleted) {
            ReadingPosition position;
            position.chapter = q.value(PositionChapter).toInt();
            position.chapterTitle = q.value(PositionTitle).toString();
            position.fraction = q.value(PositionFraction).toDouble();
            position.linesRead = q.value(PositionLinesRead).toLongLong();
            position.lineCount = q.value(PositionLineCount).toLongLong();
            item.payload = LibrarySync::positionPayload(position);
        }
    }
    item.payload.truncate(SyncLimits::PayloadChars);
}

} // namespace

QStringList LibrarySyncSchema()
{
    const QString on = QStringLiteral("EXISTS (SELECT 1 FROM Options WHERE name = 'SyncOn' AND value = '1')");
    const QString log = QStringLiteral("INSERT OR REPLACE INTO SyncChange (kind, path, changed) VALUES ('%1', %2, ")
                        + QString::fromLatin1(kNowMs) + QStringLiteral(");");
    const QString markLog =
        QStringLiteral("INSERT OR REPLACE INTO SyncMarkChange (book, id, changed) VALUES (NEW.book, NEW.id, NEW.changed);");
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
        // An entry of a bookmark list carries its own moment of change, which travels with it.
        QStringLiteral("CREATE TABLE IF NOT EXISTS SyncMarkChange (book TEXT NOT NULL COLLATE NOCASE, id TEXT NOT NULL,"
                       " changed INTEGER NOT NULL, PRIMARY KEY (book, id))"),
        trigger(QStringLiteral("SyncLogMarkAdded"), QStringLiteral("INSERT ON Bookmarks"), {}, markLog),
        trigger(QStringLiteral("SyncLogMarkEdited"), QStringLiteral("UPDATE ON Bookmarks"), {}, markLog),
    };
}

QString LibrarySync::option(const QString &name) const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

bool LibrarySync::isEnabled() const
{
    return option(kOn) == QLatin1String("1");
}

bool LibrarySync::enable()
{
    const bool wasOn = isEnabled();
    if (wasOn && option(kListQueued) == QLatin1String("1"))
        return true;
    QList<QVariantList> rows;
    QSqlQuery q(m_connection.db());
    if (!wasOn && q.exec(QStringLiteral("SELECT path, lastread, marke FROM BookList"))) {
        while (q.next()) {
            const qint64 when = localTimeMs(q.value(1).toString());
            rows.append({kShelf, q.value(0), when});
            if (q.value(2).toString().compare(QLatin1String("Null"), Qt::CaseInsensitive) != 0)
                rows.append({kBookmark, q.value(0), when});
        }
    }
    if (!wasOn && q.exec(QStringLiteral("SELECT path, saved FROM ReadingPosition"))) {
        while (q.next())
            rows.append({kPosition, q.value(0), localTimeMs(q.value(1).toString())});
    }
    q.finish();
    return inTransaction(m_connection.db(), [&] {
        // One statement for every row: a shelf of thousands is queued while the window waits.
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO SyncChange (kind, path, changed) VALUES (?, ?, ?)"));
        for (const QVariantList &row : std::as_const(rows)) {
            BindAll(q, row);
            if (!q.exec()) {
                m_connection.lastError = q.lastError().text();
                return false;
            }
        }
        return m_connection.run(QStringLiteral("INSERT OR IGNORE INTO SyncMarkChange (book, id, changed)"
                                               " SELECT book, id, changed FROM Bookmarks"),
                                {}) &&
               m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, '1'), (?, '1')"),
                                {kOn, kListQueued});
    });
}

QList<FingerprintEntry> LibrarySync::fingerprintEntries() const
{
    QList<FingerprintEntry> entries;
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral("SELECT p.path, f.size, f.modified, f.fingerprint FROM"
                               " (SELECT path FROM BookList UNION SELECT path FROM SyncChange UNION SELECT book FROM SyncMarkChange) p"
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
    return inTransaction(m_connection.db(), [&] {
        for (const FingerprintEntry &e : entries) {
            if (!m_connection.run(QStringLiteral("INSERT OR REPLACE INTO SyncFingerprint (path, size, modified, fingerprint)"
                                                 " VALUES (?, ?, ?, ?)"),
                                  {e.path, e.size, e.modified, e.fingerprint}))
                return false;
        }
        return true;
    });
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
    QList<PendingSyncItem> unnamed;
    QSqlQuery q(m_connection.db());
    // The catalogue's table comes with the first download from there.
    const bool catalogue = q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'CatalogueOrigin'")) && q.next();
    q.finish();
    q.prepare(QStringLiteral(
        "SELECT c.kind, c.path, c.changed, c.entry, f.fingerprint, b.id, b.type, b.name, b.author, b.marke, %1,"
        " r.path, r.chapter, r.chapterTitle, r.fraction, r.linesRead, r.lineCount,"
        " m.chapter, m.chapterTitle, m.fraction, m.excerpt, m.note, m.made, m.removed"
        " FROM (SELECT kind, path, changed, '' AS entry FROM SyncChange"
        "  UNION ALL SELECT 'bookmark', book, changed, id FROM SyncMarkChange ORDER BY changed LIMIT ?) c"
        " LEFT JOIN SyncFingerprint f ON f.path = c.path"
        " LEFT JOIN BookList b ON b.id = (SELECT id FROM BookList WHERE path = c.path ORDER BY id LIMIT 1)"
        " LEFT JOIN ReadingPosition r ON r.path = c.path"
        " LEFT JOIN Bookmarks m ON m.book = c.path AND m.id = c.entry ORDER BY c.changed")
                  .arg(catalogue ? QStringLiteral("(SELECT catalogueId FROM CatalogueOrigin WHERE bookId = b.id)")
                                 : QStringLiteral("NULL")));
    q.addBindValue(limit);
    if (!q.exec())
        return items;
    while (q.next()) {
        PendingSyncItem p;
        p.path = q.value(Path).toString();
        p.entry = q.value(Entry).toString();
        p.item.kind = q.value(Kind).toString();
        p.item.changed = q.value(Changed).toLongLong();
        p.item.key = q.value(Fingerprint).toString();
        if (p.item.key.isEmpty()) {
            // A file added since the last fingerprints were taken waits for the next round.
            if (!QFileInfo(p.path).isFile())
                unnamed.append(p);
            continue;
        }
        fillItem(p.item, p.entry, q);
        items.append(p);
    }
    q.finish();
    for (const PendingSyncItem &p : std::as_const(unnamed))
        forget(p, std::numeric_limits<qint64>::max());
    return items;
}

bool LibrarySync::forget(const PendingSyncItem &change, qint64 upTo)
{
    if (!change.entry.isEmpty())
        return m_connection.run(QStringLiteral("DELETE FROM SyncMarkChange WHERE book = ? AND id = ? AND changed <= ?"),
                                {change.path, change.entry, upTo});
    return m_connection.run(QStringLiteral("DELETE FROM SyncChange WHERE kind = ? AND path = ? AND changed <= ?"),
                            {change.item.kind, change.path, upTo});
}

bool LibrarySync::settle(const QList<PendingSyncItem> &sent)
{
    return inTransaction(m_connection.db(), [&] {
        return std::all_of(sent.cbegin(), sent.cend(), [this](const PendingSyncItem &p) { return forget(p, p.item.changed); });
    });
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
    return inTransaction(m_connection.db(), [&] {
        // What the server gives is no change of this computer's: the log is paused meanwhile.
        bool ok = m_connection.run(QStringLiteral("UPDATE Options SET value = '0' WHERE name = ?"), {kOn});
        for (const SyncItem &item : items)
            ok = ok && applyOne(item);
        return ok && m_connection.run(QStringLiteral("UPDATE Options SET value = '1' WHERE name = ?"), {kOn});
    });
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
        const qsizetype separator = fingerprint.indexOf(kIdSeparator);
        if (separator < 0)
            return true;
        const QString id = fingerprint.mid(separator + 1);
        fingerprint.truncate(separator);
        if (id != kOwnBookmark)
            return id.isEmpty() || applyListEntry(item, fingerprint, id);
    } else if (item.kind != kShelf) {
        return true;
    }
    q.finish();
    const std::optional<QStringList> paths = filesTaking(item, fingerprint, {});
    if (!paths)
        return false;
    const QJsonObject o = object(item.payload);
    for (const QString &path : *paths) {
        bool ok = forget({item, path, {}}, std::numeric_limits<qint64>::max());
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

bool LibrarySync::applyListEntry(const SyncItem &item, const QString &fingerprint, const QString &entry)
{
    const std::optional<QStringList> paths = filesTaking(item, fingerprint, entry);
    if (!paths)
        return false;
    const QJsonObject o = object(item.payload);
    BookmarkEntry e;
    e.id = entry;
    e.chapter = o.value(QStringLiteral("chapter")).toInt();
    e.chapterTitle = o.value(QStringLiteral("chapterTitle")).toString();
    e.fraction = o.value(QStringLiteral("fraction")).toDouble();
    e.excerpt = o.value(QStringLiteral("excerpt")).toString();
    e.note = o.value(QStringLiteral("note")).toString();
    e.made = QDateTime::fromMSecsSinceEpoch(o.value(QStringLiteral("made")).toInteger(item.changed));
    e.changed = item.changed;
    e.removed = item.deleted;
    LibraryBookmarks list(m_connection);
    for (const QString &path : *paths) {
        e.book = path;
        if (!forget({item, path, entry}, std::numeric_limits<qint64>::max()) || !list.store(e))
            return false;
    }
    return true;
}

std::optional<QStringList> LibrarySync::filesTaking(const SyncItem &item, const QString &fingerprint,
                                                    const QString &entry) const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT f.path FROM SyncFingerprint f WHERE f.fingerprint = ? AND NOT EXISTS (%1)")
                  .arg(entry.isEmpty()
                           ? QStringLiteral("SELECT 1 FROM SyncChange c WHERE c.kind = ? AND c.path = f.path AND c.changed >= ?")
                           : QStringLiteral("SELECT 1 FROM SyncMarkChange c WHERE c.id = ? AND c.book = f.path AND c.changed >= ?")));
    BindAll(q, {fingerprint, entry.isEmpty() ? item.kind : entry, item.changed});
    if (!q.exec())
        return std::nullopt;
    QStringList paths;
    while (q.next())
        paths.append(q.value(0).toString());
    return paths;
}

qint64 LibrarySync::cursor() const
{
    return option(kCursor).toLongLong();
}

bool LibrarySync::setCursor(qint64 seq)
{
    return m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, ?)"),
                            {kCursor, QString::number(seq)});
}

void LibrarySync::resetFor(const QString &account)
{
    if (option(kAccount) == account)
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
    remote.device = o.value(QStringLiteral("device")).toString().left(40);
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
