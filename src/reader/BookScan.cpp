#include "reader/BookScan.h"

#include "reader/HeadingRule.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <cstring>

namespace {

// A heading has at most 6 + 3 + 30 units, and no encoding spends more than four bytes on one
// unit, so longer lines need no decoding at all.
constexpr qsizetype MaxHeadingUnits = 39;
constexpr qsizetype MaxHeadingBytes = 4 * (MaxHeadingUnits + 1);
constexpr qint64 ParallelThreshold = 4 * 1024 * 1024;
constexpr int CancelCheckInterval = 8192;

bool isUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
}

// Finds the next line feed at or after `from` (aligned to the unit size for UTF-16) and
// returns the offset just past it, or `to` when the range holds none.
qint64 nextLineBreak(const char *data, qint64 from, qint64 to, TextEncoding encoding, qsizetype bom)
{
    if (!isUtf16(encoding)) {
        const void *lf = std::memchr(data + from, '\n', size_t(to - from));
        return lf ? static_cast<const char *>(lf) - data + 1 : to;
    }
    const bool big = encoding == TextEncoding::Utf16BE;
    qint64 i = from + ((from - bom) & 1);
    for (; i + 1 < to; i += 2) {
        const char low = big ? data[i + 1] : data[i];
        const char high = big ? data[i] : data[i + 1];
        if (low == '\n' && high == 0)
            return i + 2;
    }
    return to;
}

// Length of the line starting at `start` and ending before `next` (the next line's start),
// without its line feed and a carriage return right before that.
qint64 contentLength(const char *data, qint64 start, qint64 next, TextEncoding encoding)
{
    qint64 end = next;
    if (!isUtf16(encoding)) {
        if (end > start && data[end - 1] == '\n') {
            --end;
            if (end > start && data[end - 1] == '\r')
                --end;
        }
        return end - start;
    }
    const bool big = encoding == TextEncoding::Utf16BE;
    auto unitIs = [&](qint64 at, char c) {
        return big ? (data[at] == 0 && data[at + 1] == c) : (data[at] == c && data[at + 1] == 0);
    };
    if (end - start >= 2 && ((end - start) & 1) == 0 && unitIs(end - 2, '\n')) {
        end -= 2;
        if (end - start >= 2 && unitIs(end - 2, '\r'))
            end -= 2;
    }
    return end - start;
}

struct Chunk
{
    std::vector<qint64> starts;
    std::vector<qint64> headingLocal; // line numbers counted from the chunk's first line
    QStringList headingTexts;
    bool cancelled = false;
};

// Scans the lines that start in [from, to); `to` is the file end or just past a line feed.
void scanChunk(const char *data, qint64 from, qint64 to, TextEncoding encoding, qsizetype bom, bool testFirst,
               BookScan::Mode mode, const std::atomic_bool *cancel, Chunk &out)
{
    char16_t buffer[MaxHeadingUnits + 2];
    qint64 local = 0;
    qint64 start = from;
    while (start < to) {
        if (cancel && (local % CancelCheckInterval) == 0 && cancel->load(std::memory_order_relaxed)) {
            out.cancelled = true;
            return;
        }
        const qint64 next = nextLineBreak(data, start, to, encoding, bom);
        out.starts.push_back(start);
        if (mode == BookScan::WithHeadings && (local > 0 || testFirst)) {
            const qint64 length = contentLength(data, start, next, encoding);
            if (length <= MaxHeadingBytes) {
                qsizetype consumed = 0;
                const QByteArrayView bytes(data + start, length);
                const qsizetype units = DecodeTextInto(encoding, bytes, buffer, MaxHeadingUnits + 1, &consumed);
                if (consumed == length && units <= MaxHeadingUnits && IsChapterHeading(QStringView(buffer, units))) {
                    out.headingLocal.push_back(local);
                    out.headingTexts.append(QString(reinterpret_cast<const QChar *>(buffer), units));
                }
            }
        }
        ++local;
        start = next;
    }
}

} // namespace

