#pragma once

#include "text/BookFileCheck.h"
#include "text/BookLineIndex.h"
#include "text/BookScan.h"

#include <QList>
#include <QString>

#include <atomic>

// One row of the chapter list.
//
// The range is the one chapter detection records: a chapter whose heading is line k and whose
// successor's heading is line m has the range k-1 .. m-1, and it shows lines k .. m-1, that is
// rangeStart + 1 to rangeEnd. Entry 1 starts at 0, so the file's first line (its title) is
// never shown; the last entry ends at the file's last line.
struct ChapterEntry
{
    int number = 0; // 1-based position in the list
    qint64 rangeStart = 0;
    qint64 rangeEnd = 0;
    QString title; // also what a bookmark stores and matches

    QString numberText() const { return QString::number(number); }
    QString rangeText() const; // "start,end"
    qint64 firstShownLine() const { return rangeStart + 1; }
    qint64 lastShownLine() const { return rangeEnd; }

    bool operator==(const ChapterEntry &) const = default;
};

enum class BookOpenError
{
    None,
    Missing,
    Unreadable,
    TooLarge,       // the line index of the file does not fit in memory
    TooManyChapters, // more than MaxChapters entries
    NotABook,        // refused by OpenBook(): empty, or not text at all (text/BookFileCheck.h)
    RuleTooSlow      // the reader's own heading rule ran out of matching steps (text/HeadingExpression.h)
};

// What opening a book gives the reader.
//
// On success `entries` holds at least one entry and `selected` is the position (0-based) of the
// entry to show first. On failure `entries` is empty and errorTitle / errorMessage hold the
// critical message box to show; the reader should then leave the current book on screen.
struct ChapterList
{
    QString path;
    QList<ChapterEntry> entries;
    qsizetype selected = 0;
    BookOpenError error = BookOpenError::None;
    QString errorTitle;
    QString errorMessage;
    TextEncoding encoding = TextEncoding::Gb18030;
    qint64 lineCount = 0;
    BookReading reading;
    // Read plainly, the book gave a single entry and has lines longer than SmartLongLineBytes:
    // smart mode would help.
    bool smartWouldHelp = false;
    // Set by ChapterLoader for a file whose first bytes are no text (a program, an archive):
    // opened all the same, the reader says so beside the page.
    BookFileProblem fileProblem = BookFileProblem::None;

    bool ok() const { return error == BookOpenError::None; }
    const ChapterEntry *selectedEntry() const
    {
        return selected >= 0 && selected < entries.size() ? &entries.at(selected) : nullptr;
    }
};

// The messages for a file that is there but cannot be opened; the box's title and the message
// for a missing file, which the shelf shows too, are in text/BookFileCheck.h.
QString UnreadableBookMessage(const QString &path);
QString BookTooLargeMessage(const QString &path);
QString TooManyChaptersMessage(const QString &path);

// Chapter detection: reads the book once, splits it into chapters with the heading rule and
// picks the entry whose title equals `bookmarkTitle` exactly (the first such entry; entry 1
// when the title is empty or matches none). Also leaves the file's line index in the cache, so
// the first chapter shows without another pass.
// With reading.smart the scan splits long lines and the heading list is sifted (SmartChapters.h);
// the numbering of the entries stays the same.
//
// An empty file gives the single entry "正文" with the range 0,0. Runs on any thread; a book of
// tens of megabytes takes a noticeable fraction of a second, so the reading pane should go
// through ChapterLoader instead. When *cancel becomes true the scan stops early and the result
// is an empty list without error, meant to be thrown away.
// `scanParts` above 1 scans the book on that many threads (ScanBookFileInParts()).
ChapterList GetChapter(const QString &path, const QString &bookmarkTitle = {},
                       const std::atomic_bool *cancel = nullptr, const BookReading &reading = {}, int scanParts = 1);

// GetChapter() for a file first checked to be a book: one that holds nothing to read or no text
// at all (a program or an archive named ".txt") is refused with NotABook and the message that
// says why, rather than shown as a blank page or garbage.
ChapterList OpenBook(const QString &path, const QString &bookmarkTitle = {}, const std::atomic_bool *cancel = nullptr,
                     const BookReading &reading = {});

// The entries for text already decoded into lines (the first line is entry 1's title); the
// reference the fast path is tested against.
QList<ChapterEntry> ChaptersFromLines(const QStringList &lines);
qsizetype SelectChapter(const QList<ChapterEntry> &entries, const QString &bookmarkTitle);

// The most bytes of the file one fragment may cover. A 50 MB novel whose headings are not
// recognised still shows as one chapter; a range of hundreds of megabytes would exhaust the
// reading page and is refused with ChapterTooLargeMessage() instead.
constexpr qint64 MaxChapterBytes = 64 * 1024 * 1024;
QString ChapterTooLargeMessage(qint64 chapterBytes);

struct ChapterText
{
    QString fragment;
    qint64 refusedBytes = 0; // the size of a range too large to show (over the limit, or not fitting
                             // in memory); the fragment is then empty
};

// The page fragment for lines firstLine .. lastLine (inclusive, counted from 0): each line as
// it stands, markup included, followed by "<br>". Lines past the end add nothing; a file that
// cannot be read gives an empty fragment. Uses the cached line index (rebuilt when the file's
// size or modification time changed), so the text always equals what reading the whole file
// again would give, at a cost that depends on the chapter, not the book. Apart from the
// fragment itself it holds at most a megabyte of the file, or one line when a line is longer.
// Line numbers are those of the book read the way `reading` says.
ChapterText ReadChapterText(const QString &path, qint64 firstLine, qint64 lastLine, qint64 maxBytes = MaxChapterBytes,
                            const BookReading &reading = {});
QString ReadSplitContent(const QString &path, qint64 firstLine, qint64 lastLine);

// The fragment for one entry: its lines rangeStart + 1 .. rangeEnd.
QString ChapterFragment(const QString &path, const ChapterEntry &entry, const BookReading &reading = {});
