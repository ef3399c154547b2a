#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "catalogue/DownloadQueue.h"
#include "catalogue/PartFile.h"

#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// /resume/<mode>/<bytes>: while the line is broken a request breaks off (or, for "stall", hangs)
// after a third of the bytes; ranges are offered unless mode is "none". Once mended a range
// request gets the rest ("ok"), the whole file ("ignore") or a range of a file that has since
// changed size ("changed"), and a request without a range the whole file.
TinyHttpServer::Response resumable(const TinyHttpServer::Request &request, bool broken)
{
    const QList<QByteArray> parts = request.target.split('/');
    const QByteArray mode = parts.value(2);
    const int n = parts.value(3).toInt();
    const QByteArray range = request.headers.value("range");
    TinyHttpServer::Response whole{.body = pattern(n)};
    if (broken)
        (mode == "stall" ? whole.stallAfter : whole.dropAfter) = n / 3;
    if (broken || range.isEmpty() || mode == "ignore")
        return mode == "none" ? whole : whole.header("Accept-Ranges", "bytes");
    const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
    const qint64 total = mode == "changed" ? n + 7 : n;
    TinyHttpServer::Response rest{.status = 206, .body = pattern(n).mid(from)};
    return rest.header("Content-Range", "bytes " + QByteArray::number(from) + '-' + QByteArray::number(n - 1) + '/' +
                                            QByteArray::number(total));
}

// Paths: /ok/<bytes>, /nolength/<bytes>, /chunked/<bytes>, /chunkcut/<bytes>, /missing, /stall,
// /drop, /slow/<ms>
TinyHttpServer::Response answer(const TinyHttpServer::Request &request)
{
    const QByteArray kind = request.target.split('/').value(1);
    const int n = request.target.split('/').value(2).toInt();
    if (kind.startsWith("chunk"))
        return {.body = pattern(n), .chunked = true, .dropAfter = kind == "chunkcut" ? n / 2 : -1};
    if (kind == "missing")
        return {.status = 404, .body = "<html>not found</html>"};
    if (kind == "stall")
        return {.body = pattern(1000), .stallAfter = 100};
    if (kind == "drop")
        return {.body = pattern(100000), .dropAfter = 5000};
    if (kind == "slow")
        return {.body = pattern(10), .delayMs = n};
    return {.contentType = "application/octet-stream", .body = pattern(n), .sendLength = kind != "nolength"};
}

} // namespace

