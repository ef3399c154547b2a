#pragma once

#include "library/BookRecord.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

struct LibraryConnection;

// Columns the shelf list can be ordered by; Newest is the list's own order (id descending).
enum class ShelfSort
{
    Newest,
    Id,
    Type,
    Name,
    Marke,
    LastRead,
    Path,
    Progress,
    Author
};

// What the bookshelf list shows: every book, or the books of one category, optionally narrowed
// to the rows whose title, author or path contain a text, in a chosen order.
struct ShelfQuery
{
    QString category; // empty: all books
    QString filter;   // empty: no narrowing
    ShelfSort sort = ShelfSort::Newest;
    bool descending = false; // ignored for Newest

    bool isPlain() const { return filter.isEmpty() && sort == ShelfSort::Newest; }

    bool operator==(const ShelfQuery &) const = default;
};

struct ShelfPage
{
    QList<BookRecord> rows;
    int page = 0;      // page actually shown, after clamping into 1..pageCount
    int pageCount = 0; // 0 for an empty result
    qint64 total = 0;
};

// The bookshelf table, BookList: its pages, look-ups and row changes. The paging reads the
// reading positions too, for the progress order.
class LibraryShelf
{
public:
    explicit LibraryShelf(LibraryConnection &connection) : m_connection(connection) {}

    // A page below 1 shows page 1, a page above the page count shows the last page.
    ShelfPage page(const ShelfQuery &query, int page, int pageSize) const;

    std::optional<BookRecord> findByPath(const QString &path) const;
    std::optional<BookRecord> findByPathExcept(const QString &path, qint64 exceptId) const;
    // failed (when given) tells a statement the database refused from a title that is not there.
    std::optional<BookRecord> findByName(const QString &name, bool *failed = nullptr) const;
    std::optional<BookRecord> findById(qint64 id) const;

    // New rows get the bookmark "Null" and lastread = now. Returns the new id, or -1.
    qint64 insertBook(const QString &type, const QString &name, const QString &author, const QString &path);
    bool updateBook(qint64 id, const QString &type, const QString &name, const QString &author, const QString &path);
    bool deleteBook(qint64 id);
    // These two change every row whose path matches.
    bool touchLastRead(const QString &path);
    bool setBookmark(const QString &path, const QString &chapterTitle);

private:
    std::optional<BookRecord> lookup(const QString &where, const QVariantList &values, bool *failed = nullptr) const;

    LibraryConnection &m_connection;
};
