#include "text/BookScan.h"

#include "text/HeadingExpression.h"
#include "text/HeadingRule.h"
#include "text/SmartChapters.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <new>

namespace {

// A heading has at most 6 + 3 + 30 units, and no encoding spends more than four bytes on one
// unit, so longer lines need no decoding at all.
constexpr qsizetype MaxHeadingUnits = 39;
constexpr qsizetype MaxHeadingBytes = 4 * (MaxHeadingUnits + 1);
// The book is streamed through a small buffer that stays in the processor cache and never
// needs fresh pages: reading 50 MB into one new block costs several times the whole scan.
constexpr qsizetype ChunkSize = 256 * 1024;
// The first line's title needs at most this many bytes (see MaxFirstLineUnits).
constexpr qsizetype MaxFirstLineBytes = 4 * (MaxFirstLineUnits + 1);
// An unfinished line longer than this is not kept whole: its start, its title when it is the
// first line and its validity as UTF-8 are taken on the way, and the rest of it is passed over.
// Every other use of a line needs far fewer bytes, so this bounds the memory of the scan.
constexpr qsizetype MaxCarriedBytes = MaxFirstLineBytes + 64;
constexpr int CancelCheckInterval = 4096;
// Smart reading hands an unfinished line to the splitter once this much of it has arrived; the
// splitter leaves at most a paragraph of it, so far less than MaxCarriedBytes is ever kept.
constexpr qsizetype SmartCarriedBytes = 64 * 1024;
static_assert(SmartCarriedBytes + 4 * SmartMaxParagraph < MaxCarriedBytes);

bool isUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
}

// Offset of the next line feed in data[from, to) (a whole UTF-16 unit at an even distance
// from `from` for UTF-16), or -1.
qsizetype findLineFeed(const char *data, qsizetype from, qsizetype to, TextEncoding encoding)
{
    if (!isUtf16(encoding)) {
        const void *lf = std::memchr(data + from, '\n', size_t(to - from));
        return lf ? static_cast<const char *>(lf) - data : -1;
    }
    const bool big = encoding == TextEncoding::Utf16BE;
    for (qsizetype i = from; i + 1 < to; i += 2) {
        if (data[i + (big ? 1 : 0)] == '\n' && data[i + (big ? 0 : 1)] == 0)
            return i;
    }
    return -1;
}

// Length of the line data[start, next) without its line feed and a carriage return right
// before that; `next` is the following line's start or the end of the file.
qsizetype contentLength(const char *data, qsizetype start, qsizetype next, TextEncoding encoding)
{
    qsizetype end = next;
    if (!isUtf16(encoding)) {
        if (end > start && data[end - 1] == '\n') {
            --end;
            if (end > start && data[end - 1] == '\r')
                --end;
        }
        return end - start;
    }
    const bool big = encoding == TextEncoding::Utf16BE;
    auto unitIs = [&](qsizetype at, char c) {
        return big ? (data[at] == 0 && data[at + 1] == c) : (data[at] == c && data[at + 1] == 0);
    };
    if (end - start >= 2 && ((end - start) & 1) == 0 && unitIs(end - 2, '\n')) {
        end -= 2;
        if (end - start >= 2 && unitIs(end - 2, '\r'))
            end -= 2;
    }
    return end - start;
}

// The first line as far as its title needs it.
QString firstLineTitle(TextEncoding encoding, QByteArrayView line)
{
    const QByteArrayView head = line.first(qMin(line.size(), MaxFirstLineBytes));
    QString text(qMin(head.size(), MaxFirstLineUnits + 1) + 1, Qt::Uninitialized);
    text.truncate(DecodeTextInto(encoding, head, reinterpret_cast<char16_t *>(text.data()), MaxFirstLineUnits));
    return text;
}

// How many of the last bytes of a piece of a line stay for the next read: whole UTF-16 units
// from an even distance; for UTF-8 that is being checked, the bytes from the last one that is
// not a continuation byte, as its sequence may go on in the next read; one byte otherwise. Never
// none, so an unfinished line always has bytes left when the file ends.
qsizetype keptTail(QByteArrayView piece, TextEncoding encoding, bool checkUtf8)
{
    if (isUtf16(encoding))
        return 2 + (piece.size() & 1);
    if (checkUtf8) {
        for (qsizetype k = 1; k <= 4 && k <= piece.size(); ++k) {
            if ((uchar(piece[piece.size() - k]) & 0xC0) != 0x80)
                return k;
        }
    }
    return 1;
}

