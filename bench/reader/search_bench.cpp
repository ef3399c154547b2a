// Whole-book search in the 50 MB generated novel (and its list, fed as in the reading pane), and what keeping the reading position costs.
// Prints the figures; run by hand:
//   bench_reader_search [runs]

#include "GeneratedNovel.h"
#include "library/LibraryDb.h"
#include "reader/BookSearch.h"
#include "reader/BookSearchModel.h"
#include "reader/ReadingPositionKeeper.h"
#include "text/Chapters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

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
    std::vector<double> firsts;
    BookSearchOutcome outcome;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        double first = -1;
        outcome = FindInBook(path, entries, word, [&](const QList<BookSearchPlace> &) {
            if (first < 0)
                first = t.nsecsElapsed() / 1e6;
        });
        times.push_back(t.nsecsElapsed() / 1e6);
        firsts.push_back(first);
    }
    std::printf("search \"%s\": %lld matches, first places after %s ms, all after median %.1f ms "
                "(min %.1f, max %.1f) over %d runs\n",
                qPrintable(word), outcome.total,
                outcome.total > 0 ? qPrintable(QString::number(median(firsts), 'f', 1)) : "-", median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()), runs);
}

// As the reading pane runs it: the searcher's worker thread feeds the list's model on this
// thread. Prints when the first rows are there, when the search is done, and the longest time
// this thread was kept from its events meanwhile (what a user would feel as a freeze).
void listFigures(const QString &path, const QList<ChapterEntry> &entries, const QString &word)
{
    BookSearcher searcher;
    BookSearchModel model;
    model.setBook(path, entries);
    model.restart(word);
    QElapsedTimer t;
    double firstRows = -1;
    double longestBusy = 0;
    qint64 lastTick = 0;
    QEventLoop loop;
    QObject::connect(&searcher, &BookSearcher::placesFound, &model,
                     [&](quint64, const QList<BookSearchPlace> &places) { model.addPlaces(places); });
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model, [&] {
        if (firstRows < 0) {
            firstRows = t.nsecsElapsed() / 1e6;
            // What a view shows on its first screen.
            for (int row = 0; row < std::min(40, model.rowCount()); ++row)
                (void)model.index(row, BookSearchModel::ColSnippet).data();
        }
    });
    QObject::connect(&searcher, &BookSearcher::finished, &loop, &QEventLoop::quit);
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        const qint64 now = t.nsecsElapsed();
        longestBusy = std::max(longestBusy, (now - lastTick) / 1e6);
        lastTick = now;
    });
    t.start();
    ticker.start();
    searcher.search(path, entries, word);
    loop.exec();
    const double done = t.nsecsElapsed() / 1e6;
    while (model.canFetchMore({}))
        model.fetchMore({});
    QElapsedTimer last;
    last.start();
    const QString lastSnippet = model.index(model.rowCount() - 1, BookSearchModel::ColSnippet).data().toString();
    std::printf("list \"%s\": first rows after %.1f ms, all %lld places after %.1f ms, this thread busy at most "
                "%.1f ms at a time; the last row described in %.3f ms (%s)\n",
                qPrintable(word), firstRows, qint64(model.placeCount()), done, longestBusy, last.nsecsElapsed() / 1e6,
                lastSnippet.isEmpty() ? "empty!" : "ok");
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
    searchFigures(path, list.entries, QStringLiteral("。"), runs); // ends every line: some 356,000
    listFigures(path, list.entries, QStringLiteral("。"));
    listFigures(path, list.entries, QStringLiteral("风起"));

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
