#include "reader/BookSearch.h"

#include "reader/BookLineIndex.h"

#include <QFile>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype BatchSize = 200;
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

BookSearchOutcome SearchBook(const QString &path, const QList<ChapterEntry> &entries, const QString &word,
                             qsizetype maxDescribed, const std::function<void(QList<BookSearchHit>)> &onHits,
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

    QList<BookSearchHit> batch;
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
        const int nth = occurrence++;
        if (outcome.total > maxDescribed)
            continue;

        BookSearchHit hit;
        hit.chapter = entries.at(entry).number;
        hit.occurrence = nth;
        hit.line = line;
        hit.word = word;
        hit.before = DecodeText(encoding, QByteArrayView(bytes + contextStart, m - contextStart));
        hit.before.remove(u'\r');
        hit.before = hit.before.right(ContextBefore);
        const qint64 afterFrom = m + needle.size();
        const qint64 afterTo = std::min<qint64>(lineEnd, afterFrom + 4 * ContextAfter);
        QString after(afterTo - afterFrom + 1, Qt::Uninitialized);
        after.truncate(DecodeTextInto(encoding, QByteArrayView(bytes + afterFrom, afterTo - afterFrom),
                                      reinterpret_cast<char16_t *>(after.data()), ContextAfter));
        while (after.endsWith(u'\n') || after.endsWith(u'\r'))
            after.chop(1);
        hit.after = after.left(ContextAfter);
        batch.append(std::move(hit));
        if (batch.size() >= BatchSize)
            onHits(std::exchange(batch, {}));
    }
    if (!batch.isEmpty())
        onHits(std::move(batch));
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
    cancel();
    const quint64 id = ++m_lastId;
    m_running = id;
    auto flag = std::make_shared<std::atomic_bool>(false);
    m_cancel = flag;
    m_pool.start([this, id, flag, path, entries, word, reading] {
        const auto deliver = [this, id, flag](QList<BookSearchHit> hits) {
            QMetaObject::invokeMethod(this, [this, id, flag, hits = std::move(hits)] {
                if (!flag->load() && id == m_running)
                    Q_EMIT hitsFound(id, hits);
            }, Qt::QueuedConnection);
        };
        const BookSearchOutcome outcome = SearchBook(path, entries, word, MaxListed, deliver, flag.get(), reading);
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
