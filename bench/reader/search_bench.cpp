// Whole-book search in the 50 MB generated novel, and what keeping the reading position costs.
// Prints the figures; run by hand:
//   bench_reader_search [runs]

#include "GeneratedNovel.h"
#include "library/LibraryDb.h"
#include "reader/BookSearch.h"
#include "reader/Chapters.h"
#include "reader/ReadingPositionKeeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void searchFigures(const QString &path, const QList<ChapterEntry> &entries, const QString &word, int runs)
{
    std::vector<double> times;
    BookSearchOutcome outcome;
    qsizetype described = 0;
    for (int i = 0; i < runs; ++i) {
        described = 0;
        QElapsedTimer t;
        t.start();
        outcome = SearchBook(path, entries, word, BookSearcher::MaxListed,
                             [&](const QList<BookSearchHit> &hits) { described += hits.size(); });
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("search \"%s\": %lld matches (%lld described), median %.1f ms, min %.1f ms, max %.1f ms over %d runs\n",
                qPrintable(word), outcome.total, qint64(described), median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()), runs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 11;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("novel.txt"));
    {
        const QByteArray book = makeNovel();
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(book) != book.size())
            return 1;
        std::printf("book: %.1f MB\n", book.size() / 1048576.0);
    }
    // As in the reader: the book has been opened, so its line index is cached.
    const ChapterList list = GetChapter(path);
    std::printf("%lld chapters\n", qint64(list.entries.size()));
    searchFigures(path, list.entries, QStringLiteral("风起"), runs); // in every heading
    searchFigures(path, list.entries, QStringLiteral("的人"), runs); // where the random text has it
    searchFigures(path, list.entries, QStringLiteral("无此"), runs);

    // Keeping the position: one write of the table (WAL, as the program opens it).
    LibraryDb db;
    if (!db.open(dir.filePath(QStringLiteral("DataFile/Data.db"))))
        return 1;
    std::vector<double> writes;
    for (int i = 0; i < 200; ++i) {
        const ReadingPosition p = PositionInBook(path, list.entries, 1 + i % 50, 0.01 * (i % 100), 0.5);
        QElapsedTimer t;
        t.start();
        db.saveReadingPosition(p);
        writes.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("position save: median %.3f ms, max %.3f ms over 200 writes (at most one per %d ms while reading)\n",
                median(writes), *std::max_element(writes.begin(), writes.end()),
                ReadingPositionKeeper::SaveIntervalMs);
    return 0;
}
