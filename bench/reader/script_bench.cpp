// 繁简转换 in the 50 MB generated novel: a chapter of a megabyte (what the page waits for), the
// whole book, the chapter list's titles, and a whole-book search for a word in both forms.
// Prints the figures, wall clock and processor time (a loaded machine stretches the first only);
// run by hand:
//   bench_reader_script [runs]

#include "GeneratedNovel.h"
#include "platform/ChineseScript.h"
#include "reader/BookSearch.h"
#include "text/Chapters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

void figure(const char *what, int runs, const std::function<void()> &work)
{
    std::vector<double> walls, cpus;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpu = cpuMs();
        work();
        cpus.push_back(cpuMs() - cpu);
        walls.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    std::printf("%-52s median %9.1f ms wall, %9.1f ms processor (%d runs)\n", what, walls[walls.size() / 2],
                cpus[cpus.size() / 2], runs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    if (!ScriptConversionAvailable()) {
        std::printf("built without OpenCC: nothing to measure\n");
        return 0;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("novel.txt"));
    const QByteArray bytes = makeNovel();
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return 1;
    out.close();
    // The generated text is Simplified; its Traditional form is what a Traditional book gives.
    const QString simplified = QStringDecoder("GB18030").decode(bytes);
    const QString traditional = ConvertScript(simplified, ScriptConversion::ToTraditional);
    std::printf("book: %.1f MB, %lld characters\n", double(bytes.size()) / 1048576, qlonglong(simplified.size()));

    const qsizetype chapterChars = 1024 * 1024 / 2; // a megabyte of GB18030 Chinese
    figure("1 MB chapter, Traditional to Simplified", runs,
           [&] { (void)ConvertScript(traditional.left(chapterChars), ScriptConversion::ToSimplified); });
    figure("1 MB chapter, Simplified to Traditional", runs,
           [&] { (void)ConvertScript(simplified.left(chapterChars), ScriptConversion::ToTraditional); });
    figure("whole 50 MB book, Traditional to Simplified", 1,
           [&] { (void)ConvertScript(traditional, ScriptConversion::ToSimplified); });

    const ChapterList list = GetChapter(path);
    QStringList titles;
    for (const ChapterEntry &e : list.entries)
        titles << e.title;
    std::printf("chapters: %lld\n", qlonglong(titles.size()));
    figure("chapter list titles, to Traditional", runs,
           [&] { (void)ConvertScriptEach(titles, ScriptConversion::ToTraditional); });

    const QString word = simplified.mid(simplified.indexOf(QStringLiteral("第五十章")) + 20, 2);
    qint64 one = 0, both = 0;
    figure("whole-book search, the word as typed", runs,
           [&] { one = FindInBook(path, list.entries, word, [](const QList<BookSearchPlace> &) {}).total; });
    const QStringList forms = ScriptVariants(word);
    figure("whole-book search, the word in both forms", runs,
           [&] { both = FindAnyInBook(path, list.entries, forms, [](const QList<BookSearchPlace> &) {}).total; });
    std::printf("\"%s\": %lld matches as typed, %lld in %lld forms\n", qPrintable(word), qlonglong(one),
                qlonglong(both), qlonglong(forms.size()));
    return 0;
}
