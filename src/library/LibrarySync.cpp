#include "library/LibrarySync.h"

#include "library/LibraryBookmarks.h"
#include "library/LibrarySql.h"
#include "library/SyncKinds.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

namespace {

const auto kAccount = QStringLiteral("Account");
// A bookmark's key is the book's fingerprint, this separator and the bookmark's id: "0" for the
// book's own bookmark, the entry's id for an entry of its bookmark list.
const QChar kIdSeparator = QLatin1Char('/');
const auto kOwnBookmark = QStringLiteral("0");
constexpr qint64 kAlways = std::numeric_limits<qint64>::max();
// The items of one book, by its fingerprint bound three times.
const char kOfBook[] = "(key = ? OR substr(key, 1, length(?) + 1) = ? || '/')";

QString json(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QJsonObject object(const QString &payload)
{
    return QJsonDocument::fromJson(payload.toUtf8()).object();
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
    Reading,
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
                                      {QStringLiteral("made"), SyncLocalTimeMs(q.value(MarkMade).toString())}});
        if (payload.size() <= SyncLimits::PayloadChars || note.isEmpty())
            return payload;
        note.chop(std::min(note.size(), payload.size() - SyncLimits::PayloadChars));
    }
}

// The item of one waiting change, from a row of pendingItems()'s query.
void fillItem(SyncItem &item, const QString &entry, const QSqlQuery &q)
{
    const bool onShelf = !q.value(ShelfId).isNull();
    if (item.kind == SyncKind::Shelf) {
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
    } else if (item.kind == SyncKind::Bookmark && !entry.isEmpty()) {
        item.key += kIdSeparator + entry;
        item.deleted = q.value(MarkRemoved).isNull() || q.value(MarkRemoved).toInt() != 0;
        if (!item.deleted)
            item.payload = listEntryPayload(q);
    } else if (item.kind == SyncKind::Reading) {
        item.deleted = (item.payload = q.value(Reading).toString()).isEmpty();
    } else if (item.kind == SyncKind::Bookmark) {
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

bool LibrarySync::bookArrived(const QString &path)
{
    const QFileInfo info(path);
    if (!isEnabled() || !info.isFile())
        return true;
    // Only a file of a size the account knows is read whole.
    const QString size = QString::number(info.size());
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT 1 FROM sync.SyncRemote WHERE kind = 'shelf' AND key > ? AND key < ?"
                             " UNION ALL SELECT 1 FROM sync.SyncSuccessor WHERE old > ? AND old < ? LIMIT 1"));
    BindAll(q, {size + u':', size + u';', size + u':', size + u';'});
    if (!q.exec() || !q.next())
        return true;
    q.finish();
    const QString fingerprint = BookFingerprint(path);
    if (fingerprint.isEmpty())
        return true;
    if (!m_connection.run(QStringLiteral("SAVEPOINT arrival"), {}))
        return false;
    const bool ok = m_log.storeFingerprints({{path, info.size(), info.lastModified().toMSecsSinceEpoch(), fingerprint}}) &&
                    takeFor(path, m_log.keyOf(path));
    if (!ok)
        m_connection.run(QStringLiteral("ROLLBACK TO arrival"), {});
    return m_connection.run(QStringLiteral("RELEASE arrival"), {}) && ok;
}

bool LibrarySync::takeAccountValues()
{
    QList<QStringList> arrived;
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral("SELECT c.path, COALESCE(s.new, f.fingerprint) FROM sync.SyncChange c"
                               " JOIN sync.SyncFingerprint f ON f.path = c.path LEFT JOIN sync.SyncSuccessor s ON s.old = f.fingerprint"
                               " WHERE c.kind = 'shelf' AND c.first = 1")))
        return false;
    while (q.next())
        arrived.append({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    return arrived.isEmpty() || SyncTransaction(m_connection, [&] {
               return std::all_of(arrived.cbegin(), arrived.cend(), [this](const QStringList &a) { return takeFor(a[0], a[1]); });
           });
}

bool LibrarySync::takeFor(const QString &path, const QString &key)
{
    QList<SyncItem> items;
    bool onShelf = false;
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT kind, key, changed, deleted, payload FROM sync.SyncRemote"
                             " WHERE kind IN ('shelf', 'bookmark', 'position', 'reading') AND ") + QLatin1String(kOfBook));
    BindAll(q, {key, key, key});
    if (!q.exec())
        return false;
    while (q.next()) {
        items.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong(), q.value(3).toInt() != 0,
                      q.value(4).toString()});
        onShelf = onShelf || (items.last().kind == SyncKind::Shelf && !items.last().deleted);
    }
    q.finish();
    // Not on the account's shelf (never, or removed there): this row is the user's to send.
    if (!onShelf)
        return true;
    bool ok = m_log.forget(SyncKind::Shelf, path, {}, kAlways) && m_log.setPaused(true);
    for (const SyncItem &item : std::as_const(items))
        ok = ok && applyOne(item, path);
    return m_log.setPaused(false) && ok;
}

