#include "text/BookScan.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <cstring>
#include <future>
#include <new>
#include <optional>

namespace {

// How far past a part's planned start its first line feed is looked for; a book whose line runs
// on further is cut into fewer parts.
constexpr qint64 MaxLineFeedSearch = 1024 * 1024;

// Room made in each part's line index up front, at a line for this many bytes (the lines of a
// novel are longer): a growing index is copied, and new memory written, each time it doubles.
// The first part's is made for the whole book, which its index then becomes without a copy.
constexpr qint64 BytesPerLineGuess = 64;
constexpr qint64 MaxExpectedLines = qint64(1) << 24;

qint64 expectedLines(qint64 bytes)
{
    return qMin(bytes / BytesPerLineGuess + 2, MaxExpectedLines);
}

// The bytes [start, end) of a book file, after a line feed of the device's own when `lead`: the
// scanner takes a device's first line for the book's title, so a part after the first begins
// with an empty line and checks its real first line like any other.
class FileRange : public QIODevice
{
public:
    FileRange(const QString &path, qint64 start, qint64 end, bool lead)
        : m_file(path)
        , m_start(start)
        , m_end(end)
        , m_lead(lead ? 1 : 0)
    {
    }

    bool open() { return m_file.open(ReadOnly | Unbuffered) && QIODevice::open(ReadOnly | Unbuffered); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_lead + m_end - m_start; }
    bool seek(qint64 position) override
    {
        if (!QIODevice::seek(position))
            return false;
        m_position = position;
        return true;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        qint64 n = 0;
        if (m_position < m_lead && maxSize > 0) {
            data[n++] = '\n';
            ++m_position;
        }
        const qint64 from = m_start + m_position - m_lead;
        const qint64 want = qMin(maxSize - n, m_end - from);
        if (want <= 0)
            return n;
        if (m_file.pos() != from && !m_file.seek(from))
            return -1;
        const qint64 got = m_file.read(data + n, want);
        if (got < 0)
            return -1;
        m_position += got;
        return n + got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    qint64 m_start;
    qint64 m_end;
    qint64 m_lead;
    qint64 m_position = 0;
};

BookScan scanRange(const QString &path, qint64 start, qint64 end, BookScan::Mode mode, const std::atomic_bool *cancel,
                   const BookReading &reading, qint64 lines)
{
    FileRange range(path, start, end, start > 0);
    if (!range.open()) {
        BookScan scan;
        scan.error = BookReadError::Unreadable;
        return scan;
    }
    return ScanBookDevice(range, mode, cancel, reading, lines);
}

// Where the parts start: each just after the first line feed from its share of the file on.
QList<qint64> partStarts(QFile &file, qint64 size, int parts)
{
    QList<qint64> starts{0};
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (int k = 1; k < parts; ++k) {
        qint64 at = qMax(size / parts * k, starts.last());
        const qint64 until = qMin(size, at + MaxLineFeedSearch);
        qint64 found = -1;
        while (found < 0 && at < until && file.seek(at)) {
            const qint64 got = file.read(block.data(), qMin<qint64>(block.size(), until - at));
            if (got <= 0)
                break;
            if (const void *lf = std::memchr(block.constData(), '\n', size_t(got)))
                found = at + (static_cast<const char *>(lf) - block.constData());
            at += got;
        }
        if (found >= 0 && found + 1 < size && found + 1 > starts.last())
            starts.append(found + 1);
    }
    starts.append(size);
    return starts;
}

// What the whole scan gives when a part failed, was cancelled or found too many headings.
std::optional<BookScan> firstFailure(const std::vector<BookScan> &scans)
{
    for (const BookScan &scan : scans) {
        if (scan.error != BookReadError::None || scan.cancelled || scan.tooManyHeadings) {
            BookScan failed;
            failed.error = scan.error;
            failed.cancelled = scan.cancelled;
            failed.tooManyHeadings = scan.tooManyHeadings;
            return failed;
        }
    }
    return std::nullopt;
}

// The parts' scans as one: line numbers and offsets counted from the book's start.
BookScan joined(std::vector<BookScan> scans, const QList<qint64> &starts, const QString &path,
                const QDateTime &modified, const BookReading &reading)
{
    BookScan whole = std::move(scans.front());
    BookLineIndex &index = whole.index;
    size_t lineCount = 0;
    for (const BookScan &scan : scans)
        lineCount += scan.index.lineStarts.size();
    index.lineStarts.reserve(lineCount);
    index.lineStarts.pop_back(); // where the next part begins
    for (size_t k = 1; k < scans.size(); ++k) {
        BookScan &scan = scans[k];
        // A part's line 0 is its own empty line; its lines are the book's from the part's start.
        const qint64 linesBefore = qint64(index.lineStarts.size()) - 1;
        const qint64 shift = starts[qsizetype(k)] - 1;
        const std::vector<qint64> &lines = scan.index.lineStarts;
        for (size_t i = 1; i + 1 < lines.size(); ++i)
            index.lineStarts.push_back(lines[i] + shift);
        for (size_t i = 0; i < scan.headingLines.size(); ++i) {
            whole.headingLines.push_back(scan.headingLines[i] + linesBefore);
            whole.headingTexts.append(std::move(scan.headingTexts[qsizetype(i)]));
        }
        index.fileSize = lines.back() + shift;
    }
    index.lineStarts.push_back(index.fileSize);
    if (qsizetype(whole.headingLines.size()) > MaxChapters - 1)
        whole.tooManyHeadings = true;
    index.path = path;
    index.modified = modified;
    index.reading = reading;
    return whole;
}

} // namespace

BookScan ScanBookFileInParts(const QString &path, BookScan::Mode mode, int parts, const std::atomic_bool *cancel,
                             const BookReading &reading)
{
    const auto utf16 = [](TextEncoding e) { return e == TextEncoding::Utf16LE || e == TextEncoding::Utf16BE; };
    const QFileInfo info(path);
    const QDateTime modified = info.lastModified();
    QFile file(info.absoluteFilePath());
    if (parts < 2 || reading.smart || !reading.rule.isEmpty() || (reading.encoding && utf16(*reading.encoding)) ||
        !info.exists() || info.isDir() || !file.open(QIODevice::ReadOnly))
        return ScanBookFile(path, mode, cancel, reading);
    char head[3] = {};
    const DetectedEncoding mark = DetectByteOrderMark(QByteArrayView(head, qMax<qint64>(0, file.read(head, 3))));
    const bool utf16Mark = utf16(mark.encoding) && mark.bomLength > 0;
    const QList<qint64> starts = utf16Mark ? QList<qint64>{} : partStarts(file, info.size(), parts);
    if (starts.size() < 3)
        return ScanBookFile(path, mode, cancel, reading);
    file.close();

    // The parts after the first read as the first does: a mark there or a chosen encoding decides
    // for all; without either, each guesses UTF-8 on its own, and the book is UTF-8 only if every
    // part is.
    BookReading following = reading;
    if (!following.encoding && mark.bomLength > 0)
        following.encoding = mark.encoding;
    std::vector<std::future<BookScan>> others;
    for (qsizetype k = 1; k + 1 < starts.size(); ++k)
        others.push_back(std::async(std::launch::async, scanRange, info.absoluteFilePath(), starts[k], starts[k + 1],
                                    mode, cancel, following, expectedLines(starts[k + 1] - starts[k])));
    std::vector<BookScan> scans;
    scans.push_back(scanRange(info.absoluteFilePath(), 0, starts[1], mode, cancel, reading, expectedLines(info.size())));
    for (std::future<BookScan> &other : others)
        scans.push_back(other.get());
    if (std::optional<BookScan> failed = firstFailure(scans))
        return *failed;
    bool mixed = false;
    for (const BookScan &scan : scans)
        mixed = mixed || scan.index.encoding != scans.front().index.encoding;
    if (mixed) { // rare: bytes that are no UTF-8 in some parts only; the book is GB18030
        BookReading gb = reading;
        gb.encoding = TextEncoding::Gb18030;
        for (qsizetype k = 0; k < qsizetype(scans.size()); ++k)
            if (scans[size_t(k)].index.encoding != TextEncoding::Gb18030)
                scans[size_t(k)] = scanRange(info.absoluteFilePath(), starts[k], starts[k + 1], mode, cancel, gb,
                                             expectedLines(k == 0 ? info.size() : starts[k + 1] - starts[k]));
    }

    if (std::optional<BookScan> failed = firstFailure(scans))
        return *failed;
    try {
        return joined(std::move(scans), starts, info.absoluteFilePath(), modified, reading);
    } catch (const std::bad_alloc &) {
        BookScan failed;
        failed.error = BookReadError::OutOfMemory;
        return failed;
    }
}
