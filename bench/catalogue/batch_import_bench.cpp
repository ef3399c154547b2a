// A folder of generated books through the batch import window: listed, looked into and put on
// the shelf of a fresh library, while a timer on the window's thread measures how long the
// thread went without handling its events. Prints the time of each phase and the longest stall.
//
//   bench_batch_import [--files 5000] [--dir FOLDER]

#include "ScriptedPrompter.h"
#include "catalogue/BatchImportDialog.h"
#include "library/LibraryDb.h"
#include "startup/AppContext.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

// The longest gap between two turns of the window's event loop while it runs.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_clock.start();
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_last = m_clock.elapsed();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("files"), QStringLiteral("books in the folder"), QStringLiteral("n"), QStringLiteral("5000")});
    options.addOption({QStringLiteral("dir"), QStringLiteral("where the folder goes"), QStringLiteral("folder")});
    options.process(app);
    const int files = options.value(QStringLiteral("files")).toInt();
    QTemporaryDir dir(options.isSet(QStringLiteral("dir")) ? options.value(QStringLiteral("dir")) + QStringLiteral("/batchXXXXXX")
                                                           : QDir::tempPath() + QStringLiteral("/batchXXXXXX"));
    const QString books = dir.filePath(QStringLiteral("books"));
    for (int i = 0; i < files; ++i) {
        // Forty sub-folders, names that sort in pinyin, a few kilobytes each.
        const QString folder = books + QStringLiteral("/卷%1").arg(i % 40);
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("/《第%1本书》作者：某人%2.txt").arg(i).arg(i % 97));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("第一章 开始\n" + QByteArray(2000 + i % 3000, 'x') + '\n');
    }

    LibraryDb db;
    if (!db.open(dir.filePath(QStringLiteral("DataFile/Data.db"))))
        return 1;
    AppContext ctx;
    ctx.programFolder = dir.path();
    ctx.db = &db;
    ctx.downloadFolder = dir.filePath(QStringLiteral("TxtBook"));
    ScriptedPrompter prompter;
    auto *dialog = new BatchImportDialog(ctx, prompter);
    dialog->show();

    StallMeter meter;
    QElapsedTimer phase;
    QSignalSpy listed(dialog, &BatchImportDialog::listed);
    meter.start();
    phase.start();
    dialog->addPaths({books});
    listed.wait(600000);
    const qint64 listMs = phase.elapsed();
    const qint64 listStall = meter.stop();

    QSignalSpy imported(dialog, &BatchImportDialog::importFinished);
    meter.start();
    phase.restart();
    dialog->startImport();
    imported.wait(600000);
    const qint64 importMs = phase.elapsed();
    const qint64 importStall = meter.stop();

    std::printf("files: %d, listed: %d rows\n", files, dialog->list()->topLevelItemCount());
    std::printf("listing: %lld ms, longest stall of the window thread %lld ms\n", listMs, listStall);
    std::printf("import:  %lld ms, longest stall of the window thread %lld ms, on the shelf: %lld\n", importMs,
                importStall, qint64(db.shelfPage({}, 1).total));
    std::printf("goal: every stall <= 50 ms: %s\n", std::max(listStall, importStall) <= 50 ? "met" : "NOT met");
    delete dialog;
    return 0;
}
