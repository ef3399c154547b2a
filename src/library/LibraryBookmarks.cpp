#include "library/LibraryBookmarks.h"

#include "library/LibrarySql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

const auto kColumns =
    QStringLiteral("book, id, chapter, chapterTitle, fraction, excerpt, note, made, changed, removed");
const auto kMadeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

BookmarkEntry entryFrom(const QSqlQuery &q)
{
    BookmarkEntry e;
    e.book = q.value(0).toString();
    e.id = q.value(1).toString();
    e.chapter = q.value(2).toInt();
    e.chapterTitle = q.value(3).toString();
    e.fraction = q.value(4).toDouble();
    e.excerpt = q.value(5).toString();
    e.note = q.value(6).toString();
    e.made = QDateTime::fromString(q.value(7).toString(), kMadeFormat);
    e.changed = q.value(8).toLongLong();
    e.removed = q.value(9).toInt() != 0;
    return e;
}

QVariantList valuesOf(const BookmarkEntry &e)
{
    return {e.book,     e.id,
            e.chapter,  e.chapterTitle,
            e.fraction, e.excerpt,
            e.note,     e.made.toString(kMadeFormat),
            e.changed,  e.removed ? 1 : 0};
}

QList<BookmarkEntry> select(const LibraryConnection &connection, const QString &where, const QVariantList &values)
{
    QSqlQuery q(connection.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM Bookmarks WHERE %2").arg(kColumns, where));
    BindAll(q, values);
    QList<BookmarkEntry> entries;
    if (!q.exec()) {
        connection.lastError = q.lastError().text();
        return entries;
    }
    while (q.next())
        entries.append(entryFrom(q));
    return entries;
}

} // namespace

qint64 LibraryBookmarks::now() const
{
    return m_connection.clock().toMSecsSinceEpoch();
}

bool LibraryBookmarks::add(BookmarkEntry &entry)
{
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.made = m_connection.clock();
    entry.changed = entry.made.toMSecsSinceEpoch();
    entry.removed = false;
    return m_connection.run(
        QStringLiteral("INSERT INTO Bookmarks (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kColumns),
        valuesOf(entry));
}

QList<BookmarkEntry> LibraryBookmarks::list(const QString &book) const
{
    return select(m_connection, QStringLiteral("book = ? AND removed = 0 ORDER BY made, rowid"), {book});
}

bool LibraryBookmarks::touch(const QString &book, const QString &id, const QString &assignment, const QVariant &value)
{
    return m_connection.run(
        QStringLiteral("UPDATE Bookmarks SET %1, changed = ? WHERE book = ? AND id = ?").arg(assignment),
        {value, now(), book, id});
}

bool LibraryBookmarks::setNote(const QString &book, const QString &id, const QString &note)
{
    return touch(book, id, QStringLiteral("note = ?"), note);
}

bool LibraryBookmarks::remove(const QString &book, const QString &id)
{
    return touch(book, id, QStringLiteral("removed = ?"), 1);
}

QList<BookmarkEntry> LibraryBookmarks::changedSince(qint64 sinceMs) const
{
    return select(m_connection, QStringLiteral("changed > ? ORDER BY changed, rowid"), {sinceMs});
}

bool LibraryBookmarks::store(const BookmarkEntry &entry)
{
    // The row is replaced only by a later version; ON CONFLICT keeps the statement to one step.
    return m_connection.run(QStringLiteral("INSERT INTO Bookmarks (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                           "ON CONFLICT (book, id) DO UPDATE SET chapter = excluded.chapter, "
                                           "chapterTitle = excluded.chapterTitle, fraction = excluded.fraction, "
                                           "excerpt = excluded.excerpt, note = excluded.note, made = excluded.made, "
                                           "changed = excluded.changed, removed = excluded.removed "
                                           "WHERE excluded.changed > Bookmarks.changed")
                                .arg(kColumns),
                            valuesOf(entry));
}
