#include "ArchiveBuilder.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "catalogue/DownloadQueue.h"
#include "library/LibraryDb.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// Paths: /ok/<bytes>, /nolength/<bytes>, /missing, /stall, /drop, /slow/<ms>
TinyHttpServer::Response answer(const TinyHttpServer::Request &request)
{
    const QList<QByteArray> parts = request.target.split('/');
    const QByteArray kind = parts.value(1);
    TinyHttpServer::Response r;
    r.contentType = "application/octet-stream";
    r.body = pattern(parts.value(2).toInt());
    if (kind == "missing") {
        r.status = 404;
        r.body = "<html>not found</html>";
    } else if (kind == "nolength") {
        r.sendLength = false;
    } else if (kind == "stall") {
        r.body = pattern(1000);
        r.stallAfter = 100;
    } else if (kind == "drop") {
        r.body = pattern(100000);
        r.dropAfter = 5000;
    } else if (kind == "slow") {
        r.body = pattern(10);
        r.delayMs = parts.value(2).toInt();
    }
    return r;
}

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TinyHttpServer> m_server;

    QString url(const QString &path) const { return m_server->baseUrl() + path; }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_server = std::make_unique<TinyHttpServer>(answer);
    }

    void complete_streamsExactBytes()
    {
        Downloader downloader;
        QSignalSpy progress(&downloader, &Downloader::downloadProgress);
        QSignalSpy complete(&downloader, &Downloader::downloadComplete);
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/ok/3000000")), file(QStringLiteral("a.zip"))));
        QCOMPARE(downloader.stateOf(file(QStringLiteral("a.zip"))), std::optional(Downloader::Running));
        QVERIFY(done.wait(10000));
        QCOMPARE(complete.size(), 1);
        QCOMPARE(complete[0][0].toLongLong(), 3000000);
        QCOMPARE(TestSupport::readFile(file(QStringLiteral("a.zip"))), pattern(3000000));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last()[0].toLongLong(), 3000000);
        QCOMPARE(progress.last()[1].toLongLong(), 3000000);
        QCOMPARE(done[0][0].toStringList(), QStringList{});
        QCOMPARE(downloader.taskCount(), 0);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"a.zip"});
    }

    void batch_endsOnceAfterMixedOutcomes_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QList<int>>("failed");
        QTest::newRow("one fails, one succeeds") << QStringList{"/missing", "/ok/1000"} << QList<int>{0};
        QTest::newRow("success first, failure later") << QStringList{"/ok/10", "/stall"} << QList<int>{1};
        QTest::newRow("dropped connection") << QStringList{"/drop", "/ok/10", "/slow/300"} << QList<int>{0};
        QTest::newRow("all fail") << QStringList{"/missing", "/drop"} << QList<int>{0, 1};
        QTest::newRow("unknown length succeeds") << QStringList{"/nolength/5000"} << QList<int>{};
    }
    void batch_endsOnceAfterMixedOutcomes()
    {
        QFETCH(QStringList, paths);
        QFETCH(QList<int>, failed);
        Downloader downloader;
        downloader.setTransferTimeout(500);
        QSignalSpy errors(&downloader, &Downloader::downloadError);
        QSignalSpy complete(&downloader, &Downloader::downloadComplete);
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        int endedWhenDone = -1;
        connect(&downloader, &Downloader::allDownloadsDone, this,
                [&] { endedWhenDone = int(errors.size() + complete.size()); });
        QStringList expectedFailed;
        for (int i = 0; i < paths.size(); ++i) {
            const QString saveFile = file(QStringLiteral("t%1.bin").arg(i));
            QVERIFY(!downloader.beginDownload(url(paths[i]), saveFile));
            if (failed.contains(i))
                expectedFailed.append(saveFile);
        }
        QVERIFY(done.wait(10000));
        QTest::qWait(100);
        QCOMPARE(done.size(), 1);
        QCOMPARE(endedWhenDone, int(paths.size()));
        QStringList reported = done[0][0].toStringList();
        reported.sort();
        QCOMPARE(reported, expectedFailed);
        QCOMPARE(errors.size(), failed.size());
        for (const QString &saveFile : expectedFailed)
            QVERIFY2(!QFileInfo::exists(saveFile), qPrintable(saveFile));
        // A new batch opens after the end.
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/ok/5")), file(QStringLiteral("next.bin"))));
        QVERIFY(done.wait(5000));
        QCOMPARE(done.last()[0].toStringList(), QStringList{});
    }

    void failedTransfer_keepsEarlierFile()
    {
        const QString saveFile = file(QStringLiteral("book.txt"));
        QVERIFY(TestSupport::writeFile(saveFile, "the good copy"));
        Downloader downloader;
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/drop")), saveFile));
        QVERIFY(done.wait(5000));
        QCOMPARE(TestSupport::readFile(saveFile), QByteArray("the good copy"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"book.txt"});

        // A shorter successful download replaces the content entirely.
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/ok/4")), saveFile));
        QVERIFY(done.wait(5000));
        QCOMPARE(TestSupport::readFile(saveFile), pattern(4));
    }

    void unknownLength_reportsNoProgress()
    {
        Downloader downloader;
        QSignalSpy progress(&downloader, &Downloader::downloadProgress);
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/nolength/20000")), file(QStringLiteral("n.bin"))));
        QVERIFY(done.wait(5000));
        QCOMPARE(progress.size(), 0);
        QCOMPARE(TestSupport::readFile(file(QStringLiteral("n.bin"))), pattern(20000));
    }

    void cancelAll_isSilentAndLeavesNoFile()
    {
        Downloader downloader;
        QSignalSpy errors(&downloader, &Downloader::downloadError);
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/stall")), file(QStringLiteral("s.bin"))));
        QVERIFY(!downloader.beginDownload(url(QStringLiteral("/slow/200")), file(QStringLiteral("w.bin"))));
        QTRY_COMPARE(m_server->requests.size(), 2);
        QVERIFY(downloader.cancelAllDownload());
        QCOMPARE(downloader.taskCount(), 0);
        QTest::qWait(400);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(done.size(), 0);
        QVERIFY(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());
    }

    void beginDownload_refusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("saveFile");
        QTest::addColumn<int>("number");
        QTest::newRow("not an address") << "books/a.zip"
                                        << "a.zip" << 5;
        QTest::newRow("unsupported scheme") << "file:///etc/passwd"
                                            << "a.zip" << 5;
        QTest::newRow("folder missing") << "SERVER/ok/1"
                                        << "missing/folder/a.zip" << 75;
    }
    void beginDownload_refusals()
    {
        QFETCH(QString, address);
        QFETCH(QString, saveFile);
        QFETCH(int, number);
        Downloader downloader;
        const auto error =
            downloader.beginDownload(address.replace(QStringLiteral("SERVER"), m_server->baseUrl()), file(saveFile));
        QVERIFY(error);
        QCOMPARE(error->number, number);
        QCOMPARE(downloader.taskCount(), 0);
        QVERIFY(BeginDownloadErrorMessage(*error).startsWith(
            QString::number(number) + QStringLiteral(":错误在调用 BeginDownload().\r\n\r\n错误描述: ")));
    }

    void progressCells_data()
    {
        QTest::addColumn<qint64>("read");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("status");
        QTest::newRow("half") << qint64(51200) << qint64(102400) << "50%"
                              << "正在下载(50.0KB)";
        QTest::newRow("start") << qint64(0) << qint64(1000) << "0%"
                               << "正在下载(0.0KB)";
        QTest::newRow("rounds") << qint64(52838) << qint64(102400) << "52%"
                                << "正在下载(51.6KB)";
        QTest::newRow("large") << qint64(150000000) << qint64(209715200) << "72%"
                               << "正在下载(146484.4KB)";
        QTest::newRow("all in") << qint64(1000) << qint64(1000) << "完成"
                                << "下载完成，已为你添加到书架！";
    }
    void progressCells()
    {
        QFETCH(qint64, read);
        QFETCH(qint64, total);
        QFETCH(QString, progress);
        QFETCH(QString, status);
        const DownloadProgressCells cells = ProgressCells(read, total);
        QCOMPARE(cells.progress, progress);
        QCOMPARE(cells.status, status);
    }

    void queue_refusesDuplicatesEvenAfterTheEnd()
    {
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(QStringLiteral("TxtBook")));
        QSignalSpy done(&queue, &DownloadQueue::allDownloadsDone);
        QVERIFY(queue.downloadaFile(QStringLiteral("abc"), url(QStringLiteral("/ok/100")), QStringLiteral("abc.txt")));
        QCOMPARE(queue.rows().size(), 1);
        QCOMPARE(queue.rows()[0].task, QStringLiteral(" abc"));
        QCOMPARE(queue.rows()[0].status, QStringLiteral("正在连接..."));
        QVERIFY(!queue.downloadaFile(QStringLiteral("abc"), url(QStringLiteral("/ok/100")), QStringLiteral("abc.txt")));
        QVERIFY(done.wait(5000));
        QVERIFY(!queue.downloadaFile(QStringLiteral("abc"), url(QStringLiteral("/ok/100")), QStringLiteral("abc.txt")));
        QCOMPARE(queue.rows().size(), 1);
        QCOMPARE(prompter.shown.size(), 2);
        QCOMPARE(prompter.lastText(), QStringLiteral("不要重复下载，该书已在下载列表中！"));
        QCOMPARE(prompter.last().title, QStringLiteral("重复下载"));
        QCOMPARE(prompter.last().icon, Prompter::Icon::Exclamation);
        QCOMPARE(queue.rows()[0].progress, QStringLiteral("完成"));
        QCOMPARE(queue.rows()[0].look, DownloadRow::Look::Received);
        QCOMPARE(TestSupport::readFile(file(QStringLiteral("TxtBook/abc/abc.txt"))), pattern(100));
    }

    void queue_refusesWhatCannotBeSaved_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder cannot be made") << "blocked"
                                               << "a.txt"
                                               << "无法创建下载文件夹";
        QTest::newRow("caption escapes the folder") << ".."
                                                    << "a.txt"
                                                    << "文件名无效";
        QTest::newRow("file name with a separator") << "abc"
                                                    << "..\\a.txt"
                                                    << "文件名无效";
        QTest::newRow("empty file name") << "abc"
                                         << ""
                                         << "文件名无效";
    }
    void queue_refusesWhatCannotBeSaved()
    {
        QFETCH(QString, caption);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        QVERIFY(TestSupport::writeFile(file(QStringLiteral("TxtBook/blocked")), "a file where the folder should be"));
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(QStringLiteral("TxtBook")));
        QVERIFY(!queue.downloadaFile(caption, url(QStringLiteral("/ok/1")), fileName));
        QVERIFY(queue.rows().isEmpty());
        QCOMPARE(queue.downloader()->taskCount(), 0);
        QCOMPARE(prompter.shown.size(), 1);
        QVERIFY2(prompter.lastText().contains(message), qPrintable(prompter.lastText()));
        QCOMPARE(prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(m_server->requests.isEmpty());
    }

    void queue_failedRowTurnsRed()
    {
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(QStringLiteral("TxtBook")));
        QSignalSpy done(&queue, &DownloadQueue::allDownloadsDone);
        QVERIFY(queue.downloadaFile(QStringLiteral("x"), url(QStringLiteral("/missing")), QStringLiteral("x.rar")));
        QVERIFY(done.wait(5000));
        QCOMPARE(queue.rows()[0].look, DownloadRow::Look::Failed);
        QCOMPARE(done[0][0].toStringList(), QStringList{queue.rows()[0].saveFile});
    }

    void queue_importsBeforeTheBatchEnds()
    {
        LibraryDb db(QStringLiteral("downloader-test"));
        QVERIFY(db.open(file(QStringLiteral("DataFile/Data.db"))));
        const QByteArray zip = ArchiveBuilder::zip({{"abc/第一卷.txt", "卷一", true}, {"readme.txt", "说明"}});
        TinyHttpServer books([&](const TinyHttpServer::Request &request) {
            TinyHttpServer::Response r;
            r.body = request.target.endsWith(".zip") ? zip : QByteArray("text");
            r.status = request.target.contains("bad") ? 500 : 200;
            return r;
        });
        CatalogueEntry entry;
        entry.name = QStringLiteral("书名");
        entry.author = QStringLiteral("作者");
        entry.category = QStringLiteral("玄幻修真");
        entry.downurl = QStringLiteral("/books/7/abc.zip");

        ScriptedPrompter prompter;
        DownloadQueue queue(&db, prompter);
        queue.setDownloadFolder(file(QStringLiteral("TxtBook")));
        queue.setCatalogueRows([&] { return QList<CatalogueEntry>{entry}; });
        QSignalSpy imported(&queue, &DownloadQueue::imported);
        QStringList order;
        connect(&queue, &DownloadQueue::imported, this, [&] { order << QStringLiteral("imported"); });
        connect(&queue, &DownloadQueue::allDownloadsDone, this, [&] { order << QStringLiteral("done"); });

        const DownloadStart start = DownloadStartFor(books.baseUrl(), entry.downurl);
        QCOMPARE(start.caption, QStringLiteral("abc"));
        QCOMPARE(start.fileName, QStringLiteral("abc.zip"));
        QCOMPARE(start.url, books.baseUrl() + QStringLiteral("/books/7/abc.zip"));
        QVERIFY(queue.downloadCatalogueEntry(entry, books.baseUrl()));
        QVERIFY(queue.downloadaFile(QStringLiteral("bad"), books.baseUrl() + QStringLiteral("/bad.zip"),
                                    QStringLiteral("bad.zip")));
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 5000);
        QCOMPARE(order, (QStringList{"imported", "done"}));

        const QString folder = file(QStringLiteral("TxtBook/abc"));
        const auto row = db.findByPath(folder + QStringLiteral("/readme.txt"));
        QVERIFY(row);
        QCOMPARE(row->name, QStringLiteral("书名"));
        QCOMPARE(row->author, QStringLiteral("作者"));
        QCOMPARE(row->type, QStringLiteral("玄幻修真"));
        QCOMPARE(row->marke, QStringLiteral("Null"));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/abc.zip")));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/abc/第一卷.txt")));
        QVERIFY(prompter.shown.isEmpty());

        // The title is on the shelf now: a second double-click asks, and No starts nothing.
        QSignalSpy starting(&queue, &DownloadQueue::downloadStarting);
        prompter.answers.enqueue(false);
        QVERIFY(!queue.downloadCatalogueEntry(entry, books.baseUrl()));
        QCOMPARE(prompter.lastText(), QStringLiteral("《书名》已经存在你的书架中！ 是否重新下载并更新本书TXT文件？"));
        QCOMPARE(prompter.last().title, QStringLiteral("确认下载"));
        QCOMPARE(starting.size(), 0);
        QCOMPARE(queue.rows().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