// The transfer and the download list below the catalogue. Failed rows, the shelf question and
// whole downloads from the real server through the window are in tst_catalogue_e2e.
class TestDownloader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TinyHttpServer> m_server;
    bool m_broken = true; // for /resume/: the line breaks off until a test mends it

    QString url(const QString &path) const { return m_server->baseUrl() + path; }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // The transport may send a broken-off request again on its own, so requests are not counted.
    QByteArrayList askedRanges() const
    {
        QByteArrayList ranges;
        for (const TinyHttpServer::Request &request : m_server->requests) {
            if (request.headers.contains("range"))
                ranges.append(request.headers.value("range"));
        }
        return ranges;
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_broken = true;
        m_server = std::make_unique<TinyHttpServer>([this](const TinyHttpServer::Request &request) {
            if (!request.target.startsWith("/resume/"))
                return answer(request);
            return resumable(request, m_broken);
        });
    }

    void batch_endsOnceAfterMixedOutcomes_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QList<int>>("failed");
        QTest::newRow("one fails, one succeeds") << QStringList{"/missing", "/ok/1000"} << QList<int>{0};
        QTest::newRow("success first, failure later") << QStringList{"/chunked/10", "/stall"} << QList<int>{1};
        QTest::newRow("dropped connection") << QStringList{"/drop", "/ok/10", "/slow/300"} << QList<int>{0};
        QTest::newRow("all fail") << QStringList{"/missing", "/drop"} << QList<int>{0, 1};
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
            const QString saveFile = file(u"t%1.bin"_s.arg(i));
            QVERIFY(!downloader.beginDownload(url(paths[i]), saveFile));
            if (failed.contains(i))
                expectedFailed.append(saveFile);
        }
        QVERIFY(done.wait(10000));
        QCOMPARE(endedWhenDone, int(paths.size()));
        QStringList reported = done[0][0].toStringList();
        reported.sort();
        QCOMPARE(reported, expectedFailed);
        QCOMPARE(errors.size(), failed.size());
        for (const QString &saveFile : expectedFailed)
            QVERIFY2(!QFileInfo::exists(saveFile), qPrintable(saveFile));
        // A new batch opens after the end.
        QVERIFY(!downloader.beginDownload(url(u"/ok/5"_s), file(u"next.bin"_s)));
        QVERIFY(done.wait(5000));
        QCOMPARE(done.size(), 2); // the first batch ended once
        QCOMPARE(done.last()[0].toStringList(), QStringList{});
    }

    // The first attempt breaks off, or meets a disk with only `room` bytes free; the retry finds
    // the line mended and the disk cleared.
    void retry_continuesWhereItStopped_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<qint64>("room"); // -1: the line breaks instead
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<QByteArray>("range"); // asked for by the retry
        QTest::newRow("server sends the rest") << u"ok"_s << -1LL << 100000LL << "bytes=100000-"_ba;
        QTest::newRow("server sends it all") << u"ignore"_s << -1LL << 100000LL << "bytes=100000-"_ba;
        QTest::newRow("file changed meanwhile") << u"changed"_s << -1LL << 100000LL << "bytes=100000-"_ba;
        QTest::newRow("server without ranges") << u"none"_s << -1LL << 0LL << QByteArray();
        QTest::newRow("disk full midway") << u"ok"_s << 123456LL << 123456LL << "bytes=123456-"_ba;
        QTest::newRow("disk full at the rename") << u"ok"_s << 300000LL << 300000LL << QByteArray();
    }
    void retry_continuesWhereItStopped()
    {
        QFETCH(QString, mode);
        QFETCH(qint64, room);
        QFETCH(qint64, kept);
        QFETCH(QByteArray, range);
        const QString saveFile = file(u"book.txt"_s);
        const QString part = Downloader::PartFileOf(saveFile);
        const QByteArray good(400000, 'g'); // longer than the book: the new copy replaces it whole
        QVERIFY(TestSupport::writeFile(saveFile, good));
        Downloader downloader;
        QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
        QSignalSpy progressed(&downloader, &Downloader::downloadProgress);
        Downloader::Failure failure = Downloader::Failure::None;
        connect(&downloader, &Downloader::downloadError, this,
                [&](const QString &name) { failure = downloader.failureOf(name); });
        const QString address = url(u"/resume/%1/300000"_s.arg(mode));
        m_broken = room < 0;
        PartFile::setRoomForTests(room);
        const auto roomy = qScopeGuard([] { PartFile::setRoomForTests(-1); });
        QVERIFY(!downloader.beginDownload(address, saveFile));
        QVERIFY(done.wait(5000));
        QCOMPARE(failure, room < 0 ? Downloader::Failure::Interrupted : Downloader::Failure::DiskFull);
        QCOMPARE(TestSupport::readFile(saveFile), good);
        QCOMPARE(downloader.resumableBytes(saveFile), kept);
        QCOMPARE(QFileInfo::exists(part), kept > 0);

        progressed.clear();
        m_broken = false;
        PartFile::setRoomForTests(-1);
        QVERIFY(!downloader.beginDownload(address, saveFile));
        QVERIFY(done.wait(5000));
        QCOMPARE(done.last()[0].toStringList(), QStringList{});
        QCOMPARE(askedRanges(), range.isEmpty() ? QByteArrayList() : QByteArrayList{range});
        QCOMPARE(TestSupport::readFile(saveFile), pattern(300000));
        QVERIFY(!QFileInfo::exists(part));
        QCOMPARE(progressed.last().mid(0, 2), (QVariantList{qint64(300000), qint64(300000)}));
    }

    void beginDownload_refusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("saveFile");
        QTest::addColumn<int>("number");
        QTest::newRow("not an address") << u"books/a.zip"_s << u"a.zip"_s << 5;
        QTest::newRow("unsupported scheme") << u"file:///etc/passwd"_s << u"a.zip"_s << 5;
        QTest::newRow("folder missing") << u"SERVER/ok/1"_s << u"missing/folder/a.zip"_s << 75;
    }
    void beginDownload_refusals()
    {
        QFETCH(QString, address);
        QFETCH(QString, saveFile);
        QFETCH(int, number);
        Downloader downloader;
        const auto error = downloader.beginDownload(address.replace(u"SERVER"_s, m_server->baseUrl()), file(saveFile));
        QVERIFY(error);
        QCOMPARE(error->number, number);
        QCOMPARE(downloader.taskCount(), 0);
        QVERIFY(BeginDownloadErrorMessage(*error).startsWith(QString::number(number) +
                                                             u":错误在调用 BeginDownload().\r\n\r\n错误描述: "_s));
    }

    void progressCells_data()
    {
        QTest::addColumn<qint64>("read");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("status");
        QTest::newRow("rounds") << qint64(52838) << qint64(102400) << u"52%"_s << u"正在下载(51.6KB)"_s;
        QTest::newRow("large") << qint64(150000000) << qint64(209715200) << u"72%"_s << u"正在下载(146484.4KB)"_s;
    }
    void progressCells()
    {
        QFETCH(qint64, read);
        QFETCH(qint64, total);
        const DownloadProgressCells cells = ProgressCells(read, total);
        QTEST(cells.progress, "progress");
        QTEST(cells.status, "status");
    }

    // A failed row retried in place is in tst_catalogue_e2e; here a removed row frees its file
    // for a new one, and a cancelled row is retried in place.
    void queue_rowsAreRemovedAndCancelled()
    {
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(u"TxtBook"_s));
        QSignalSpy done(&queue, &DownloadQueue::allDownloadsDone);
        QSignalSpy removed(&queue, &DownloadQueue::rowRemoved);
        QVERIFY(queue.downloadaFile(u"abc"_s, url(u"/ok/10"_s), u"abc.txt"_s));
        QVERIFY(done.wait(5000));
        QCOMPARE(queue.rows()[0].progress, u"完成"_s);
        QVERIFY(!queue.canRetry(0));
        queue.remove(0);
        QCOMPARE(removed.size(), 1);
        QVERIFY(queue.rows().isEmpty());
        QVERIFY(queue.downloadaFile(u"abc"_s, url(u"/stall"_s), u"abc.txt"_s));
        QVERIFY(queue.isRunning(0));
        QVERIFY(queue.cancel(0));
        QCOMPARE(queue.rows()[0].failure, u"已取消"_s);
        QCOMPARE(queue.rows()[0].look, DownloadRow::Look::Failed);
        QVERIFY(queue.retry(0));
        QCOMPARE(queue.rows().size(), 1);
        QCOMPARE(queue.rows()[0].status, u"正在连接..."_s);
        QCOMPARE(queue.rows()[0].look, DownloadRow::Look::Normal);
        QVERIFY(prompter.shown.isEmpty());
    }

    // A row that cannot start (a folder stands where its partial file goes) stays retryable and
    // starts once the way is clear; the box comes each time, as for any refused start.
    void queue_unstartableRowIsRetried()
    {
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(u"TxtBook"_s));
        const QString blocker = Downloader::PartFileOf(file(u"TxtBook/abc/abc.txt"_s));
        QVERIFY(QDir().mkpath(blocker));
        QVERIFY(!queue.downloadaFile(u"abc"_s, url(u"/ok/10"_s), u"abc.txt"_s));
        QVERIFY(!queue.retry(0));
        QCOMPARE(prompter.shown.size(), 2);
        QVERIFY(prompter.lastText().startsWith(u"75:"_s));
        QCOMPARE(queue.rows()[0].status, u"正在连接..."_s);
        QCOMPARE(queue.rows()[0].speed, u"无法开始下载：已有同名的文件夹"_s);
        QVERIFY(prompter.lastText().endsWith(u"：已有同名的文件夹"_s));
        QVERIFY(QDir(blocker).removeRecursively());
        QSignalSpy done(&queue, &DownloadQueue::allDownloadsDone);
        QCOMPARE(queue.retryAllFailed(), 1);
        QVERIFY(done.wait(5000));
        QCOMPARE(TestSupport::readFile(file(u"TxtBook/abc/abc.txt"_s)), pattern(10));
    }

    // A download folder the user may not write to: the row and the box say so in Chinese.
    void queue_folderWithoutWritePermission()
    {
        if (::geteuid() == 0)
            QSKIP("the superuser writes anywhere");
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(u"TxtBook"_s));
        const QString folder = file(u"TxtBook/abc"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        const auto writable = qScopeGuard([&] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        QVERIFY(!queue.downloadaFile(u"abc"_s, url(u"/ok/10"_s), u"abc.txt"_s));
        QCOMPARE(queue.rows()[0].speed, u"无法开始下载：没有写入权限"_s);
        QVERIFY(prompter.lastText().endsWith(u"：没有写入权限"_s));
    }

    // One row hangs midway and is paused; the other's line breaks and is retried by itself after
    // growing waits, three times at most. Both continue with a range once the line is mended.
    void queue_pauseAndAutomaticRetry()
    {
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(u"TxtBook"_s));
        queue.setAutoRetry(true);
        QList<int> waits;
        std::function<void()> due;
        queue.setScheduler([&](int ms, std::function<void()> fn) { waits.append(ms), due = std::move(fn); });
        queue.downloader()->setProgressInterval(0);
        QVERIFY(queue.downloadaFile(u"a"_s, url(u"/resume/stall/300000"_s), u"a.txt"_s));
        QVERIFY(queue.downloadaFile(u"b"_s, url(u"/resume/ok/300000"_s), u"b.txt"_s));
        QTRY_COMPARE(waits.size(), 1);
        QCOMPARE(queue.rows()[1].speed, u"连接中断，5秒后重试（1/3）"_s);
        for (qsizetype tries = 1; tries <= 3; ++tries) {
            due();
            QVERIFY(queue.isRunning(1));
            QTRY_VERIFY(!queue.isRunning(1));
        }
        QCOMPARE(waits, (QList<int>{5000, 15000, 60000}));
        QCOMPARE(queue.rows()[1].speed, u"连接中断"_s);

        QTRY_COMPARE(queue.rows()[0].bytesRead, 100000);
        QCOMPARE(queue.pauseAll(), 1);
        QCOMPARE(queue.rows()[0].speed, u"已暂停"_s);
        QCOMPARE(queue.downloader()->resumableBytes(queue.rows()[0].saveFile), 100000);
        m_broken = false;
        QCOMPARE(queue.resumeAll(), 1);
        QCOMPARE(queue.retryAllFailed(), 1);
        QTRY_VERIFY(queue.rows()[0].finished && queue.rows()[1].finished);
        // Every attempt, the automatic ones included, asked only for the rest.
        const QByteArrayList ranges = askedRanges();
        QVERIFY(ranges.size() >= 5 && ranges.count("bytes=100000-") == ranges.size());
        QCOMPARE(TestSupport::readFile(file(u"TxtBook/a/a.txt"_s)), pattern(300000));
        QCOMPARE(queue.clearFinished(), 2);
        QVERIFY(queue.rows().isEmpty() && prompter.shown.isEmpty());
    }

    void queue_speedAndTimeLeft_data()
    {
        QTest::addColumn<QList<qint64>>("samples"); // milliseconds and bytes, in turn
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("left");
        QTest::newRow("too soon to tell") << QList<qint64>{0, 0, 400, 50000} << qint64(100000) << QString() << QString();
        QTest::newRow("steady") << QList<qint64>{0, 0, 1000, 102400} << qint64(102400 * 200) << u"100.0 KB/s"_s
                                << u"3分19秒"_s;
        QTest::newRow("old samples age out")
            << QList<qint64>{0, 0, 1000, 10 << 20, 7000, (10 << 20) + 6000, 8000, (10 << 20) + 7000}
            << qint64(100 << 20) << u"1000 B/s"_s << u"26小时12分"_s;
        QTest::newRow("slow start") << QList<qint64>{0, 0, 2000, 1000} << qint64(1500) << u"500 B/s"_s << u"1秒"_s;
    }
    void queue_speedAndTimeLeft()
    {
        QFETCH(QList<qint64>, samples);
        QFETCH(qint64, total);
        TransferRate rate;
        for (qsizetype i = 0; i + 1 < samples.size(); i += 2)
            rate.add(samples[i], samples[i + 1]);
        const std::optional<double> speed = rate.bytesPerSecond();
        QTEST(speed ? FormatSpeed(*speed) : QString(), "speed");
        QTEST(speed ? FormatTimeLeft(double(total - samples.last()) / *speed) : QString(), "left");
    }

    // Refused before a row is made (a box names why), or a row that fails without asking the
    // server (an address that leaves it) or without reaching the disk (a book whose end cannot
    // be told from a cut line). A row whose line broke waits for its automatic retry, and
    // "全部暂停" pauses it instead.
    void queue_refusals_data()
    {
        QTest::addColumn<QString>("caption"); // empty: a catalogue row with downurl as its address
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder cannot be made") << u"blocked"_s << u"a.txt"_s << u"原因：路径不存在"_s;
        QTest::newRow("caption escapes the folder") << u".."_s << u"a.txt"_s << u"文件名无效"_s;
        QTest::newRow("file name with a separator") << u"abc"_s << u"..\\a.txt"_s << u"文件名无效"_s;
        QTest::newRow("empty file name") << u"abc"_s << QString() << u"文件名无效"_s;
        QTest::newRow("glued to another host") << QString() << u"@127.0.0.2:PORT/ok/10"_s << RefusedAddressText();
        QTest::newRow("another host") << QString() << u"//127.0.0.2:PORT/ok/10"_s << RefusedAddressText();
        QTest::newRow("absolute address") << QString() << u"http://127.0.0.2:PORT/ok/10"_s << RefusedAddressText();
        QTest::newRow("no length, cut") << QString() << u"/nolength/300006"_s << u"服务器没有说明文件大小"_s;
        QTest::newRow("chunked, cut") << QString() << u"/chunkcut/300006"_s << u"连接中断"_s;
        QTest::newRow("line breaks midway") << QString() << u"/drop"_s << u"连接中断"_s;
    }
    void queue_refusals()
    {
        QFETCH(QString, caption);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        ScriptedPrompter prompter;
        DownloadQueue queue(nullptr, prompter);
        queue.setDownloadFolder(file(u"TxtBook"_s));
        queue.setAutoRetry(true);
        std::function<void()> due;
        queue.setScheduler([&](int, std::function<void()> fn) { due = std::move(fn); });
        if (caption.isEmpty()) {
            CatalogueEntry entry;
            entry.downurl = fileName.replace(u"PORT"_s, m_server->baseUrl().section(u':', -1));
            queue.downloadCatalogueEntry(entry, m_server->baseUrl());
            QTRY_COMPARE(queue.rows().value(0).look, DownloadRow::Look::Failed);
            QCOMPARE(queue.rows()[0].failure, message);
            QCOMPARE(FindFiles(file(u"TxtBook"_s), u"*"_s), QStringList{});
            QCOMPARE(m_server->requests.isEmpty(), message == RefusedAddressText());
            QVERIFY(prompter.shown.isEmpty());
            // A row waiting for its automatic retry can be paused, and then waits no more.
            QCOMPARE(queue.canPause(0), bool(due));
            if (due) {
                QCOMPARE(queue.pauseAll(), 1);
                QVERIFY(queue.isPaused(0) && queue.canRetry(0) && !queue.canPause(0));
                due();
                QVERIFY(!queue.isRunning(0));
            }
            return;
        }
        QVERIFY(TestSupport::writeFile(file(u"TxtBook/blocked"_s), "a file where the folder should be"));
        QVERIFY(!queue.downloadaFile(caption, url(u"/ok/1"_s), fileName));
        QVERIFY(queue.rows().isEmpty());
        QCOMPARE(queue.downloader()->taskCount(), 0);
        QCOMPARE(prompter.shown.size(), 1);
        QVERIFY2(prompter.lastText().contains(message), qPrintable(prompter.lastText()));
        QCOMPARE(prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(m_server->requests.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