class Scanner
{
public:
    Scanner(QIODevice &device, BookScan::Mode mode, const std::atomic_bool *cancel, const BookReading &reading,
            qint64 expectedLines = 0)
        : m_device(device), m_mode(mode), m_cancel(cancel), m_reading(reading), m_expectedLines(expectedLines)
    {
        // A rule that no longer compiles leaves the built-in one in force.
        if (!reading.rule.isEmpty())
            m_rule = HeadingExpression::compile(reading.rule);
    }

    // A rule of the reader's own that runs out of steps leaves its message and no heading; the
    // pass then stops.
    bool isHeading(QStringView line, qint64 lineNo)
    {
        if (!m_rule)
            return IsChapterHeading(line);
        const HeadingExpression::Match match = m_rule->match(line, m_budget);
        if (match == HeadingExpression::Match::TooSlow && m_ruleStopped.isEmpty())
            m_ruleStopped = m_rule->tooSlowMessage(lineNo + 1);
        return match == HeadingExpression::Match::Yes;
    }

    // Without a byte-order mark the encoding is UTF-8 only if the whole file is valid UTF-8;
    // the scan assumes it, checks every line on the way, and starts over as GB18030 at the
    // first invalid byte (for a GB18030 book that is almost always within the first lines).
    bool run(BookScan &scan)
    {
        char head[3] = {};
        const qint64 headLength = m_device.read(head, 3);
        if (headLength < 0 || !m_device.seek(0))
            return false;
        const DetectedEncoding byMark = DetectByteOrderMark(QByteArrayView(head, headLength));
        bool speculative = byMark.bomLength == 0;
        DetectedEncoding detected = speculative ? DetectedEncoding{TextEncoding::Utf8, 0} : byMark;
        if (m_reading.encoding) {
            // A chosen UTF-16 takes its byte order from a mark; a mark of the chosen encoding is skipped.
            TextEncoding chosen = *m_reading.encoding;
            if (isUtf16(chosen) && isUtf16(byMark.encoding))
                chosen = byMark.encoding;
            detected = {chosen, byMark.encoding == chosen ? byMark.bomLength : 0};
            speculative = false;
        }
        for (;;) {
            scan = BookScan();
            m_budget = {};
            m_ruleStopped.clear();
            // The plain reading runs a pass with no trace of smart reading in its loop.
            const Outcome outcome = m_reading.smart ? pass<true>(scan, detected, speculative)
                                                    : pass<false>(scan, detected, speculative);
            if (outcome == Outcome::Done)
                return true;
            if (outcome == Outcome::Failed)
                return false;
            if (outcome == Outcome::Cancelled) {
                scan.cancelled = true;
                return true;
            }
            if (outcome == Outcome::TooManyHeadings) {
                scan.tooManyHeadings = true;
                return true;
            }
            if (outcome == Outcome::RuleTooSlow) {
                scan.ruleStopped = m_ruleStopped;
                return true;
            }
            detected = {TextEncoding::Gb18030, 0};
            speculative = false;
            if (!m_device.seek(0))
                return false;
        }
    }

private:
    enum class Outcome
    {
        Done,
        NotUtf8,
        Failed,
        Cancelled,
        TooManyHeadings,
        RuleTooSlow
    };

    // False once the book has more headings than its chapters may have.
    bool addHeading(BookScan &scan, qint64 lineNo, QString text)
    {
        if (qsizetype(scan.headingLines.size()) >= MaxChapters - 1) {
            m_tooManyHeadings = true;
            return false;
        }
        scan.headingLines.push_back(lineNo);
        scan.headingTexts.append(std::move(text));
        return true;
    }

