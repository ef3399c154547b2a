#include "text/Chapters.h"

#include "text/BookFileCheck.h"
#include "text/BookLineIndex.h"
#include "text/BookScan.h"
#include "text/HeadingRule.h"
#include "text/SmartChapters.h"

#include <QFile>

#include <algorithm>
#include <new>

namespace {

// A chapter is read from the file this many bytes at a time, in whole lines.
constexpr qint64 ReadPieceBytes = 1024 * 1024;

const QString &bodyTitle()
{
    static const QString title = QStringLiteral("正文");
    return title;
}

// Titles lose leading and trailing U+0020 only; tabs and ideographic spaces stay.
QString trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString firstEntryTitle(QStringView firstLine)
{
    // The scan decodes no more of the first line than this; a line decoded whole is cut the same
    // way, never between the halves of a surrogate pair.
    if (firstLine.size() > MaxFirstLineUnits) {
        const bool splitsPair =
            firstLine[MaxFirstLineUnits - 1].isHighSurrogate() && firstLine[MaxFirstLineUnits].isLowSurrogate();
        firstLine.truncate(MaxFirstLineUnits - (splitsPair ? 1 : 0));
    }
    QString name = trimSpaces(firstLine);
    name.remove(u'\r');
    return name.isEmpty() ? bodyTitle() : trimSpaces(name);
}

// Numbering exactly as the chapter list has always done it; see ChapterEntry for what the
// ranges mean to the display.
// The heading texts are taken over, so each title is the scan's own string and the list of
// a heading-heavy book is never held twice.
QList<ChapterEntry> buildEntries(QStringView firstLine, qint64 lineCount, const std::vector<qint64> &headings,
                                 QStringList headingTexts)
{
    QList<ChapterEntry> entries;
    entries.reserve(qsizetype(headings.size()) + 1);
    entries.append({1, 0, 0, firstEntryTitle(firstLine)});
    qint64 start = 0;
    for (size_t i = 0; i < headings.size(); ++i) {
        const qint64 line = headings[i];
        entries.last().rangeStart = start;
        entries.last().rangeEnd = line - 1;
        start = line - 1;
        QString &text = headingTexts[qsizetype(i)];
        if (text.startsWith(u' ') || text.endsWith(u' '))
            text = trimSpaces(text);
        entries.append({int(entries.size()) + 1, start, start, std::move(text)});
    }
    entries.last().rangeStart = start;
    entries.last().rangeEnd = qMax<qint64>(0, lineCount - 1);
    return entries;
}

ChapterList failed(ChapterList list, BookOpenError error, const QString &message)
{
    list.error = error;
    list.errorTitle = BookOpenFailedTitle();
    list.errorMessage = message;
    return list;
}

} // namespace

QString ChapterEntry::rangeText() const
{
    return QString::number(rangeStart) + u',' + QString::number(rangeEnd);
}

QString UnreadableBookMessage(const QString &path)
{
    return QStringLiteral("无法读取以下文件，请检查文件是否被其他程序占用或没有读取权限：\r\n") + path;
}

QString BookTooLargeMessage(const QString &path)
{
    return QStringLiteral("文件的行数太多，内存不足，无法打开以下文件：\r\n") + path;
}

QString TooManyChaptersMessage(const QString &path)
{
    return QStringLiteral("文件中的章节标题超过 %1 个，太多了，无法打开以下文件：\r\n%2\r\n"
                          "正常的小说不会有这么多章节，请检查文件内容是否正确。")
        .arg(MaxChapters)
        .arg(path);
}

QString ChapterTooLargeMessage(qint64 chapterBytes)
{
    return QStringLiteral("本章内容有 %1 MB，太大了，无法显示。\r\n"
                          "这通常是因为文件中没有可以识别的章节标题，请检查文件内容是否正确。")
        .arg((chapterBytes + 1024 * 1024 - 1) / (1024 * 1024));
}

QList<ChapterEntry> ChaptersFromLines(const QStringList &lines)
{
    std::vector<qint64> headings;
    QStringList texts;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (IsChapterHeading(lines.at(i))) {
            headings.push_back(i);
            texts.append(lines.at(i));
        }
    }
    return buildEntries(lines.isEmpty() ? QStringView() : QStringView(lines.first()), lines.size(), headings,
                        std::move(texts));
}

qsizetype SelectChapter(const QList<ChapterEntry> &entries, const QString &bookmarkTitle)
{
    if (bookmarkTitle.isEmpty())
        return 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).title == bookmarkTitle)
            return i;
    }
    return 0;
}

