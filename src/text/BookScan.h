#pragma once

#include "text/BookLineIndex.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

class QIODevice;

enum class BookReadError
{
    None,
    Missing,
    Unreadable,
    OutOfMemory // the line index did not fit (each line costs eight bytes, however short)
};

// Entry 1's title is made from at most this many UTF-16 units of the first line (a whole
// character more when the last one is a surrogate pair), so a book that is one endless line
// costs no more than a normal one. A real one-line novel of 800 KB still keeps its whole line.
constexpr qsizetype MaxFirstLineUnits = 512 * 1024;

// The most chapters a book may have. Serialised novels run to some tens of thousands of
// chapters at most; ten times that still keeps the chapter list, with its rows on screen, within
// a couple of hundred megabytes, where a file of millions of heading-like lines would otherwise
// cost gigabytes. The scan stops at the first heading beyond it.
constexpr qsizetype MaxChapters = 200000;

// One pass over a book file: the line index and, when asked, the first line and every later
// line that passes the heading rule. Shared by chapter detection and the chapter display's index
// rebuild so that both see the same lines.
struct BookScan
{
    enum Mode
    {
        IndexOnly,
        WithHeadings
    };

    BookReadError error = BookReadError::None;
    bool cancelled = false;
    bool tooManyHeadings = false; // more than MaxChapters - 1 headings: the scan stopped there
    QString ruleStopped;          // the reader's own rule ran out of matching steps: its message
    BookLineIndex index;
    QString firstLine;                // line 0 as decoded, up to MaxFirstLineUnits; empty without lines
    std::vector<qint64> headingLines; // ascending line numbers, never 0
    QStringList headingTexts;         // the raw heading lines, same order
};

// Scans a file; index.path, fileSize and modified describe the file as it was read. A chosen
// encoding replaces the detection; smart reading splits long lines (SmartChapters.h), so that
// lines are then those pieces.
BookScan ScanBookFile(const QString &path, BookScan::Mode mode, const std::atomic_bool *cancel = nullptr,
                      const BookReading &reading = {});
// Scans bytes already in memory, the same way.
BookScan ScanBookBytes(const QByteArray &bytes, BookScan::Mode mode, const std::atomic_bool *cancel = nullptr,
                       const BookReading &reading = {});
// Scans what a device holds from its start, the same way. Room for `expectedLines` is made in the
// line index at once (memory is only touched as lines fill it), instead of as the index grows.
BookScan ScanBookDevice(QIODevice &device, BookScan::Mode mode, const std::atomic_bool *cancel = nullptr,
                        const BookReading &reading = {}, qint64 expectedLines = 0);
// ScanBookFile() on up to `parts` threads at once, each scanning a run of whole lines, with the
// same result; for work that reads the whole book anyway and wants every core. A book read the
// smart way or by the reader's own rule, a UTF-16 book and one without a line break past its
// middle are scanned on one thread.
BookScan ScanBookFileInParts(const QString &path, BookScan::Mode mode, int parts,
                             const std::atomic_bool *cancel = nullptr, const BookReading &reading = {});

// The bytes of one line as the index delimits it, without its line feed and a carriage return
// right before that.
QByteArrayView WithoutLineBreak(TextEncoding encoding, QByteArrayView line);