    template <bool Smart>
    Outcome pass(BookScan &scan, DetectedEncoding detected, bool checkUtf8)
    {
        BookLineIndex &index = scan.index;
        index.encoding = detected.encoding;
        index.bomLength = detected.bomLength;
        try {
            index.lineStarts.reserve(size_t(m_expectedLines));
        } catch (const std::bad_alloc &) { // only room asked for ahead: the index grows as it goes
        }
        const TextEncoding encoding = detected.encoding;
        QByteArray buffer(ChunkSize, Qt::Uninitialized);
        qint64 base = 0; // file offset of buffer[0]
        qsizetype filled = 0;
        qsizetype lineStart = 0;     // in the buffer: start of what is kept of the unfinished line
        qint64 passedLineStart = -1; // file offset of the unfinished line once its start is passed over
        qint64 lineNo = 0;
        bool atEnd = false;
        bool splitting = false; // smart reading: the unfinished line is being split
        m_unitsIntoLine = 0;
        m_tooManyHeadings = false;
        char16_t units[MaxHeadingUnits + 2];

        if (detected.bomLength > 0) {
            if (m_device.skip(detected.bomLength) != detected.bomLength)
                return Outcome::Failed;
            base = detected.bomLength;
        }
        while (!atEnd) {
            // Keep the unfinished line, make room and read on.
            if (lineStart > 0) {
                std::memmove(buffer.data(), buffer.constData() + lineStart, size_t(filled - lineStart));
                base += lineStart;
                filled -= lineStart;
                lineStart = 0;
            }
            if (buffer.size() - filled < ChunkSize)
                buffer.resize(filled + ChunkSize);
            const qint64 got = m_device.read(buffer.data() + filled, ChunkSize);
            if (got < 0)
                return Outcome::Failed;
            atEnd = got == 0;
            const qsizetype scanFrom = filled;
            filled += got;
            if (filled == 0)
                break;

            const char *data = buffer.constData();
            // Where to look for the next line feed: after what earlier reads already searched,
            // but UTF-16 keeps unit alignment from the line start.
            qsizetype searchFrom = scanFrom;
            if (isUtf16(encoding) && ((searchFrom - lineStart) & 1))
                --searchFrom;
            for (;;) {
                const qsizetype lf = findLineFeed(data, searchFrom, filled, encoding);
                qsizetype next;
                if (lf >= 0)
                    next = lf + (isUtf16(encoding) ? 2 : 1);
                else if (atEnd && lineStart < filled)
                    next = filled; // the last line, without a line break
                else
                    break;
                if (m_cancel && (lineNo % CancelCheckInterval) == 0 && m_cancel->load(std::memory_order_relaxed))
                    return Outcome::Cancelled;
                if (checkUtf8 && !IsValidUtf8(QByteArrayView(data + lineStart, next - lineStart)))
                    return Outcome::NotUtf8;
                if constexpr (Smart) {
                    if (splitting || next - lineStart > SmartLongLineBytes) {
                        split(scan, data, base, lineStart, next, true, lineNo);
                        if (m_tooManyHeadings)
                            return Outcome::TooManyHeadings;
                        if (!m_ruleStopped.isEmpty())
                            return Outcome::RuleTooSlow;
                        splitting = false;
                        lineStart = next;
                        searchFrom = next;
                        if (lf < 0)
                            break;
                        continue;
                    }
                }
                // A line passed over is far too long for a heading, and its title was taken.
                const bool passed = passedLineStart >= 0;
                index.lineStarts.push_back(passed ? passedLineStart : base + lineStart);
                passedLineStart = -1;
                if (m_mode == BookScan::WithHeadings && !passed) {
                    const qsizetype length = contentLength(data, lineStart, next, encoding);
                    const QByteArrayView content(data + lineStart, length);
                    if (lineNo == 0) {
                        scan.firstLine = firstLineTitle(encoding, content);
                    } else if (length <= MaxHeadingBytes) {
                        qsizetype consumed = 0;
                        const qsizetype count =
                            DecodeTextInto(encoding, content, units, MaxHeadingUnits + 1, &consumed);
                        if (consumed == length && count <= MaxHeadingUnits &&
                            isHeading(QStringView(units, count), lineNo) &&
                            !addHeading(scan, lineNo, QString(reinterpret_cast<const QChar *>(units), count)))
                            return Outcome::TooManyHeadings;
                        if (!m_ruleStopped.isEmpty())
                            return Outcome::RuleTooSlow;
                    }
                }
                ++lineNo;
                lineStart = next;
                searchFrom = next;
                if (lf < 0)
                    break;
            }
            // Smart reading splits an unfinished long line as it arrives and keeps its last paragraph.
            if constexpr (Smart) {
                if (filled - lineStart > SmartCarriedBytes) {
                    if (m_cancel && m_cancel->load(std::memory_order_relaxed))
                        return Outcome::Cancelled;
                    const qsizetype cut =
                        filled - keptTail(QByteArrayView(data + lineStart, filled - lineStart), encoding, checkUtf8);
                    if (checkUtf8 && !IsValidUtf8(QByteArrayView(data + lineStart, cut - lineStart)))
                        return Outcome::NotUtf8;
                    lineStart = split(scan, data, base, lineStart, cut, false, lineNo);
                    if (m_tooManyHeadings)
                        return Outcome::TooManyHeadings;
                    if (!m_ruleStopped.isEmpty())
                        return Outcome::RuleTooSlow;
                    splitting = true;
                }
            }
            // An unfinished line too long to keep: note where it starts and its title, check what
            // arrived of it, and keep only the last few bytes, which the next read may need.
            if (filled - lineStart > MaxCarriedBytes) {
                const QByteArrayView arrived(data + lineStart, filled - lineStart);
                if (passedLineStart < 0) {
                    passedLineStart = base + lineStart;
                    if (m_mode == BookScan::WithHeadings && lineNo == 0)
                        scan.firstLine = firstLineTitle(encoding, arrived);
                }
                const qsizetype cut = filled - keptTail(arrived, encoding, checkUtf8);
                if (checkUtf8 && !IsValidUtf8(QByteArrayView(data + lineStart, cut - lineStart)))
                    return Outcome::NotUtf8;
                lineStart = cut;
            }
        }
        index.fileSize = base + filled;
        index.lineStarts.push_back(index.fileSize);
        return Outcome::Done;
    }

