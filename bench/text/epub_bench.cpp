// Building the EPUB of the 50 MB GB18030 novel the reader benchmarks share, against listing its
// chapters with folioway-toc (the goal: the EPUB takes at most twice as long). Prints both, in
// processor time and in wall time (the EPUB is made on several threads and synced to disk), for
// chapters stored and for chapters deflated; run by hand:
//   bench_text_epub [runs] [--stored] [--book FILE]
// (--stored: chapters stored only; --book: that book instead of the generated novel, which is
// written there first when there is no such file.)
// With --huge it instead builds the EPUB of a book that is one line of 300 MB and prints the time
// and the peak memory.

#include "text/EpubWriter.h"

#include "../reader/GeneratedNovel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include <sys/resource.h>

namespace {

// Processor time, so that the figures mean something on a shared machine.
double cpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

qint64 peakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

bool writeBook(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

EpubBook bookAt(const QString &path)
{
    EpubBook book;
    book.path = path;
    book.title = QStringLiteral("示例长篇");
    book.identifier = QStringLiteral("urn:folioway:bench"); // the shelf knows the fingerprint already
    return book;
}

int huge(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("oneline.txt"));
    {
        const QByteArray sentence = QStringLiteral("行者闻言，心中大喜，当下便纵身跳起，驾着筋斗云去了。").toUtf8();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block;
        while (block.size() < 1024 * 1024)
            block += sentence;
        for (int i = 0; i < 300; ++i)
            file.write(block);
    }
    QElapsedTimer wall;
    wall.start();
    const double cpu = cpuMs(RUSAGE_SELF);
    const EpubResult result = WriteEpub(bookAt(path), dir.filePath(QStringLiteral("oneline.epub")));
    std::printf("300 MB one-line book: %s, %d documents, %.0f ms processor, %lld ms wall, peak %lld MB, EPUB %lld MB\n",
                result.ok ? "ok" : qPrintable(result.errorMessage), result.documents, cpuMs(RUSAGE_SELF) - cpu,
                wall.elapsed(), peakMb(), QFileInfo(dir.filePath(QStringLiteral("oneline.epub"))).size() >> 20);
    return result.ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (app.arguments().contains(QStringLiteral("--huge")))
        return huge(dir);
    const int runs = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;
    const QStringList args = app.arguments();
    const qsizetype bookArg = args.indexOf(QStringLiteral("--book"));
    const QString path = bookArg > 0 && bookArg + 1 < args.size() ? args.at(bookArg + 1)
                                                                  : dir.filePath(QStringLiteral("novel.txt"));
    if (!QFileInfo::exists(path) && !writeBook(path, makeNovel()))
        return 1;
    const QString toc = QCoreApplication::applicationDirPath() + QStringLiteral("/folioway-toc");

    std::vector<double> tocMs, tocWall, epubMs, epubWall, deflatedMs, deflatedWall;
    EpubResult result;
    qint64 storedMb = 0, deflatedMb = 0;
    for (int run = 0; run < runs; ++run) {
        const double before = cpuMs(RUSAGE_CHILDREN);
        QElapsedTimer wall;
        wall.start();
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(toc, {path});
        if (!process.waitForFinished(-1) || process.exitCode() != 0) {
            std::fprintf(stderr, "folioway-toc failed (%s)\n", qPrintable(toc));
            return 1;
        }
        tocWall.push_back(wall.elapsed());
        tocMs.push_back(cpuMs(RUSAGE_CHILDREN) - before);

        for (const int level : {0, 1}) {
            if (level && args.contains(QStringLiteral("--stored")))
                continue;
            EpubBook book = bookAt(path);
            book.compressionLevel = level;
            const QString target = dir.filePath(QStringLiteral("novel%1.epub").arg(level));
            // The previous run's EPUB goes first: freeing its pages is no part of making this one.
            QFile::remove(target);
            ::sync();
            const double start = cpuMs(RUSAGE_SELF);
            wall.restart();
            result = WriteEpub(book, target);
            (level ? deflatedWall : epubWall).push_back(wall.elapsed());
            (level ? deflatedMs : epubMs).push_back(cpuMs(RUSAGE_SELF) - start);
            if (!result.ok) {
                std::fprintf(stderr, "%s\n", qPrintable(result.errorMessage));
                return 1;
            }
            (level ? deflatedMb : storedMb) = QFileInfo(target).size() >> 20;
        }
    }
    const double t = median(tocMs), tw = median(tocWall);
    std::printf("%s, %d chapters, %d documents (median of %d runs)\n",
                bookArg < 0 ? "50 MB novel" : qPrintable(QFileInfo(path).fileName()), result.chapters, result.documents,
                runs);
    std::printf("                    processor          wall\n");
    std::printf("folioway-toc:       %6.0f ms        %6.0f ms\n", t, tw);
    const auto line = [&](const char *what, const std::vector<double> &cpu, const std::vector<double> &w, qint64 mb) {
        const double e = median(cpu), ew = median(w);
        std::printf("%s %6.0f ms (%.1f x) %6.0f ms (%.1f x)  EPUB %lld MB\n", what, e, t > 0 ? e / t : 0, ew,
                    tw > 0 ? ew / tw : 0, mb);
    };
    line("EPUB, stored:     ", epubMs, epubWall, storedMb);
    if (!deflatedMs.empty())
        line("EPUB, deflated:   ", deflatedMs, deflatedWall, deflatedMb);
    // On a shared machine the other programs only ever add time: the fastest runs show the least of it.
    const auto least = [](const std::vector<double> &v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); };
    std::printf("fastest runs: folioway-toc %.0f ms / %.0f ms, EPUB stored %.0f ms (%.1f x) / %.0f ms (%.1f x)\n",
                least(tocMs), least(tocWall), least(epubMs), least(epubMs) / qMax(1.0, least(tocMs)), least(epubWall),
                least(epubWall) / qMax(1.0, least(tocWall)));
    std::printf("goal: EPUB at most 2 x folioway-toc\n");
    return 0;
}
