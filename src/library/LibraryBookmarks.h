#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct LibraryConnection;

// One entry of a book's bookmark list: where it was made (the chapter by position and title, and
// how far down the chapter the page was), a few words of the text there, and the reader's note.
// Rows are never deleted: a removed entry keeps its row with `removed` set, and every change
// stamps `changed`, so a copy of the list elsewhere can be brought up to date from the rows
// changed since it was last compared.
struct BookmarkEntry
{
    QString book;    // the book's path, as everything else in the library keys a book
    QString id;      // made with the entry and unique everywhere, so lists of two computers can be merged
    int chapter = 0; // 1-based position in the chapter list
    QString chapterTitle;
    double fraction = 0; // 0 top of the chapter .. 1 its end
    QString excerpt;
    QString note;
    QDateTime made;
    qint64 changed = 0; // milliseconds since 1970 UTC
    bool removed = false;

    friend bool operator==(const BookmarkEntry &, const BookmarkEntry &) = default;
};

// The Bookmarks table: every book's bookmark list, one row per book and entry id.
class LibraryBookmarks
{
public:
    explicit LibraryBookmarks(LibraryConnection &connection) : m_connection(connection) {}

    // Adds the entry with a new id, made and changed now; fills those into `entry`.
    bool add(BookmarkEntry &entry);
    // The book's entries that are not removed, oldest first.
    QList<BookmarkEntry> list(const QString &book) const;
    bool setNote(const QString &book, const QString &id, const QString &note);
    bool remove(const QString &book, const QString &id);
    // Every row of every book changed after `sinceMs`, removed ones included, oldest change first.
    QList<BookmarkEntry> changedSince(qint64 sinceMs) const;
    // Keeps `entry` as it is given when its row is missing or was changed before it; an older
    // version changes nothing. False only when the database refused it.
    bool store(const BookmarkEntry &entry);

private:
    bool touch(const QString &book, const QString &id, const QString &assignment, const QVariant &value);
    qint64 now() const;

    LibraryConnection &m_connection;
};
