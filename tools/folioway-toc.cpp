// folioway-toc [--smart] [--encoding NAME] [--rule EXPR] FILE: prints the chapter list the reader
// builds for a book, one entry a line: number, tab, range "start,end", tab, title; UTF-8. Exit
// status 1 when the book cannot be read, 2 for a wrong command line, a refused expression or one
// that ran out of matching steps ("规则匹配太慢，已停止").

#include "text/Chapters.h"
#include "text/HeadingExpression.h"

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
        "用法 / usage: folioway-toc [--smart] [--encoding 编码] [--rule 表达式] 电子书文件 / BOOK\n"
        "  列出阅读页为这本书找到的章节，每行一章：序号、行范围、标题（UTF-8）。\n"
        "  Prints the chapters the reader finds in BOOK, one a line: number, line range, title (UTF-8).\n"
        "  --smart            智能分章 / split long lines and sift the headings, as the reader's smart mode\n"
        "  --encoding 编码    以该编码读取 / read as GB18030, UTF-8, UTF-16, UTF-16BE or Big5\n"
        "  --rule 表达式      用自己的章节规则（ECMAScript 正则表达式，不分大小写）找章节标题 /\n"
        "                     find headings with this ECMAScript expression (ignore-case), not the built-in rule\n"
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
    BookReading reading;
    QString path;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--smart") {
            reading.smart = true;
        } else if (arg == u"--encoding" && i + 1 < args.size()) {
            reading.encoding = EncodingFromName(args.at(++i));
            if (!reading.encoding) {
                writeUtf8(stderr, QStringLiteral("未知的编码 / unknown encoding: ") + args.at(i) + u'\n');
                return 2;
            }
        } else if (arg == u"--rule" && i + 1 < args.size()) {
            QString error;
            if (!HeadingExpression::compile(args.at(++i), &error)) {
                writeUtf8(stderr, error + u'\n');
                return 2;
            }
            reading.rule = args.at(i);
        } else if (path.isEmpty() && !arg.startsWith(u"--")) {
            path = arg;
        } else {
            writeUtf8(stderr, usage);
            return 2;
        }
    }
    if (path.isEmpty()) {
        writeUtf8(stderr, usage);
        return 2;
    }
    const ChapterList chapters = GetChapter(path, {}, nullptr, reading);
    if (!chapters.ok()) {
        writeUtf8(stderr, chapters.errorTitle + u'\n' +
                              QString(chapters.errorMessage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                              u'\n');
        return chapters.error == BookOpenError::RuleTooSlow ? 2 : 1;
    }
    // Written a piece at a time: the whole list as one text would cost more than the list itself.
    QString out;
    for (const ChapterEntry &entry : chapters.entries) {
        out += entry.numberText() + u'\t' + entry.rangeText() + u'\t' + entry.title + u'\n';
        if (out.size() >= 64 * 1024) {
            writeUtf8(stdout, out);
            out.resize(0);
        }
    }
    writeUtf8(stdout, out);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