    // Splits data[from, to) of a long line into lines (SplitLongLine) and records them; `final`
    // when `to` is the line's end, line break included. Returns where the unfinished last piece
    // starts, which stays for the next read (`to` when final).
    qsizetype split(BookScan &scan, const char *data, qint64 base, qsizetype from, qsizetype to, bool final,
                    qint64 &lineNo)
    {
        const TextEncoding encoding = scan.index.encoding;
        const qsizetype end = final ? from + contentLength(data, from, to, encoding) : to;
        m_text.resize(size_t(end - from) + 1);
        m_scratch.resize(m_text.size());
        const qsizetype count = DecodeTextInto(encoding, QByteArrayView(data + from, end - from), m_text.data());
        const QStringView text(m_text.data(), count);
        const LineSplit pieces = SplitLongLine(text, m_unitsIntoLine, final);
        qsizetype byteAt = from;
        qsizetype unitAt = 0;
        auto record = [&](qsizetype unitEnd) {
            scan.index.lineStarts.push_back(base + byteAt);
            const QStringView line = text.sliced(unitAt, unitEnd - unitAt);
            if (m_mode == BookScan::WithHeadings) {
                if (lineNo == 0) {
                    scan.firstLine = line.first(qMin(line.size(), MaxFirstLineUnits)).toString();
                } else if (!m_tooManyHeadings && m_ruleStopped.isEmpty() && line.size() <= MaxHeadingUnits &&
                           isHeading(line, lineNo)) {
                    addHeading(scan, lineNo, line.toString());
                }
            }
            ++lineNo;
        };
        for (qsizetype cut : pieces.cuts) {
            // The cut is a character boundary, so decoding up to it ends exactly there.
            qsizetype consumed = 0;
            DecodeTextInto(encoding, QByteArrayView(data + byteAt, end - byteAt), m_scratch.data(), cut - unitAt,
                           &consumed);
            record(cut);
            byteAt += consumed;
            unitAt = cut;
        }
        if (final) {
            record(count);
            m_unitsIntoLine = 0;
            return to;
        }
        m_unitsIntoLine += unitAt;
        return byteAt;
    }

    QIODevice &m_device;
    BookScan::Mode m_mode;
    const std::atomic_bool *m_cancel;
    BookReading m_reading;
    qint64 m_expectedLines;
    std::shared_ptr<const HeadingExpression> m_rule;
    HeadingExpression::Budget m_budget;
    QString m_ruleStopped; // the message of a rule that ran out of steps
    qsizetype m_unitsIntoLine = 0; // of the line being split, the units already recorded
    bool m_tooManyHeadings = false;
    std::vector<char16_t> m_text;
    std::vector<char16_t> m_scratch;
};

BookScan scanDevice(QIODevice &device, BookScan::Mode mode, const std::atomic_bool *cancel,
                    const BookReading &reading, qint64 expectedLines = 0)
{
    BookScan scan;
    try {
        if (!Scanner(device, mode, cancel, reading, expectedLines).run(scan))
            scan.error = BookReadError::Unreadable;
    } catch (const std::bad_alloc &) {
        scan = BookScan();
        scan.error = BookReadError::OutOfMemory;
    }
    scan.index.reading = reading;
    return scan;
}

} // namespace

QByteArrayView WithoutLineBreak(TextEncoding encoding, QByteArrayView line)
{
    return line.first(contentLength(line.data(), 0, line.size(), encoding));
}

BookScan ScanBookBytes(const QByteArray &bytes, BookScan::Mode mode, const std::atomic_bool *cancel,
                       const BookReading &reading)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return scanDevice(buffer, mode, cancel, reading);
}

BookScan ScanBookDevice(QIODevice &device, BookScan::Mode mode, const std::atomic_bool *cancel,
                        const BookReading &reading, qint64 expectedLines)
{
    return scanDevice(device, mode, cancel, reading, expectedLines);
}

BookScan ScanBookFile(const QString &path, BookScan::Mode mode, const std::atomic_bool *cancel,
                      const BookReading &reading)
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
    if (info.isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        scan.error = BookReadError::Unreadable;
        return scan;
    }
    scan = scanDevice(file, mode, cancel, reading);
    scan.index.path = info.absoluteFilePath();
    scan.index.modified = modified;
    return scan;
}