QByteArrayView LineBytes(const BookLineIndex &index, QByteArrayView fileBytes, qint64 line)
{
    if (line < 0 || line >= index.lineCount())
        return {};
    const qint64 start = index.lineStarts[line];
    const qint64 next = qMin<qint64>(index.lineStarts[line + 1], fileBytes.size());
    if (start >= next)
        return {};
    return fileBytes.sliced(start, contentLength(fileBytes.data(), start, next, index.encoding));
}

BookScan ScanBookBytes(QByteArrayView bytes, BookScan::Mode mode, const std::atomic_bool *cancel)
{
    BookScan scan;
    const DetectedEncoding detected = DetectTextEncoding(bytes);
    BookLineIndex &index = scan.index;
    index.encoding = detected.encoding;
    index.bomLength = detected.bomLength;
    index.fileSize = bytes.size();
    const char *data = bytes.data();
    const qint64 size = bytes.size();
    const qint64 begin = detected.bomLength;

    // Splitting at a line break is safe: no multi-byte sequence of GB18030 or UTF-8 contains a
    // line feed, and the decoders end a broken sequence the same way at a line end.
    qint64 split = size;
    if (!isUtf16(index.encoding) && size - begin >= ParallelThreshold)
        split = nextLineBreak(data, begin + (size - begin) / 2, size, index.encoding, begin);

    Chunk first;
    Chunk second;
    if (split < size) {
        QFuture<void> other =
            QtConcurrent::run([&] { scanChunk(data, split, size, index.encoding, begin, true, mode, cancel, second); });
        scanChunk(data, begin, split, index.encoding, begin, false, mode, cancel, first);
        other.waitForFinished();
    } else {
        scanChunk(data, begin, size, index.encoding, begin, false, mode, cancel, first);
    }
    if (first.cancelled || second.cancelled) {
        scan.cancelled = true;
        return scan;
    }

    const qint64 firstCount = qint64(first.starts.size());
    index.lineStarts = std::move(first.starts);
    index.lineStarts.insert(index.lineStarts.end(), second.starts.begin(), second.starts.end());
    index.lineStarts.push_back(size);
    scan.headingLines = std::move(first.headingLocal);
    for (qint64 local : second.headingLocal)
        scan.headingLines.push_back(local + firstCount);
    scan.headingTexts = std::move(first.headingTexts);
    scan.headingTexts.append(second.headingTexts);

    if (mode == BookScan::WithHeadings && index.lineCount() > 0)
        scan.firstLine = DecodeText(index.encoding, LineBytes(index, bytes, 0));
    return scan;
}

BookScan ScanBookFile(const QString &path, BookScan::Mode mode, const std::atomic_bool *cancel)
{
    BookScan scan;
    const QFileInfo info(path);
    if (!info.exists()) {
        scan.error = BookReadError::Missing;
        return scan;
    }
    // Taken before reading: a change during the read then leaves a stale stamp, so the cache
    // rebuilds rather than trusting an index of a half-written file.
    const QDateTime modified = info.lastModified();
    QFile file(info.absoluteFilePath());
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        scan.error = BookReadError::Unreadable;
        return scan;
    }
    const qint64 size = file.size();
    QByteArray loaded;
    QByteArrayView bytes;
    if (size > 0) {
        // Mapping spares a copy of the whole book; a file system that cannot map falls back
        // to reading.
        if (const uchar *mapped = file.map(0, size))
            bytes = QByteArrayView(reinterpret_cast<const char *>(mapped), size);
        else if (loaded = file.readAll(); file.error() == QFileDevice::NoError)
            bytes = loaded;
        else {
            scan.error = BookReadError::Unreadable;
            return scan;
        }
    }
    scan = ScanBookBytes(bytes, mode, cancel);
    scan.index.path = info.absoluteFilePath();
    scan.index.modified = modified;
    return scan;
}
