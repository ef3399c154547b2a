#include "reader/BookSearch.h"

#include "text/BookLineIndex.h"
#include "text/TextRules.h"

#include <QFile>
#include <QHash>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// Places per batch: the first few arrive at once, later ones in larger batches.
constexpr qsizetype FirstBatchSize = 100;
constexpr qsizetype MaxBatchSize = 25600;
// Bytes searched between two looks at the cancel flag.
constexpr qint64 CancelCheckBytes = 4 * 1024 * 1024;
// Context of a snippet, in characters.
constexpr qsizetype ContextBefore = 16;
constexpr qsizetype ContextAfter = 30;

QByteArray encodeLike(TextEncoding encoding, const QString &word)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return word.toUtf8();
    case TextEncoding::Utf16LE:
        return QStringEncoder(QStringEncoder::Utf16LE).encode(word);
    case TextEncoding::Utf16BE:
        return QStringEncoder(QStringEncoder::Utf16BE).encode(word);
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        break;
    }
    QStringEncoder encoder(encoding == TextEncoding::Big5 ? "Big5" : "GB18030");
    QByteArray bytes = encoder.encode(word);
    return encoder.hasError() ? QByteArray() : bytes;
}

// Length of the character starting at data[i] (never past `end`).
qsizetype charLength(TextEncoding encoding, const uchar *data, qsizetype i, qsizetype end)
{
    const uchar b = data[i];
    qsizetype n = 1;
    switch (encoding) {
    case TextEncoding::Gb18030:
        if (b >= 0x81 && b <= 0xFE)
            n = (i + 1 < end && data[i + 1] >= 0x30 && data[i + 1] <= 0x39) ? 4 : 2;
        break;
    case TextEncoding::Big5:
        if (b >= 0x81 && b <= 0xFE)
            n = 2;
        break;
    case TextEncoding::Utf8:
        n = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        break;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        n = 2;
        break;
    }
    return std::min(n, end - i);
}

// Walks a line's characters from its start; GB18030 cannot be entered anywhere else. Keeps the
// starts of the last ContextBefore characters for the snippets. Big5 is walked the same way.
struct LineWalker
{
    qint64 line = -1;
    qint64 at = 0; // a character boundary inside the line, file offset
    qint64 recent[ContextBefore] = {};
    int count = 0;

    void restart(qint64 lineNo, qint64 start)
    {
        line = lineNo;
        at = start;
        count = 0;
    }
    // Walks up to `to`; true when `to` is a boundary.
    bool walkTo(qint64 to, TextEncoding encoding, const uchar *data, qint64 end)
    {
        while (at < to) {
            recent[count++ % ContextBefore] = at;
            at += charLength(encoding, data, at, end);
        }
        return at == to;
    }
    qint64 contextStart() const { return count == 0 ? at : recent[count < ContextBefore ? 0 : count % ContextBefore]; }
};

} // namespace