bool LibrarySync::bookReplaced(const QString &path)
{
    const QFileInfo info(path);
    const QString before = m_log.keyOf(path);
    if (!isEnabled() || before.isEmpty() || !info.isFile())
        return true;
    const QString after = BookFingerprint(path);
    if (after.isEmpty() || after == before)
        return true;
    return SyncTransaction(m_connection, [&] {
        return m_log.storeFingerprints({{path, info.size(), info.lastModified().toMSecsSinceEpoch(), after}}) &&
               m_log.recordSuccessor(before, after, QDateTime::currentMSecsSinceEpoch(), true);
    });
}

QList<PendingSyncItem> LibrarySync::pendingItems(int limit, bool readings)
{
    QList<PendingSyncItem> items;
    QList<PendingSyncItem> unnamed;
    QSqlQuery q(m_connection.db());
    // What an update made of a book goes first: the server moves its items to the new content.
    q.prepare(QStringLiteral("SELECT old, new, changed FROM sync.SyncSuccessor WHERE pending = 1 ORDER BY changed LIMIT ?"));
    q.addBindValue(limit);
    if (!q.exec())
        return items;
    while (q.next()) {
        PendingSyncItem p{{SyncKind::Successor, q.value(0).toString(), q.value(2).toLongLong(), false, q.value(1).toString()},
                          q.value(0).toString(), {}};
        items.append(p);
    }
    q.finish();
    // The catalogue's table comes with the first download from there.
    const bool catalogue = q.exec(QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = 'CatalogueOrigin'")) && q.next();
    q.finish();
    q.prepare(QStringLiteral(
        "SELECT c.kind, c.path, c.changed, c.entry, COALESCE(s.new, f.fingerprint), b.id, b.type, b.name, b.author, b.marke, %1,"
        " r.path, r.chapter, r.chapterTitle, r.fraction, r.linesRead, r.lineCount,"
        " m.chapter, m.chapterTitle, m.fraction, m.excerpt, m.note, m.made, m.removed, o.value"
        " FROM (SELECT kind, path, changed, '' AS entry FROM sync.SyncChange%2"
        "  UNION ALL SELECT 'bookmark', book, changed, id FROM sync.SyncMarkChange ORDER BY changed LIMIT ?) c"
        " LEFT JOIN sync.SyncFingerprint f ON f.path = c.path LEFT JOIN sync.SyncSuccessor s ON s.old = f.fingerprint"
        " LEFT JOIN main.BookList b ON b.id = (SELECT id FROM main.BookList WHERE path = c.path ORDER BY id LIMIT 1)"
        " LEFT JOIN main.ReadingPosition r ON r.path = c.path"
        " LEFT JOIN main.Bookmarks m ON m.book = c.path AND m.id = c.entry"
        " LEFT JOIN main.Options o ON o.name = 'BookReading:' || c.path ORDER BY c.changed")
                  .arg(catalogue ? QStringLiteral("(SELECT catalogueId FROM main.CatalogueOrigin WHERE bookId = b.id)")
                                 : QStringLiteral("NULL"),
                       readings ? QString() : QStringLiteral(" WHERE kind <> 'reading'")));
    q.addBindValue(limit - items.size());
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
        m_log.forget(p.item.kind, p.path, p.entry, kAlways);
    return items;
}

bool LibrarySync::settle(const QList<PendingSyncItem> &sent, const QList<SyncItem> &held)
{
    return SyncTransaction(m_connection, [&] {
        for (const SyncItem &item : held) {
            if (item.kind != SyncKind::Successor &&
                !m_connection.run(QStringLiteral("INSERT OR REPLACE INTO sync.SyncRemote (kind, key, changed, deleted, payload)"
                                                 " SELECT ?, ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM sync.SyncRemote"
                                                 " WHERE kind = ? AND key = ? AND changed > ?)"),
                                  {item.kind, item.key, item.changed, item.deleted ? 1 : 0, item.payload, item.kind, item.key,
                                   item.changed}))
                return false;
        }
        return std::all_of(sent.cbegin(), sent.cend(), [this](const PendingSyncItem &p) {
            if (p.item.kind == SyncKind::Successor)
                return m_connection.run(QStringLiteral("UPDATE sync.SyncSuccessor SET pending = 0 WHERE old = ? AND changed <= ?"),
                                        {p.path, p.item.changed});
            return m_log.forget(p.item.kind, p.path, p.entry, p.item.changed);
        });
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
    return SyncTransaction(m_connection, [&] {
        // What the server gives is no change of this computer's: the log is paused meanwhile.
        bool ok = m_log.setPaused(true);
        for (const SyncItem &item : items)
            ok = ok && applyOne(item);
        return m_log.setPaused(false) && ok;
    });
}

bool LibrarySync::applyOne(const SyncItem &item, const QString &onlyPath)
{
    if (item.kind == SyncKind::Successor) {
        const QString to = item.payload.trimmed();
        return item.deleted || to.isEmpty() || to == item.key || m_log.recordSuccessor(item.key, to, item.changed, false);
    }
    QSqlQuery q(m_connection.db());
    if (onlyPath.isEmpty()) {
        q.prepare(QStringLiteral("SELECT changed FROM sync.SyncRemote WHERE kind = ? AND key = ?"));
        BindAll(q, {item.kind, item.key});
        if (q.exec() && q.next() && q.value(0).toLongLong() > item.changed)
            return true;
        q.finish();
        if (!m_connection.run(QStringLiteral("INSERT OR REPLACE INTO sync.SyncRemote (kind, key, changed, deleted, payload)"
                                             " VALUES (?, ?, ?, ?, ?)"),
                              {item.kind, item.key, item.changed, item.deleted ? 1 : 0, item.payload}))
            return false;
    }
    if (item.kind == SyncKind::Position) // offered, never taken over by itself, but by a book that arrives without a place
        return onlyPath.isEmpty() || applyPosition(item, onlyPath);
    QString fingerprint = item.key;
    if (item.kind == SyncKind::Bookmark) {
        const qsizetype separator = fingerprint.indexOf(kIdSeparator);
        if (separator < 0)
            return true;
        const QString id = fingerprint.mid(separator + 1);
        fingerprint.truncate(separator);
        if (id != kOwnBookmark)
            return id.isEmpty() || applyListEntry(item, fingerprint, id, onlyPath);
    } else if (item.kind != SyncKind::Shelf && item.kind != SyncKind::Reading) {
        return true;
    }
    const std::optional<QStringList> paths = filesTaking(item, fingerprint, {}, onlyPath);
    if (!paths)
        return false;
    const QJsonObject o = object(item.payload);
    for (const QString &path : *paths) {
        bool ok = m_log.forget(item.kind, path, {}, kAlways);
        if (item.kind == SyncKind::Reading) { // the book opens that way the next time, under the option the reader keeps
            ok = ok && m_connection.run(QStringLiteral("INSERT OR REPLACE INTO main.Options (name, value) VALUES (?, ?)"),
                                        {QStringLiteral("BookReading:") + QFileInfo(path).absoluteFilePath(), item.payload});
        } else if (item.kind == SyncKind::Bookmark) {
            const QString title = item.deleted ? QStringLiteral("Null") : o.value(QStringLiteral("title")).toString();
            ok = ok && m_connection.run(QStringLiteral("UPDATE main.BookList SET marke = ? WHERE path = ?"), {title, path});
        } else if (item.deleted) {
            ok = ok && m_connection.run(QStringLiteral("DELETE FROM main.BookList WHERE path = ?"), {path});
        } else {
            const QString type = o.value(QStringLiteral("type")).toString();
            const QString name = o.value(QStringLiteral("name")).toString();
            const QString author = o.value(QStringLiteral("author")).toString();
            if (!type.isEmpty() && !name.isEmpty())
                ok = ok && m_connection.run(QStringLiteral("UPDATE main.BookList SET type = ?, name = ?, author = ? WHERE path = ?"),
                                            {type, name, author, path});
        }
        if (!ok)
            return false;
    }
    return true;
}

bool LibrarySync::applyPosition(const SyncItem &item, const QString &path)
{
    LibraryOptions options(m_connection);
    if (item.deleted || options.readingPosition(path))
        return true;
    const QJsonObject o = object(item.payload);
    ReadingPosition p{path,
                      o.value(QStringLiteral("chapter")).toInt(),
                      o.value(QStringLiteral("title")).toString(),
                      o.value(QStringLiteral("fraction")).toDouble(),
                      o.value(QStringLiteral("linesRead")).toInteger(),
                      o.value(QStringLiteral("lineCount")).toInteger(),
                      QDateTime::fromMSecsSinceEpoch(item.changed)};
    return p.chapter < 1 || options.saveReadingPosition(p);
}

bool LibrarySync::applyListEntry(const SyncItem &item, const QString &fingerprint, const QString &entry, const QString &onlyPath)
{
    const std::optional<QStringList> paths = filesTaking(item, fingerprint, entry, onlyPath);
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
        if (!m_log.forget(item.kind, path, entry, kAlways) || !list.store(e))
            return false;
    }
    return true;
}

std::optional<QStringList> LibrarySync::filesTaking(const SyncItem &item, const QString &fingerprint,
                                                    const QString &entry, const QString &onlyPath) const
{
    QSqlQuery q(m_connection.db());
    // The files of this content, and of the contents it came from by updates.
    q.prepare(QStringLiteral("SELECT f.path FROM sync.SyncFingerprint f WHERE f.fingerprint IN"
                             " (SELECT ? UNION ALL SELECT old FROM sync.SyncSuccessor WHERE new = ?)%1 AND NOT EXISTS (%2)")
                  .arg(onlyPath.isEmpty() ? QString() : QStringLiteral(" AND f.path = ?"),
                       entry.isEmpty()
                           ? QStringLiteral("SELECT 1 FROM sync.SyncChange c WHERE c.kind = ? AND c.path = f.path AND c.changed >= ?")
                           : QStringLiteral("SELECT 1 FROM sync.SyncMarkChange c WHERE c.id = ? AND c.book = f.path AND c.changed >= ?")));
    BindAll(q, {fingerprint, fingerprint});
    if (!onlyPath.isEmpty())
        q.addBindValue(onlyPath);
    BindAll(q, {entry.isEmpty() ? item.kind : entry, item.changed});
    if (!q.exec())
        return std::nullopt;
    QStringList paths;
    while (q.next())
        paths.append(q.value(0).toString());
    return paths;
}

void LibrarySync::resetFor(const QString &account)
{
    if (m_log.value(kAccount) == account)
        return;
    setCursor(0);
    m_connection.run(QStringLiteral("DELETE FROM sync.SyncRemote"), {});
    m_log.setValue(kAccount, account);
}

std::optional<ReadingPosition> LibrarySync::remotePositionAhead(const QString &path) const
{
    const QString key = m_log.keyOf(path);
    if (key.isEmpty())
        return std::nullopt;
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT r.changed, r.payload, p.chapter, p.fraction, p.saved FROM sync.SyncRemote r"
                             " LEFT JOIN main.ReadingPosition p ON p.path = ? WHERE r.kind = ? AND r.key = ? AND r.deleted = 0"));
    BindAll(q, {path, SyncKind::Position, key});
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
        if (samePlace || q.value(0).toLongLong() <= SyncLocalTimeMs(q.value(4).toString()))
            return std::nullopt;
    }
    return remote;
}

QList<RemoteBook> LibrarySync::remoteOnlyBooks() const
{
    QList<RemoteBook> books;
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral("SELECT r.key, r.payload, r.changed FROM sync.SyncRemote r WHERE r.kind = 'shelf' AND r.deleted = 0"
                               " AND NOT EXISTS (SELECT 1 FROM sync.SyncFingerprint f JOIN main.BookList b ON b.path = f.path"
                               "  WHERE f.fingerprint IN (SELECT r.key UNION ALL SELECT old FROM sync.SyncSuccessor WHERE new = r.key))"
                               " ORDER BY r.changed DESC")))
        return books;
    while (q.next()) {
        const QJsonObject o = object(q.value(1).toString());
        books.append({q.value(0).toString(), o.value(QStringLiteral("type")).toString(),
                      o.value(QStringLiteral("name")).toString(), o.value(QStringLiteral("author")).toString(),
                      o.value(QStringLiteral("catalogue")).toString(), q.value(2).toLongLong()});
    }
    return books;
}
