#pragma once

#include "text/BookText.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <list>
#include <memory>
#include <optional>
#include <vector>

// How one book is read: the encoding its bytes are decoded with (detected when none is chosen)
// and whether long lines are split into paragraphs ("智能分章", see SmartChapters.h). The plain
// reading, {}, is every book's default. A heading expression of the reader's own
// (HeadingExpression.h) replaces the built-in heading rule when one is chosen.
struct BookReading
{
    std::optional<TextEncoding> encoding;
    bool smart = false;
    QString rule = {};

    bool operator==(const BookReading &) const = default;
    // "smart=1;encoding=UTF-8;rule=%5E..." (the rule percent-encoded) and back, for the per-book
    // option; unknown parts are ignored.
    QString toText() const;
    static BookReading fromText(QStringView text);
};

// Where each line of a book file starts, so that one chapter can be cut out of the file without
// reading and decoding all of it again. It is only valid for the file state it was built from
// (size and modification time); the cache below never hands out a stale one.
struct BookLineIndex
{
    QString path;
    BookReading reading; // an index is only valid for the reading it was built for
    qint64 fileSize = 0;
    QDateTime modified;
    TextEncoding encoding = TextEncoding::Gb18030;
    qsizetype bomLength = 0;
    // Byte offset of every line's first byte, then one more entry: the file size.
    std::vector<qint64> lineStarts;

    qint64 lineCount() const { return lineStarts.empty() ? 0 : qint64(lineStarts.size()) - 1; }
};

// The few most recently opened books' indexes, keyed by absolute path and reading; shared by chapter
// detection (which builds an index in the same pass) and chapter display. Thread-safe.
class BookLineIndexCache
{
public:
    static constexpr int Capacity = 4;

    static BookLineIndexCache &instance();

    // The index of the file as it is now, or null when none is cached for its current size
    // and modification time.
    std::shared_ptr<const BookLineIndex> find(const QString &path, const BookReading &reading = {});
    void insert(std::shared_ptr<const BookLineIndex> index);
    void clear();

private:
    QMutex m_mutex;
    std::list<std::shared_ptr<const BookLineIndex>> m_entries; // most recent first
};

// The index for a file: from the cache when still valid, otherwise built by scanning the file
// (and cached). Null when the file cannot be read.
std::shared_ptr<const BookLineIndex> LineIndexFor(const QString &path, const BookReading &reading = {});