ChapterList GetChapter(const QString &path, const QString &bookmarkTitle, const std::atomic_bool *cancel,
                       const BookReading &reading, int scanParts)
{
    ChapterList result;
    result.path = path;
    result.reading = reading;
    BookScan scan = scanParts > 1 ? ScanBookFileInParts(path, BookScan::WithHeadings, scanParts, cancel, reading)
                                  : ScanBookFile(path, BookScan::WithHeadings, cancel, reading);
    switch (scan.error) {
    case BookReadError::None:
        break;
    case BookReadError::Missing:
        return failed(std::move(result), BookOpenError::Missing, MissingBookMessage(path));
    case BookReadError::Unreadable:
        return failed(std::move(result), BookOpenError::Unreadable, UnreadableBookMessage(path));
    case BookReadError::OutOfMemory:
        return failed(std::move(result), BookOpenError::TooLarge, BookTooLargeMessage(path));
    }
    if (scan.cancelled)
        return result;
    if (scan.tooManyHeadings)
        return failed(std::move(result), BookOpenError::TooManyChapters, TooManyChaptersMessage(path));
    if (!scan.ruleStopped.isEmpty())
        return failed(std::move(result), BookOpenError::RuleTooSlow, scan.ruleStopped);
    result.encoding = scan.index.encoding;
    result.lineCount = scan.index.lineCount();
    if (reading.smart)
        DropFalseHeadings(scan.headingLines, scan.headingTexts);
    result.entries = buildEntries(scan.firstLine, result.lineCount, scan.headingLines, std::move(scan.headingTexts));
    result.selected = SelectChapter(result.entries, bookmarkTitle);
    if (!reading.smart && result.entries.size() == 1) {
        const std::vector<qint64> &starts = scan.index.lineStarts;
        for (size_t i = 1; i < starts.size() && !result.smartWouldHelp; ++i)
            result.smartWouldHelp = starts[i] - starts[i - 1] > SmartLongLineBytes;
    }
    BookLineIndexCache::instance().insert(std::make_shared<const BookLineIndex>(std::move(scan.index)));
    return result;
}

ChapterList OpenBook(const QString &path, const QString &bookmarkTitle, const std::atomic_bool *cancel,
                     const BookReading &reading)
{
    if (const BookFileProblem problem = CheckBookFile(path); problem != BookFileProblem::None) {
        ChapterList refused;
        refused.path = path;
        refused.reading = reading;
        refused.error = BookOpenError::NotABook;
        refused.errorTitle = BookOpenFailedTitle();
        refused.errorMessage = BookFileProblemMessage(problem, path);
        return refused;
    }
    return GetChapter(path, bookmarkTitle, cancel, reading);
}

ChapterText ReadChapterText(const QString &path, qint64 firstLine, qint64 lastLine, qint64 maxBytes,
                            const BookReading &reading)
{
    const std::shared_ptr<const BookLineIndex> index = LineIndexFor(path, reading);
    if (!index)
        return {};
    const qint64 first = qMax<qint64>(firstLine, 0);
    const qint64 last = qMin(lastLine, index->lineCount() - 1);
    if (first > last)
        return {};
    const std::vector<qint64> &starts = index->lineStarts;
    const qint64 bytes = starts[size_t(last + 1)] - starts[size_t(first)];
    if (bytes > maxBytes)
        return {{}, bytes};

    QFile file(index->path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(starts[size_t(first)]))
        return {};
    static constexpr char16_t Break[] = u"<br>";
    constexpr qsizetype BreakLength = 4;
    ChapterText text;
    try {
        // No encoding yields more units than bytes.
        text.fragment = QString(qsizetype(bytes + (last - first + 1) * BreakLength), Qt::Uninitialized);
        auto *out = reinterpret_cast<char16_t *>(text.fragment.data());
        qsizetype written = 0;
        // The chapter is read a piece of whole lines at a time (one line when a line is longer).
        QByteArray piece;
        for (qint64 line = first; line <= last;) {
            const qint64 pieceStart = starts[size_t(line)];
            const auto fits =
                std::upper_bound(starts.begin() + line + 1, starts.begin() + last + 2, pieceStart + ReadPieceBytes);
            const qint64 end = qMax(line + 1, qint64(fits - starts.begin()) - 1);
            piece.resize(qsizetype(starts[size_t(end)] - pieceStart));
            if (file.read(piece.data(), piece.size()) != piece.size())
                return {}; // the file shrank after the index was taken; the next call rebuilds it
            for (; line < end; ++line) {
                const QByteArrayView raw =
                    QByteArrayView(piece).sliced(qsizetype(starts[size_t(line)] - pieceStart),
                                                 qsizetype(starts[size_t(line + 1)] - starts[size_t(line)]));
                written += DecodeTextInto(index->encoding, WithoutLineBreak(index->encoding, raw), out + written);
                std::copy(Break, Break + BreakLength, out + written);
                written += BreakLength;
            }
        }
        text.fragment.truncate(written);
    } catch (const std::bad_alloc &) {
        return {{}, bytes};
    }
    return text;
}

QString ReadSplitContent(const QString &path, qint64 firstLine, qint64 lastLine)
{
    return ReadChapterText(path, firstLine, lastLine).fragment;
}

QString ChapterFragment(const QString &path, const ChapterEntry &entry, const BookReading &reading)
{
    return ReadChapterText(path, entry.firstShownLine(), entry.lastShownLine(), MaxChapterBytes, reading).fragment;
}