BookSearchOutcome FindInBook(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                             const std::atomic_bool *cancel, const BookReading &reading)
{
    BookSearchOutcome outcome;
    const std::shared_ptr<const BookLineIndex> index = LineIndexFor(path, reading);
    if (!index) {
        outcome.failed = true;
        return outcome;
    }
    const QByteArray needle = encodeLike(index->encoding, word);
    if (needle.isEmpty() || entries.isEmpty() || index->lineCount() < 2)
        return outcome;
    QFile file(index->path);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.failed = true;
        return outcome;
    }
    const qint64 size = index->fileSize;
    const uchar *data = size > 0 ? file.map(0, size) : nullptr;
    if (!data) {
        outcome.failed = size > 0;
        return outcome;
    }

    const TextEncoding encoding = index->encoding;
    const std::vector<qint64> &starts = index->lineStarts;
    const bool utf16 = encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
    // Chapters show lines 1 .. the last; line 0 is the title.
    const qint64 from = starts[1];
    const qint64 to = std::min<qint64>(starts[size_t(std::min(entries.last().lastShownLine(), index->lineCount() - 1)) + 1],
                                       size);

    QList<BookSearchPlace> batch;
    qsizetype batchSize = FirstBatchSize;
    LineWalker walker;
    qsizetype entry = 0;
    int occurrence = 0;
    qint64 line = 1;
    qint64 nextCancelCheck = from + CancelCheckBytes;
    const auto *bytes = reinterpret_cast<const char *>(data);

    for (qint64 pos = from; pos + needle.size() <= to;) {
        if (pos >= nextCancelCheck) {
            nextCancelCheck = pos + CancelCheckBytes;
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                outcome.cancelled = true;
                return outcome;
            }
        }
        const qint64 window = std::min<qint64>(to - pos, nextCancelCheck - pos + needle.size() - 1);
        const void *found = memmem(bytes + pos, size_t(window), needle.constData(), size_t(needle.size()));
        if (!found) {
            pos += std::max<qint64>(1, window - needle.size() + 1);
            continue;
        }
        const qint64 m = static_cast<const char *>(found) - bytes;
        pos = m + 1;
        while (starts[size_t(line) + 1] <= m)
            ++line;
        const qint64 lineStart = starts[size_t(line)];
        const qint64 lineEnd = starts[size_t(line) + 1];
        if (m + needle.size() > lineEnd)
            continue; // runs across a line break
        if (utf16 && ((m - lineStart) & 1))
            continue;
        if (encoding == TextEncoding::Utf8 && (data[m] & 0xC0) == 0x80)
            continue;
        qint64 contextStart;
        if (encoding == TextEncoding::Gb18030 || encoding == TextEncoding::Big5) {
            if (walker.line != line)
                walker.restart(line, lineStart);
            if (!walker.walkTo(m, encoding, data, lineEnd))
                continue; // starts inside a character
            contextStart = walker.contextStart();
        } else {
            contextStart = std::max<qint64>(lineStart, m - (utf16 ? 2 : 4) * ContextBefore);
            if (utf16 && ((contextStart - lineStart) & 1))
                ++contextStart;
            while (encoding == TextEncoding::Utf8 && contextStart < m && (data[contextStart] & 0xC0) == 0x80)
                ++contextStart;
        }
        pos = m + needle.size();

        while (entry + 1 < entries.size() && line > entries.at(entry).lastShownLine()) {
            ++entry;
            occurrence = 0;
        }
        if (line < entries.at(entry).firstShownLine() || line > entries.at(entry).lastShownLine())
            continue;
        ++outcome.total;
        BookSearchPlace place;
        place.at = m;
        place.line = line;
        place.chapter = entries.at(entry).number;
        place.occurrence = occurrence++;
        place.beforeBytes = quint16(m - contextStart);
        const qint64 afterFrom = m + needle.size();
        place.afterBytes = quint16(std::min<qint64>(lineEnd, afterFrom + 4 * ContextAfter) - afterFrom);
        batch.append(place);
        if (batch.size() >= batchSize) {
            onPlaces(std::exchange(batch, {}));
            batchSize = std::min(batchSize * 4, MaxBatchSize);
        }
    }
    if (!batch.isEmpty())
        onPlaces(std::move(batch));
    return outcome;
}

BookSearchOutcome FindAnyInBook(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                                const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                                const std::atomic_bool *cancel, const BookReading &reading)
{
    if (words.size() == 1)
        return FindInBook(path, entries, words.first(), onPlaces, cancel, reading);
    BookSearchOutcome outcome;
    std::vector<BookSearchPlace> all;
    for (qsizetype w = 0; w < std::min<qsizetype>(words.size(), 255); ++w) {
        const BookSearchOutcome one = FindInBook(
            path, entries, words.at(w),
            [&all, w](const QList<BookSearchPlace> &places) {
                for (BookSearchPlace place : places) {
                    place.word = quint8(w);
                    all.push_back(place);
                }
            },
            cancel, reading);
        if (one.cancelled || one.failed)
            return one;
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const BookSearchPlace &a, const BookSearchPlace &b) { return a.at < b.at; });
    QList<BookSearchPlace> batch;
    int chapter = 0;
    int occurrence = 0;
    qint64 taken = -1; // two words found at one place count once
    for (BookSearchPlace &place : all) {
        if (place.at == taken)
            continue;
        taken = place.at;
        if (place.chapter != chapter) {
            chapter = place.chapter;
            occurrence = 0;
        }
        place.occurrence = occurrence++;
        batch.append(place);
        ++outcome.total;
        if (batch.size() >= MaxBatchSize)
            onPlaces(std::exchange(batch, {}));
    }
    if (!batch.isEmpty())
        onPlaces(std::move(batch));
    return outcome;
}

BookSearchOutcome FindShownInBook(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                                  const std::function<void(QList<BookSearchPlace>)> &onPlaces,
                                  const TextCleaner *cleaner, const std::atomic_bool *cancel,
                                  const BookReading &reading)
{
    if (!cleaner || cleaner->isEmpty())
        return FindAnyInBook(path, entries, words, onPlaces, cancel, reading);
    // The places of one line come together, in order: the n-th place of a word on a line is
    // the n-th match of that word in the line's text.
    qint64 line = -1;
    QString text;
    QHash<quint8, QList<bool>> kept;
    QHash<quint8, int> seen;
    qint64 dropped = 0;
    BookSearchOutcome outcome = FindAnyInBook(
        path, entries, words,
        [&](const QList<BookSearchPlace> &places) {
            QList<BookSearchPlace> shown;
            shown.reserve(places.size());
            for (const BookSearchPlace &place : places) {
                if (place.line != line) {
                    line = place.line;
                    text = ReadChapterText(path, line, line, MaxChapterBytes, reading).fragment;
                    text.chop(4); // its "<br>"
                    kept.clear();
                    seen.clear();
                }
                auto found = kept.find(place.word);
                if (found == kept.end())
                    found = kept.insert(place.word, cleaner->keptMatches(text, words.value(place.word)));
                const int n = seen[place.word]++;
                if (n < found->size() && !found->at(n)) {
                    ++dropped;
                    continue;
                }
                shown.append(place);
            }
            if (!shown.isEmpty())
                onPlaces(std::move(shown));
        },
        cancel, reading);
    outcome.total -= dropped;
    return outcome;
}

