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
    const QString usage = QStringLiteral(
        "用法 / usage: folioway-toc 电子书文件 / BOOK\n"
        "  列出阅读页为这本书找到的章节，每行一章：序号、行范围、标题（UTF-8）。\n"
        "  Prints the chapters the reader finds in BOOK, one a line: number, line range, title (UTF-8).\n"
        "  --version   显示版本 / print the version\n"
        "  --help      显示本帮助 / print this help\n");
    if (args.contains(QStringLiteral("--help"))) {
        writeUtf8(stdout, usage);
        return 0;
    }
    if (args.contains(QStringLiteral("--version"))) {
        writeUtf8(stdout, QStringLiteral("folioway-toc " FOLIOWAY_VERSION "\n"));
        return 0;
    }
    if (args.size() != 2) {
        writeUtf8(stderr, usage);
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
