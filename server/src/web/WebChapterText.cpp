// The book's chapters and lines for the web reader, read by the desktop's own code: the chapter
// list its reader shows, read the way the reader chose there, and the lines as its line index
// cuts them.
#include "web/WebBooks.h"

#include "text/BookScan.h"
#include "text/BookText.h"
#include "text/Chapters.h"

#include <QIODevice>

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
    // Left in the cache by the chapter detection: no second pass over the file.
    const auto index = LineIndexFor(path, way);
    if (!index) {
        out.error = QStringLiteral("服务器无法读取这本书。");
        return out;
    }
    out.encoding = index->encoding;
    out.lineStarts = index->lineStarts;
    for (const ChapterEntry &e : list.entries)
        out.entries.append({e.title, e.firstShownLine(), e.lastShownLine()});
    return out;
}

std::optional<QByteArray> ReadWebLines(QIODevice &file, TextEncoding encoding, const std::vector<qint64> &starts)
{
    if (starts.size() < 2)
        return QByteArray();
    if (!file.seek(starts.front()))
        return std::nullopt;
    const QByteArray bytes = file.read(starts.back() - starts.front());
    if (bytes.size() != starts.back() - starts.front())
        return std::nullopt;
    QString text;
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        const QByteArrayView raw = QByteArrayView(bytes).sliced(starts[i] - starts.front(), starts[i + 1] - starts[i]);
        text += DecodeText(encoding, WithoutLineBreak(encoding, raw));
        text += u'\n';
    }
    return text.toUtf8();
}

QString WebSourceVersion()
{
    return QStringLiteral("text2");
}
