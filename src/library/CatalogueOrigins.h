#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

class LibraryDb;

// Where a shelf book downloaded from the catalogue came from: the catalogue's id, size and date
// of the copy on the shelf, and, once the catalogue holds a newer copy, that copy's. Kept in a
// table of its own (CatalogueOrigin, keyed by the shelf row's id), which BookList never sees.
struct CatalogueOrigin
{
    qint64 bookId = 0;
    QString catalogueId;
    QString size;  // kilobytes as the server wrote them
    QString ftime; // as the server wrote it
    // The newer copy; empty while there is none.
    QString newId;
    QString newSize;
    QString newFtime;
    QString newUrl;

    bool hasUpdate() const { return !newUrl.isEmpty(); }
};

// Remembers the copy a shelf row holds now; any newer copy noted before is forgotten.
bool RememberCatalogueOrigin(LibraryDb &db, qint64 bookId, const QString &catalogueId, const QString &size,
                             const QString &ftime);
// Notes the newer copy the catalogue holds of a shelf row's book.
bool NoteCatalogueUpdate(LibraryDb &db, qint64 bookId, const QString &newId, const QString &newSize,
                         const QString &newFtime, const QString &newUrl);
// Every origin of a row still on the shelf, in the order of the rows.
QList<CatalogueOrigin> CatalogueOrigins(LibraryDb &db);
std::optional<CatalogueOrigin> CatalogueOriginOf(LibraryDb &db, qint64 bookId);
// The shelf rows whose book has a newer copy in the catalogue.
QSet<qint64> BooksWithUpdates(LibraryDb &db);
