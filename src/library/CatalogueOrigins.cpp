#include "library/CatalogueOrigins.h"

#include "library/LibraryDb.h"

#include <QSqlQuery>

namespace {

const QString kColumns = QStringLiteral("bookId, catalogueId, size, ftime, newId, newSize, newFtime, newUrl");

// The table comes with the first use, so a library made by an older program gains it then.
bool ensureTable(const LibraryConnection &c)
{
    return c.run(QStringLiteral("CREATE TABLE IF NOT EXISTS CatalogueOrigin ("
                                " bookId INTEGER PRIMARY KEY,"
                                " catalogueId TEXT NOT NULL,"
                                " size TEXT NOT NULL DEFAULT '',"
                                " ftime TEXT NOT NULL DEFAULT '',"
                                " newId TEXT NOT NULL DEFAULT '',"
                                " newSize TEXT NOT NULL DEFAULT '',"
                                " newFtime TEXT NOT NULL DEFAULT '',"
                                " newUrl TEXT NOT NULL DEFAULT '')"),
                 {});
}

QList<CatalogueOrigin> select(LibraryDb &db, const QString &where, const QVariantList &binds)
{
    QList<CatalogueOrigin> out;
    if (!ensureTable(db.connection()))
        return out;
    QSqlQuery q(db.connection().db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM CatalogueOrigin WHERE bookId IN (SELECT id FROM BookList) %2 "
                             "ORDER BY bookId")
                  .arg(kColumns, where));
    BindAll(q, binds);
    if (!q.exec())
        return out;
    while (q.next()) {
        CatalogueOrigin o;
        o.bookId = q.value(0).toLongLong();
        o.catalogueId = q.value(1).toString();
        o.size = q.value(2).toString();
        o.ftime = q.value(3).toString();
        o.newId = q.value(4).toString();
        o.newSize = q.value(5).toString();
        o.newFtime = q.value(6).toString();
        o.newUrl = q.value(7).toString();
        out.append(o);
    }
    return out;
}

} // namespace

bool RememberCatalogueOrigin(LibraryDb &db, qint64 bookId, const QString &catalogueId, const QString &size,
                             const QString &ftime)
{
    return ensureTable(db.connection()) &&
           db.connection().run(QStringLiteral("INSERT OR REPLACE INTO CatalogueOrigin (%1) "
                                              "VALUES (?, ?, ?, ?, '', '', '', '')")
                                   .arg(kColumns),
                               {bookId, catalogueId, size, ftime});
}

bool NoteCatalogueUpdate(LibraryDb &db, qint64 bookId, const QString &newId, const QString &newSize,
                         const QString &newFtime, const QString &newUrl)
{
    return ensureTable(db.connection()) &&
           db.connection().run(QStringLiteral("UPDATE CatalogueOrigin SET newId = ?, newSize = ?, newFtime = ?, "
                                              "newUrl = ? WHERE bookId = ?"),
                               {newId, newSize, newFtime, newUrl, bookId});
}

QList<CatalogueOrigin> CatalogueOrigins(LibraryDb &db)
{
    return select(db, {}, {});
}

std::optional<CatalogueOrigin> CatalogueOriginOf(LibraryDb &db, qint64 bookId)
{
    const QList<CatalogueOrigin> rows = select(db, QStringLiteral("AND bookId = ?"), {bookId});
    return rows.isEmpty() ? std::nullopt : std::optional(rows.first());
}

QSet<qint64> BooksWithUpdates(LibraryDb &db)
{
    QSet<qint64> ids;
    for (const CatalogueOrigin &o : select(db, QStringLiteral("AND newUrl <> ''"), {}))
        ids.insert(o.bookId);
    return ids;
}
