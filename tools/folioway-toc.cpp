// folioway-toc FILE: prints the chapter list the reader builds for a book, one entry a line:
// number, tab, range "start,end", tab, title; UTF-8. Exit status 1 when the book cannot be read.

#include "reader/Chapters.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

void writeUtf8(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        writeUtf8(stderr, QStringLiteral("用法：folioway-toc 电子书文件\n"));
        return 2;
    }
    const ChapterList chapters = GetChapter(args.at(1));
    if (!chapters.ok()) {
        writeUtf8(stderr, chapters.errorTitle + u'\n' +
                              QString(chapters.errorMessage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                              u'\n');
        return 1;
    }
    QString out;
    for (const ChapterEntry &entry : chapters.entries)
        out += entry.numberText() + u'\t' + entry.rangeText() + u'\t' + entry.title + u'\n';
    writeUtf8(stdout, out);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
