// The book's lines and chapters for the web reader. Until the desktop's chapter detection is
// shared with the server, a book is read whole as one chapter, decoded as the desktop does
// (UTF-8 when all of it is valid UTF-8, else GB18030).
#include "web/WebBooks.h"

#include <QFile>
#include <QStringDecoder>

WebSource ReadWebSource(const QString &path)
{
    WebSource out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("服务器无法读取这本书。");
        return out;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gb("GB18030");
        text = gb.decode(bytes);
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.lines = text.split(u'\n');
    if (out.lines.size() > 1 && out.lines.last().isEmpty())
        out.lines.removeLast();
    out.entries.append({QStringLiteral("正文"), out.lines.size() > 1 ? 1 : 0, out.lines.size() - 1});
    return out;
}

QString WebSourceVersion()
{
    return QStringLiteral("whole1");
}
