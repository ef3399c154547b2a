#pragma once

#include "library/BookRecord.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

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

// The single settings row.
struct SysSetRow
{
    QString downSavePath;
    bool autoRun = false;
    QString bossKey = QStringLiteral("Alt|Q");
    QString txtColor = QStringLiteral("000000");
    QString txtSize = QStringLiteral("中号");
    QString backColor = QStringLiteral("C7EDCC");
};

// Where a reader left a book: the chapter (position and title, so that a changed book is not
// resumed in the wrong place), how far down the chapter the page was scrolled, and how many of
// the book's lines lay above the bottom of the window, for the shelf's progress figure.
struct ReadingPosition
{
    QString path;
    int chapter = 0; // 1-based position in the chapter list
    QString chapterTitle;
    double fraction = 0; // 0 top of the chapter .. 1 scrolled to its end
    qint64 linesRead = 0;
    qint64 lineCount = 0;
    QDateTime saved;

    // Whole percent of the book's lines read, 0..100.
    int progressPercent() const;
};

// The library database: the bookshelf and the settings row, on one SQLite connection that
// belongs to the thread that opened it. Every statement the program runs against the library
// is one method here, with bound parameters; text comparisons ignore letter case.
class LibraryDb
{
public:
    static constexpr int ShelfPageSize = 40;

    explicit LibraryDb(const QString &connectionName = QStringLiteral("folioway-library"));
    ~LibraryDb();
    LibraryDb(const LibraryDb &) = delete;
    LibraryDb &operator=(const LibraryDb &) = delete;

    // Opens the database file. A missing file is created with both tables and one settings
    // row. An existing file that is not a readable database is left untouched and the call
    // fails with a description in *error.
    bool open(const QString &filePath, QString *error = nullptr);
    bool isOpen() const;
    QString filePath() const { return m_filePath; }

    // Clock for lastread; tests set a fixed one.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // Shelf list (all books or one category), newest first, one page of ShelfPageSize rows.
    // A page below 1 shows page 1, a page above the page count shows the last page.
    ShelfPage shelfPage(const ShelfQuery &query, int page, int pageSize = ShelfPageSize) const;

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

    QString downSavePath() const;
    bool setDownSavePath(const QString &folder); // every settings row
    QString bossKey() const;
    bool autoRun() const;
    QString txtColor() const;
    QString txtSize() const;
    QString backColor() const;
    // Adds the settings row when there is none, then writes all six values.
    bool saveSettings(const SysSetRow &row);

    // Reading positions live in a table of their own, one row per book path; BookList is never
    // touched by them.
    bool saveReadingPosition(const ReadingPosition &position);
    std::optional<ReadingPosition> readingPosition(const QString &path) const;
    // The most recently saved position of any book.
    std::optional<ReadingPosition> lastReadingPosition() const;

    // Options the settings row has no column for, by name; `fallback` when never set.
    QString option(const QString &name, const QString &fallback = {}) const;
    bool setOption(const QString &name, const QString &value);
    // "启动后打开上次阅读的书": "1" when on; off unless set.
    static QString reopenLastBookOption() { return QStringLiteral("ReopenLastBook"); }
    static QString readingLookOption() { return QStringLiteral("ReadingLook"); }
    static QString voiceOptionsOption() { return QStringLiteral("VoiceOptions"); }
    // The folder the last book was picked from, where the next file dialog opens.
    static QString lastBookFolderOption() { return QStringLiteral("LastBookFolder"); }

    QString lastError() const { return m_lastError; }

private:
    QSqlDatabase db() const;
    bool createSchema();
    QVariant sysSetValue(const char *column) const;
    std::optional<BookRecord> lookup(const QString &sql, const QVariantList &values, bool *failed = nullptr) const;

    QString m_connectionName;
    QString m_filePath;
    std::function<QDateTime()> m_clock;
    mutable QString m_lastError;
};
