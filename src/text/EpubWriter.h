#pragma once

#include "text/BookLineIndex.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <atomic>
#include <functional>

// What an EPUB of a book says about it besides its text.
struct EpubBook
{
    QString path;         // the book file
    BookReading reading;  // encoding, smart chapters, the reader's own heading expression
    // The text as the reader shows it (繁简), applied to chapter titles and text; none: as written.
    // Called on several threads at once.
    std::function<QString(const QString &)> shownText;
    // 0: chapter documents stored as they are, the fastest to write and to open; 1 to 9: deflated
    // at that level, a file about a third smaller.
    int compressionLevel = 0;
    QString title;        // empty: the file's name without ".txt"
    QString author;
    QString identifier;   // the catalogue id or the file's fingerprint; empty: made from the content
    QString subject;      // the category
    QDateTime date;       // invalid: the file's modification time
    QByteArray cover;     // the cover image; empty: none
    QByteArray coverType; // its media type: image/jpeg, image/png, image/gif or image/webp
};

struct EpubResult
{
    bool ok = false;
    bool cancelled = false;
    QString errorMessage; // Chinese, for the user
    int chapters = 0;
    int documents = 0;
};

// Called now and then with the bytes of the book done so far and its size: one call at a time,
// never going back, though not always on the same thread.
using EpubProgress = std::function<void(qint64 done, qint64 total)>;

// Writes the EPUB 3 (with an EPUB 2 NCX for older readers) of a book to `target`: one chapter
// per entry of the chapter list the reader builds for the book read the way `book.reading`
// says, each in documents of a bounded size, the chapter titles as the contents. The file is
// written whole or not at all; when *cancel becomes true the writing stops and `target` stays
// as it was. Runs on any thread.
EpubResult WriteEpub(const EpubBook &book, const QString &target, const std::atomic_bool *cancel = nullptr,
                     const EpubProgress &progress = {});

// The file name an exported EPUB gets: the title with what file systems refuse replaced, ".epub".
QString EpubFileName(const QString &title);
