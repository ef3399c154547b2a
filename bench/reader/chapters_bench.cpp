// Opening and paging a 50 MB GB18030 novel (about 4,000 chapters, 360,000 lines) generated in a
// temporary folder. Prints the figures; run by hand:
//   bench_reader_chapters [runs]
// With --huge-lines it instead opens books that are one line of 300 MB and of 1 GiB (the latter
// within 1 GiB of address space) and prints the peak memory of each. With --headings it opens
// books of six million short lines, every line or every 31st a "第N章" heading and the rest
// prose, and prints the peak memory of each (the first has more headings than a book may have chapters).

#include "reader/ChapterLoader.h"
#include "text/BookLineIndex.h"
#include "text/Chapters.h"

#include "GeneratedNovel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

namespace {

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The machine is shared, so wall time alone says little; the scan runs on the calling thread,
// whose processor time is the load-independent figure.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int measureMemory(const QString &path)
{
    const qint64 before = peakKb();
    const ChapterList list = GetChapter(path);
    const qint64 after = peakKb();
    std::printf("%lld %lld %lld\n", before, after, qint64(list.entries.size()));
    return 0;
}

// Peak memory of chapter detection on a book that is a single line of `size` bytes, in a fresh
// process limited to `addressSpace` bytes when that is not 0.
void hugeLine(qint64 size, qint64 addressSpace)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one-line.txt"));
    QFile out(path);
    const QByteArray block = QStringLiteral("中文字").toUtf8().repeated(1 << 16);
    if (!out.open(QIODevice::WriteOnly))
        return;
    for (qint64 left = size; left > 0; left -= block.size())
        out.write(block.constData(), qMin<qint64>(left, block.size()));
    out.close();

    QProcess child;
    if (addressSpace > 0) {
        child.setChildProcessModifier([addressSpace] {
            const rlimit limit{rlim_t(addressSpace), rlim_t(addressSpace)};
            setrlimit(RLIMIT_AS, &limit);
        });
    }
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), path});
    child.waitForFinished(600000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    const QString limit =
        addressSpace > 0 ? QStringLiteral(" within %1 MB of address space").arg(addressSpace >> 20) : QString();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || figures.size() != 3) {
        std::printf("one line of %lld MB%s: failed (%s)\n", size >> 20, qPrintable(limit),
                    child.readAllStandardError().constData());
        return;
    }
    std::printf("one line of %lld MB%s: peak memory %.1f MB, growth %.1f MB, %lld entry\n", size >> 20,
                qPrintable(limit), figures.at(1).toLongLong() / 1024.0,
                (figures.at(1).toLongLong() - figures.at(0).toLongLong()) / 1024.0, figures.at(2).toLongLong());
}

// Peak memory of chapter detection on a book of `lines` short lines, every `every`th a heading.
void headingBook(qint64 lines, int every)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("headings.txt"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return;
    QByteArray block;
    for (qint64 i = 1; i <= lines; ++i) {
        block += i % every == 0 ? QStringLiteral("第%1章\n").arg(i).toUtf8() : QByteArray("他走了。\n");
        if (block.size() > (1 << 20) || i == lines) {
            out.write(block);
            block.clear();
        }
    }
    out.close();

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), path});
    child.waitForFinished(600000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 3) {
        std::printf("heading book: failed (%s)\n", child.readAllStandardError().constData());
        return;
    }
    const qint64 entries = figures.at(2).toLongLong();
    std::printf("%.1f MB, %lld lines, %lld headings: peak memory %.1f MB, growth %.1f MB, %s\n",
                QFileInfo(path).size() / 1048576.0, lines, lines / every, figures.at(1).toLongLong() / 1024.0,
                (figures.at(1).toLongLong() - figures.at(0).toLongLong()) / 1024.0,
                entries > 0 ? qPrintable(QStringLiteral("%1 entries").arg(entries)) : "refused (too many chapters)");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--memory"))
        return measureMemory(args.at(2));
    if (args.size() == 2 && args.at(1) == QLatin1String("--huge-lines")) {
        hugeLine(300 << 20, 0);
        hugeLine(qint64(1) << 30, qint64(1) << 30);
        return 0;
    }
    if (args.size() == 2 && args.at(1) == QLatin1String("--headings")) {
        headingBook(6000000, 1);
        headingBook(6000000, 31);
        return 0;
    }
    const int runs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 11;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("novel.txt"));
    {
        QElapsedTimer made;
        made.start();
        const QByteArray book = makeNovel();
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(book) != book.size())
            return 1;
        std::printf("book: %.1f MB, %d chapters, %lld lines, generated in %lld ms\n", book.size() / 1048576.0, Chapters,
                    qint64(book.count('\n')), made.elapsed());
    }
    const qint64 fileSize = QFileInfo(path).size();

    // Chapter detection: read, decode, test every line, build the entries.
    std::vector<double> times;
    std::vector<double> cpu;
    qsizetype entries = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpuStart = threadCpuMs();
        const ChapterList list = GetChapter(path);
        cpu.push_back(threadCpuMs() - cpuStart);
        times.push_back(t.nsecsElapsed() / 1e6);
        entries = list.entries.size();
    }
    std::printf("GetChapter: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (processor time: median %.1f ms), "
                "%lld entries\n",
                median(times), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), runs, median(cpu), qint64(entries));

    // Peak memory of one detection in a fresh process.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), path});
    child.waitForFinished(120000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() == 3) {
        const qint64 before = figures.at(0).toLongLong();
        const qint64 after = figures.at(1).toLongLong();
        std::printf("peak memory: %.1f MB before, %.1f MB after, growth %.1f MB = %.2fx the file\n", before / 1024.0,
                    after / 1024.0, (after - before) / 1024.0, (after - before) * 1024.0 / double(fileSize));
    }

    // One chapter on screen, with the index left by detection.
    const ChapterList list = GetChapter(path);
    const ChapterEntry &middle = list.entries.at(list.entries.size() / 2);
    times.clear();
    qsizetype fragmentLength = 0;
    for (int i = 0; i < runs * 5; ++i) {
        QElapsedTimer t;
        t.start();
        fragmentLength = ChapterFragment(path, middle).size();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("ChapterFragment (entry %d, %lld lines, %lld units): median %.3f ms, max %.3f ms\n", middle.number,
                middle.lastShownLine() - middle.firstShownLine() + 1, qint64(fragmentLength), median(times),
                *std::max_element(times.begin(), times.end()));

    BookLineIndexCache::instance().clear();
    QElapsedTimer rebuild;
    rebuild.start();
    ChapterFragment(path, middle);
    std::printf("ChapterFragment without a cached index (rebuilds it): %.1f ms\n", rebuild.nsecsElapsed() / 1e6);

    // The user-interface thread while the loader works: the longest gap between 1 ms ticks.
    ChapterLoader loader;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    QEventLoop loop;
    QElapsedTimer total;
    QObject::connect(&loader, &ChapterLoader::loaded, &loop, &QEventLoop::quit);
    total.start();
    sinceTick.start();
    tick.start();
    loader.request(path);
    loop.exec();
    std::printf("ChapterLoader: result after %.1f ms, longest event-loop gap %.1f ms\n", total.nsecsElapsed() / 1e6,
                longestGap / 1e6);
    return 0;
}