bool BookSnippets::open(const QString &path, const BookReading &reading)
{
    m_data = nullptr;
    m_file.reset();
    // The search has just left the index in the cache; this runs on the user's thread and must
    // never scan the book again.
    const std::shared_ptr<const BookLineIndex> index = BookLineIndexCache::instance().find(path, reading);
    if (!index)
        return false;
    auto file = std::make_shared<QFile>(index->path);
    if (!file->open(QIODevice::ReadOnly) || index->fileSize <= 0)
        return false;
    m_data = file->map(0, index->fileSize);
    if (!m_data)
        return false;
    m_file = std::move(file);
    m_size = index->fileSize;
    m_encoding = index->encoding;
    return true;
}

BookSearchHit BookSnippets::describe(const BookSearchPlace &place, const QString &word) const
{
    BookSearchHit hit;
    hit.chapter = place.chapter;
    hit.occurrence = place.occurrence;
    hit.line = place.line;
    hit.word = word;
    if (word != m_word) {
        m_word = word;
        m_wordBytes = encodeLike(m_encoding, word).size();
    }
    const qint64 wordBytes = m_wordBytes;
    if (!m_data || place.at < place.beforeBytes || place.at + wordBytes + place.afterBytes > m_size)
        return hit;
    const auto *bytes = reinterpret_cast<const char *>(m_data);
    hit.before = DecodeText(m_encoding, QByteArrayView(bytes + place.at - place.beforeBytes, place.beforeBytes));
    hit.before.remove(u'\r');
    hit.before = hit.before.right(ContextBefore);
    QString after(place.afterBytes + 1, Qt::Uninitialized);
    after.truncate(DecodeTextInto(m_encoding, QByteArrayView(bytes + place.at + wordBytes, place.afterBytes),
                                  reinterpret_cast<char16_t *>(after.data()), ContextAfter));
    while (after.endsWith(u'\n') || after.endsWith(u'\r'))
        after.chop(1);
    hit.after = after.left(ContextAfter);
    return hit;
}

BookSearchOutcome SearchBook(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             qsizetype maxDescribed, const std::function<void(QList<BookSearchHit>)> &onHits,
                             const std::atomic_bool *cancel, const BookReading &reading)
{
    BookSnippets snippets;
    std::optional<bool> opened;
    qsizetype described = 0;
    const BookSearchOutcome outcome = FindInBook(
        path, entries, word,
        [&](const QList<BookSearchPlace> &places) {
            if (!opened)
                opened = snippets.open(path, reading);
            if (!*opened)
                return;
            QList<BookSearchHit> hits;
            for (qsizetype i = 0; i < places.size() && described < maxDescribed; ++i, ++described)
                hits.append(snippets.describe(places.at(i), word));
            if (!hits.isEmpty())
                onHits(std::move(hits));
        },
        cancel, reading);
    return outcome;
}

BookSearcher::BookSearcher(QObject *parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

BookSearcher::~BookSearcher()
{
    cancel();
    m_pool.waitForDone();
}

quint64 BookSearcher::search(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             const BookReading &reading)
{
    return search(path, entries, QStringList{word}, reading);
}

quint64 BookSearcher::search(const QString &path, const QList<ChapterEntry> &entries, const QStringList &words,
                             const BookReading &reading)
{
    cancel();
    const quint64 id = ++m_lastId;
    m_running = id;
    auto flag = std::make_shared<std::atomic_bool>(false);
    m_cancel = flag;
    m_pool.start([this, id, flag, path, entries, words, reading, cleaner = m_cleaner] {
        const auto deliver = [this, id, flag](QList<BookSearchPlace> places) {
            QMetaObject::invokeMethod(this, [this, id, flag, places = std::move(places)] {
                if (!flag->load() && id == m_running)
                    Q_EMIT placesFound(id, places);
            }, Qt::QueuedConnection);
        };
        const BookSearchOutcome outcome =
            FindShownInBook(path, entries, words, deliver, cleaner.get(), flag.get(), reading);
        QMetaObject::invokeMethod(this, [this, id, flag, outcome] {
            if (flag->load() || id != m_running)
                return;
            m_running = 0;
            Q_EMIT finished(id, outcome);
        }, Qt::QueuedConnection);
    });
    return id;
}

void BookSearcher::cancel()
{
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
    m_running = 0;
}
