// Auto-scroll on the 50 MB generated novel: how evenly the page's frames come while it scrolls
// on across chapter ends, and the largest pause of the program's own event loop meanwhile.
// Needs a display that draws frames (Xvfb will do). Prints the figures; run by hand:
//   bench_reader_autoscroll [crossings]
// On a loaded 2-core machine under Xvfb (software GL), 12 chapter ends crossed in 46 s: 2,322
// frames, mean gap 19.6 ms, largest gap 100 ms anywhere and 50 ms around the chapter ends; the
// program's event loop never paused longer than 60 ms.

#include "GeneratedNovel.h"
#include "ScriptedPrompter.h"
#include "library/LibraryDb.h"
#include "reader/AutoScroll.h"
#include "reader/ReaderPane.h"
#include "shell/MainWindow.h"
#include "startup/AppContext.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QVariantMap pageState(ReadingView *view)
{
    QVariantMap state;
    bool answered = false;
    view->autoScrollState([&](const QVariantMap &s) { state = s, answered = true; });
    waitFor([&] { return answered; }, 5000);
    return state;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int crossings = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 12;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("novel.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(makeNovel()) < 0)
        return 1;
    file.close();

    LibraryDb db;
    if (!db.open(dir.filePath(QStringLiteral("DataFile/Data.db"))))
        return 1;
    AppContext ctx;
    ctx.db = &db;
    ctx.programFolder = dir.path();
    ScriptedPrompter prompter;
    MainWindow window(ctx, prompter);
    window.load();
    window.show();
    ReaderPane *reader = window.reader();
    ReadingView *view = reader->readingView();
    if (!waitFor([&] { return view->isPageReady(); }, 60000))
        return 1;
    window.openBook(path);
    if (!waitFor([&] { return !reader->isOpening() && reader->shownChapter() == 1; }, 120000))
        return 1;
    reader->showChapterAt(100, 0);
    waitFor([&] { return reader->shownChapter() == 100; }, 10000);

    reader->autoScroll()->start();
    view->setAutoScroll(true, false, 3000); // far beyond what the menu offers, to cross often
    // The event loop's largest pause, probed every millisecond.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, largestLoopGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        largestLoopGap = std::max(largestLoopGap, now - last);
        last = now;
    });
    last = clock.elapsed();
    probe.start(1);

    QElapsedTimer run;
    run.start();
    while (pageState(view).value(QStringLiteral("crossings")).toInt() < crossings && run.elapsed() < 600000)
        waitFor([] { return false; }, 500);
    probe.stop();
    const QVariantMap s = pageState(view);
    std::printf("chapters crossed: %d (chapter %d on the page), %.1f s\n", s.value(QStringLiteral("crossings")).toInt(),
                reader->shownChapter(), run.elapsed() / 1000.0);
    std::printf("page frames: %d, largest gap %.1f ms, largest gap around chapter ends %.1f ms\n",
                s.value(QStringLiteral("frames")).toInt(), s.value(QStringLiteral("largestGap")).toDouble(),
                s.value(QStringLiteral("largestGapAtCrossing")).toDouble());
    std::printf("mean frame gap %.1f ms\n",
                run.elapsed() / std::max(1.0, s.value(QStringLiteral("frames")).toDouble()));
    std::printf("program event loop: largest pause %lld ms\n", static_cast<long long>(largestLoopGap));
    reader->autoScroll()->stop();
    return 0;
}
