#pragma once

#include "library/BookRecord.h"
#include "library/LibraryBookmarks.h"
#include "library/HeadingRuleList.h"
#include "library/LibraryOptions.h"
#include "library/LibraryShelf.h"
#include "library/LibrarySql.h"
#include "library/LibrarySync.h"
#include "library/LibraryTextRules.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

// The library database: the bookshelf, the settings row, the reading positions, the bookmark
// lists and the options, on one SQLite connection that belongs to the thread that opened it.
// Every statement the program runs against the library is one method here or in its parts, with
// bound parameters; text comparisons ignore letter case. The statements live with their tables:
// LibraryShelf (BookList), LibraryOptions (SysSet, ReadingPosition, Options), LibraryBookmarks
// (Bookmarks) and CreateLibrarySchema (the tables themselves); this class owns the connection and
// answers for all of them.
class LibraryDb
{
public:
    static constexpr int ShelfPageSize = 40;

    explicit LibraryDb(const QString &connectionName = QStringLiteral("folioway-library"));
    ~LibraryDb();
    LibraryDb(const LibraryDb &) = delete;
    LibraryDb &operator=(const LibraryDb &) = delete;

    // Opens the database file. A missing file is created with its tables and one settings
    // row. An existing file that is not a readable database is left untouched and the call
    // fails with a description in *error.
    bool open(const QString &filePath, QString *error = nullptr);
    bool isOpen() const;
    QString filePath() const { return m_filePath; }

    // Clock for lastread; tests set a fixed one.
    void setClock(std::function<QDateTime()> clock) { m_connection.clock = std::move(clock); }

    // Shelf list (all books or one category), newest first, one page of ShelfPageSize rows.
    // A page below 1 shows page 1, a page above the page count shows the last page.
    ShelfPage shelfPage(const ShelfQuery &query, int page, int pageSize = ShelfPageSize) const
    {
        return m_shelf.page(query, page, pageSize);
    }

    std::optional<BookRecord> findByPath(const QString &path) const { return m_shelf.findByPath(path); }
    std::optional<BookRecord> findByPathExcept(const QString &path, qint64 exceptId) const
    {
        return m_shelf.findByPathExcept(path, exceptId);
    }
    // failed (when given) tells a statement the database refused from a title that is not there.
    std::optional<BookRecord> findByName(const QString &name, bool *failed = nullptr) const
    {
        return m_shelf.findByName(name, failed);
    }
    std::optional<BookRecord> findById(qint64 id) const { return m_shelf.findById(id); }

    // New rows get the bookmark "Null" and lastread = now. Returns the new id, or -1. While
    // sync is on, a file whose content the account knows takes the account's items at once.
    qint64 insertBook(const QString &type, const QString &name, const QString &author, const QString &path);
    bool updateBook(qint64 id, const QString &type, const QString &name, const QString &author, const QString &path)
    {
        return m_shelf.updateBook(id, type, name, author, path);
    }
    bool deleteBook(qint64 id) { return m_shelf.deleteBook(id); }
    // These two change every row whose path matches.
    bool touchLastRead(const QString &path) { return m_shelf.touchLastRead(path); }
    bool setBookmark(const QString &path, const QString &chapterTitle)
    {
        return m_shelf.setBookmark(path, chapterTitle);
    }

    QString downSavePath() const { return m_options.downSavePath(); }
    bool setDownSavePath(const QString &folder) { return m_options.setDownSavePath(folder); } // every settings row
    QString bossKey() const { return m_options.bossKey(); }
    bool autoRun() const { return m_options.autoRun(); }
    QString txtColor() const { return m_options.txtColor(); }
    QString txtSize() const { return m_options.txtSize(); }
    QString backColor() const { return m_options.backColor(); }
    // Adds the settings row when there is none, then writes all six values.
    bool saveSettings(const SysSetRow &row) { return m_options.saveSettings(row); }

    // Reading positions live in a table of their own, one row per book path; BookList is never
    // touched by them.
    bool saveReadingPosition(const ReadingPosition &position) { return m_options.saveReadingPosition(position); }
    std::optional<ReadingPosition> readingPosition(const QString &path) const
    {
        return m_options.readingPosition(path);
    }
    // The most recently saved position of any book.
    std::optional<ReadingPosition> lastReadingPosition() const { return m_options.lastReadingPosition(); }

    // Each book's bookmark list (beside the one bookmark of BookList, which it never changes).
    LibraryBookmarks &bookmarks() { return m_bookmarks; }
    const LibraryBookmarks &bookmarks() const { return m_bookmarks; }

    // Options the settings row has no column for, by name; `fallback` when never set.
    QString option(const QString &name, const QString &fallback = {}) const { return m_options.option(name, fallback); }
    bool setOption(const QString &name, const QString &value) { return m_options.setOption(name, value); }
    // "启动后打开上次阅读的书": "1" when on; off unless set.
    static QString reopenLastBookOption() { return QStringLiteral("ReopenLastBook"); }
    static QString readingLookOption() { return QStringLiteral("ReadingLook"); }
    static QString voiceOptionsOption() { return QStringLiteral("VoiceOptions"); }
    // The folder the last book was picked from, where the next file dialog opens.
    static QString lastBookFolderOption() { return QStringLiteral("LastBookFolder"); }
    // The chapter list's width in pixels as the reader dragged it; the design width unless set.
    static QString chapterListWidthOption() { return QStringLiteral("ChapterListWidth"); }

    // Reading synchronised through an account (see LibrarySync).
    LibrarySync &sync() { return m_sync; }
    const LibrarySync &sync() const { return m_sync; }

    // The clean-up rules (see LibraryTextRules).
    QList<TextRule> textRules(bool create = true) const { return m_textRules.textRules(create); }
    bool saveTextRule(TextRule &rule) { return m_textRules.saveTextRule(rule); }
    bool deleteTextRule(qint64 id) { return m_textRules.deleteTextRule(id); }

    // The reader's own chapter-heading expressions.
    HeadingRuleList &headingRules() { return m_headingRules; }

    QString lastError() const { return m_connection.lastError; }
    // For the library's tables kept beside these (CatalogueOrigins).
    const LibraryConnection &connection() const { return m_connection; }

private:
    // The parts keep a reference to the connection, so it is declared first.
    LibraryConnection m_connection;
    LibraryShelf m_shelf{m_connection};
    LibraryOptions m_options{m_connection};
    LibrarySync m_sync{m_connection};
    LibraryTextRules m_textRules{m_connection};
    LibraryBookmarks m_bookmarks{m_connection};
    HeadingRuleList m_headingRules{m_connection};
    QString m_filePath;
};
