// The book's lines and chapters for the web reader, read by the desktop's own code: the chapter
// list its reader shows, read the way the reader chose there, and the lines as its line index
// cuts them.
#include "web/WebBooks.h"

#include "text/BookScan.h"
#include "text/BookText.h"
#include "text/Chapters.h"

#include <QFile>

QString CanonicalReading(const QString &reading)
{
    return BookReading::fromText(reading).toText();
}

WebSource ReadWebSource(const QString &path, const QString &reading)
{
    WebSource out;
    const BookReading way = BookReading::fromText(reading);
    const ChapterList list = OpenBook(path, {}, nullptr, way);
    if (!list.ok()) {
        out.error = list.errorMessage.isEmpty() ? QStringLiteral("服务器无法读取这本书。") : list.errorMessage;
        return out;
    }
    const auto index = LineIndexFor(path, way);
    QFile file(path);
    if (!index || !file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("服务器无法读取这本书。");
        return out;
    }
    const QByteArray bytes = file.readAll();
    out.lines.reserve(index->lineCount());
    for (qint64 line = 0; line < index->lineCount(); ++line) {
        const qint64 from = index->lineStarts[line];
        const qint64 to = index->lineStarts[line + 1];
        const QByteArrayView raw = QByteArrayView(bytes).sliced(from, to - from);
        out.lines.append(DecodeText(index->encoding, WithoutLineBreak(index->encoding, raw)));
    }
    for (const ChapterEntry &e : list.entries)
        out.entries.append({e.title, e.firstShownLine(), e.lastShownLine()});
    return out;
}

QString WebSourceVersion()
{
    return QStringLiteral("text1");
}
