#pragma once

#include "text/Chapters.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>

class TextCleaner;

// One place where the searched word stands in a book: its chapter, which match of that chapter
// it is (so the page can highlight that one), and a little text around it.
struct BookSearchHit
{
    int chapter = 0;    // 1-based position in the chapter list
    int occurrence = 0; // 0-based among the matches inside that chapter's shown lines
    qint64 line = 0;
    QString before; // the snippet: before + word + after, from one line
    QString word;
    QString after;

    bool operator==(const BookSearchHit &) const = default;
};

// Where a match stands in the file, kept small so that hundreds of thousands fit: enough to
// describe it (DescribeBookPlace) when it is looked at.
struct BookSearchPlace
{
    qint64 at = 0; // file offset of the match
    qint64 line = 0;
    int chapter = 0;
    int occurrence = 0;
    quint16 beforeBytes = 0; // the snippet's text before the match, from a character boundary
    quint16 afterBytes = 0;  // and after it, up to the line's end at most
    quint8 word = 0;         // which of the words searched together (FindAnyInBook) stands here
};

struct BookSearchOutcome
{
    qint64 total = 0; // every match, described or not
    bool cancelled = false;
    bool failed = false; // the file could not be read
};

// Every match of `word` in the lines the chapters show (the file's title line belongs to no
// chapter), in book order, matches not overlapping; the comparison is exact. The search works
// on the file's bytes: the word is encoded like the book and a candidate only counts where it
// starts on a character boundary, so no text is decoded. The places are handed to onPlaces in
// batches, small at first so that the first ones arrive at once.
BookSearchOutcome FindInBook(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                             const std::atomic_bool *cancel = nullptr, const BookReading &reading = {});

// Every match of any of `words` (at most 255), merged in book order as FindInBook gives them for
// one word: `word` says which one stands at each place, and the occurrences count the matches of
// all of them within a chapter. A single word is searched exactly like FindInBook. The places
// arrive once every word has been searched.
BookSearchOutcome FindAnyInBook(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                                const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                                const std::atomic_bool *cancel = nullptr, const BookReading &reading = {});

// FindAnyInBook over what the page shows: with clean-up rules, a place whose match the rules
// take off the page is left out (and not counted). Only the lines that hold a match are read
// again; without a cleaner, or with no rule on, nothing but FindAnyInBook runs.
BookSearchOutcome FindShownInBook(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                                  const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                                  const TextCleaner *cleaner, const std::atomic_bool *cancel = nullptr,
                                  const BookReading &reading = {});

// The text around found places, read from the book's file as it was searched.
class BookSnippets
{
public:
    // False when the book's line index is not in the cache or its file cannot be read.
    bool open(const QString &path, const BookReading &reading = {});
    BookSearchHit describe(const BookSearchPlace &place, const QString &word) const;

private:
    std::shared_ptr<QFile> m_file;
    const uchar *m_data = nullptr;
    qint64 m_size = 0;
    TextEncoding m_encoding = TextEncoding::Gb18030;
    mutable QString m_word;
    mutable qint64 m_wordBytes = 0;
};

// FindInBook with the first `maxDescribed` places described and handed to onHits, in batches;
// all are counted.
BookSearchOutcome SearchBook(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             qsizetype maxDescribed, const std::function<void(QList<BookSearchHit>)> &onHits,
                             const std::atomic_bool *cancel = nullptr, const BookReading &reading = {});

// Runs FindInBook on a worker thread. A new search, or cancel(), stops the one before and drops
// whatever it has not delivered yet. Results arrive on the searcher's own thread.
class BookSearcher : public QObject
{
    Q_OBJECT
public:
    explicit BookSearcher(QObject *parent = nullptr);
    ~BookSearcher() override;

    quint64 search(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                   const BookReading &reading = {});
    // Any of `words` (FindAnyInBook); the first is the word typed.
    quint64 search(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                   const BookReading &reading = {});
    void cancel();
    bool isSearching() const { return m_running != 0; }
    // The clean-up rules the next searches leave matches out by (FindShownInBook); none by default.
    void setTextCleaner(std::shared_ptr<const TextCleaner> cleaner) { m_cleaner = std::move(cleaner); }

Q_SIGNALS:
    void placesFound(quint64 searchId, const QList<BookSearchPlace> &places);
    void finished(quint64 searchId, const BookSearchOutcome &outcome);

private:
    QThreadPool m_pool;
    quint64 m_lastId = 0;
    quint64 m_running = 0;
    std::shared_ptr<std::atomic_bool> m_cancel;
    std::shared_ptr<const TextCleaner> m_cleaner;
};
