#pragma once

#include <QByteArrayView>
#include <QString>

// What makes a file no book to read, judged from its first bytes (BookCheckBytes of them): no
// text at all (nothing but a byte order mark and blanks), or something else renamed ".txt" (an
// executable's or an archive's header, NUL bytes other than those of UTF-16 text, or more control
// characters than text ever has).
enum class BookFileProblem
{
    None,
    Empty,
    Executable,
    Archive,
    Binary,
};
constexpr qsizetype BookCheckBytes = 16 * 1024;
BookFileProblem CheckBookBytes(QByteArrayView head);
// None for a file that cannot be read: that is told elsewhere.
BookFileProblem CheckBookFile(const QString &path);
// Why the book cannot be read, to follow the title of the box: a sentence and the path.
QString BookFileProblemMessage(BookFileProblem problem, const QString &path);
// The same in a few words, for a list of files.
QString BookFileProblemShort(BookFileProblem problem);

// Title of the box for any book that cannot be opened, and the message for a missing file: the
// shelf, its book menu and the reading pane show the same box for a moved or deleted book.
QString BookOpenFailedTitle();
QString MissingBookMessage(const QString &path);
