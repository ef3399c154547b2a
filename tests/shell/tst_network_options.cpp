#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "catalogue/CataloguePane.h"
#include "catalogue/DownloadQueue.h"
#include "library/BookshelfPane.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "settings/NetworkOptionsBox.h"
#include "settings/SettingsPane.h"
#include "shell/CatalogueUpdates.h"
#include "shell/MainWindow.h"

#include <QCheckBox>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int BookBytes = 300000;

QByteArray bookText(int size, char fill = 'a')
{
    QByteArray text = "第一章 开端\n";
    text += QByteArray(size - text.size(), fill);
    return text;
}

QByteArray listAnswer(const QByteArray &id, const QByteArray &name)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><list><bookinfo><id>" + id + "</id><name>" + name +
           "</name><class>武侠仙侠</class><author>某人</author><statue>完成</statue><ftime>2009-3-5 10:20:00</ftime>"
           "<size>293</size><downurl>/books/" + id + "/" + name + ".txt</downurl></bookinfo>"
           "<otherinfo><pageinfo>1,1,1,1,1</pageinfo></otherinfo></list>";
}

} // namespace

// The download and start-up switches of "网络设置" on the real windows of a fresh profile: at
// their defaults the program does what the written behaviour says (a broken transfer is red at
// once, a download whose catalogue row has left the screen adds no shelf row, start-up asks the
// catalogue nothing); switched on, each does its addition. Unfinished downloads outlive a close.
class TestNetworkOptions : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<TinyHttpServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    bool m_broken = false;      // the book's line breaks after a third
    bool m_stalls = false;      // the book's line hangs after a third
    bool m_changed = false;     // the server's copy is a new one: other bytes, other size
    QByteArrayList m_ranges;    // asked for by the client

    TinyHttpServer::Response answer(const TinyHttpServer::Request &request)
    {
        const QString target = QUrl::fromPercentEncoding(request.target);
        if (target.contains(u"listbook.asp"_s))
            return TinyHttpServer::reply(target.contains(u"全部资源"_s) ? listAnswer("1", "甲书") : listAnswer("2", "乙书"));
        if (target.contains(u"/folioway/updates/v1"_s))
            return TinyHttpServer::reply("<updates/>");
        const QByteArray body = m_changed ? bookText(BookBytes + 7, 'b') : bookText(BookBytes);
        TinyHttpServer::Response whole{.contentType = "text/plain", .body = body};
        whole.header("Accept-Ranges", "bytes").header("Last-Modified", m_changed ? "Tue, 02 Jan 2024" : "Mon, 01 Jan 2024");
        if (m_broken || m_stalls) {
            (m_broken ? whole.dropAfter : whole.stallAfter) = BookBytes / 3;
            return whole;
        }
        const QByteArray range = request.headers.value("range");
        if (range.isEmpty() || request.headers.value("if-range") != whole.headers.last().second)
            return whole;
        m_ranges.append(range);
        const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
        TinyHttpServer::Response rest{.status = 206, .contentType = "text/plain", .body = body.mid(from)};
        return rest.header("Content-Range", "bytes %1-%2/%3"_ba.replace("%1", QByteArray::number(from))
                                                .replace("%2", QByteArray::number(body.size() - 1))
                                                .replace("%3", QByteArray::number(body.size())));
    }

    void openWindow()
    {
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
    }
    CataloguePane *catalogue() const { return m_window->catalogue(); }
    DownloadQueue *queue() const { return catalogue()->downloads(); }
    NetworkOptionsBox *options() const { return m_window->settings()->networkOptions(); }
    // The catalogue tab with its first list on screen.
    void showCatalogue()
    {
        m_window->SelectToolBar(3);
        QTRY_VERIFY(!catalogue()->isLoading());
        QCOMPARE(catalogue()->entries().size(), 1);
    }
    bool onShelf(const QString &title) const { return m_db->findByName(title).has_value(); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(m_dir->filePath(u"DataFile/Data.db"_s)));
        m_ctx = AppContext{};
        m_ctx.programFolder = m_dir->path();
        m_ctx.db = m_db.get();
        m_ctx.downloadFolder = m_dir->filePath(u"TxtBook"_s);
        m_server = std::make_unique<TinyHttpServer>([this](const TinyHttpServer::Request &r) { return answer(r); });
        m_ctx.config.serverBaseUrl = m_server->baseUrl();
        m_broken = m_stalls = m_changed = false;
        m_ranges.clear();
        m_prompter.clear();
        openWindow();
    }
    void cleanup()
    {
        m_window.reset();
        m_server.reset();
        m_db.reset();
        m_dir.reset();
    }

    void switchesStartOff()
    {
        for (QCheckBox *box : {options()->autoRetryBox(), options()->alwaysShelveBox(), options()->checkUpdatesBox()})
            QVERIFY2(!box->isChecked(), qPrintable(box->text()));
        QVERIFY(!queue()->autoRetry() && !queue()->alwaysShelve());
    }

    // The line breaks a third of the way in, before any progress report: the row is red at once
    // and shows the bytes it holds, or with the switch on waits for its first automatic retry.
    // "重试" by hand continues either way.
    void brokenTransfer_data()
    {
        QTest::addColumn<bool>("autoRetry");
        QTest::addColumn<QString>("speed");
        QTest::newRow("off: red at once") << false << u"连接中断"_s;
        QTest::newRow("on: retried by itself") << true << u"连接中断，5秒后重试（1/3）"_s;
    }
    void brokenTransfer()
    {
        QFETCH(bool, autoRetry);
        if (autoRetry)
            options()->autoRetryBox()->click();
        QCOMPARE(m_db->option(u"DownloadAutoRetry"_s) == u"1"_s, autoRetry);
        QList<int> waits;
        queue()->setScheduler([&](int ms, std::function<void()>) { waits.append(ms); });
        queue()->downloader()->setProgressInterval(1 << 30); // no report before the break
        showCatalogue();
        m_broken = true;
        QSignalSpy done(queue(), &DownloadQueue::allDownloadsDone);
        catalogue()->downloadSelected();
        QVERIFY(done.wait(10000));
        const QTreeWidgetItem *row = catalogue()->downloadList()->topLevelItem(0);
        QCOMPARE(row->foreground(DownloadList::ColProgress).color(), QColor(255, 0, 0));
        QCOMPARE(row->text(DownloadList::ColProgress), u"33%"_s);
        QCOMPARE(row->text(DownloadList::ColState), u"正在下载(97.7KB)"_s);
        QTEST(row->text(DownloadList::ColSpeed), "speed");
        QCOMPARE(waits, autoRetry ? QList<int>{5000} : QList<int>{});

        m_broken = false;
        std::unique_ptr<QMenu> menu(catalogue()->downloadList()->menuFor(0));
        const QList<QAction *> actions = menu->actions();
        (*std::find_if(actions.cbegin(), actions.cend(), [](QAction *a) { return a->text() == u"重试"_s; }))->trigger();
        QVERIFY(done.wait(10000));
        QCOMPARE(m_ranges, QByteArrayList{"bytes=100000-"});
        QCOMPARE(row->text(DownloadList::ColState), u"下载完成，已为你添加到书架！"_s);
        QVERIFY(onShelf(u"甲书"_s));
        QVERIFY(m_prompter.shown.isEmpty());
    }

    // The download is paused, the user goes to another category, and the rest comes: the
    // row says 完成 and the file stays, but the shelf gains the book only with the switch on.
    void finishedAfterLeavingTheCategory_data()
    {
        QTest::addColumn<bool>("alwaysShelve");
        QTest::newRow("off: no shelf row") << false;
        QTest::newRow("on: shelved anyway") << true;
    }
    void finishedAfterLeavingTheCategory()
    {
        QFETCH(bool, alwaysShelve);
        if (alwaysShelve)
            options()->alwaysShelveBox()->click();
        showCatalogue();
        m_stalls = true;
        queue()->downloader()->setProgressInterval(0);
        catalogue()->downloadSelected();
        QTRY_COMPARE(queue()->rows().value(0).bytesRead, BookBytes / 3);
        QCOMPARE(queue()->pauseAll(), 1);
        catalogue()->chooseCategory(1);
        QTRY_VERIFY(!catalogue()->isLoading());
        QCOMPARE(catalogue()->entries().value(0).name, u"乙书"_s);

        m_stalls = false;
        QSignalSpy done(queue(), &DownloadQueue::allDownloadsDone);
        QCOMPARE(queue()->resumeAll(), 1);
        QVERIFY(done.wait(10000));
        const QTreeWidgetItem *row = catalogue()->downloadList()->topLevelItem(0);
        QCOMPARE(row->text(DownloadList::ColProgress), u"完成"_s);
        QCOMPARE(row->text(DownloadList::ColState), u"下载完成，已为你添加到书架！"_s);
        QCOMPARE(TestSupport::readFile(m_ctx.downloadFolder + u"/甲书/甲书.txt"_s), bookText(BookBytes));
        QCOMPARE(onShelf(u"甲书"_s), alwaysShelve);
        QCOMPARE(m_window->shelf()->bookList()->topLevelItemCount(), alwaysShelve ? 1 : 0);
        QVERIFY(m_prompter.shown.isEmpty());
    }

    // A shelf book from the catalogue: start-up asks for newer copies only with the switch on.
    // "检查更新" asks whatever the switch says.
    void startUpAsksForUpdatesOnlyWhenOn_data()
    {
        QTest::addColumn<bool>("checkAtStart");
        QTest::newRow("off: nothing asked") << false;
        QTest::newRow("on: one request") << true;
    }
    void startUpAsksForUpdatesOnlyWhenOn()
    {
        QFETCH(bool, checkAtStart);
        const QString path = m_dir->filePath(u"丙书.txt"_s);
        QVERIFY(TestSupport::writeFile(path, bookText(100)));
        const qint64 id = m_db->insertBook(u"武侠仙侠"_s, u"丙书"_s, u"某人"_s, path);
        QVERIFY(RememberCatalogueOrigin(*m_db, id, u"3"_s, u"1"_s, u"2009-3-5 10:20:00"_s));
        if (checkAtStart)
            options()->checkUpdatesBox()->click();
        m_window.reset();
        m_server->requests.clear();
        openWindow();
        CatalogueUpdates *updates = m_window->catalogueUpdates();
        QCOMPARE(updates->isChecking(), checkAtStart);
        QSignalSpy checked(updates, &CatalogueUpdates::checked);
        if (checkAtStart)
            QVERIFY(checked.wait(10000));
        updates->check(false); // by hand
        QVERIFY(checked.wait(10000));
        const auto asked = std::count_if(m_server->requests.cbegin(), m_server->requests.cend(),
                                         [](const auto &r) { return r.target.startsWith("/folioway/updates/v1"); });
        QCOMPARE(asked, checkAtStart ? 2 : 1);
        QCOMPARE(m_server->requests.size(), asked); // and nothing else
    }

    // A download running at close keeps its bytes and comes back paused at the next start;
    // "全部继续" asks for the rest, or for all of it when the server's copy has changed.
    void unfinishedDownloadComesBack_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::newRow("same copy: the rest") << false;
        QTest::newRow("copy changed: from the start") << true;
    }
    void unfinishedDownloadComesBack()
    {
        QFETCH(bool, changed);
        showCatalogue();
        m_stalls = true;
        queue()->downloader()->setProgressInterval(0);
        catalogue()->downloadSelected();
        QTRY_COMPARE(queue()->rows().value(0).bytesRead, BookBytes / 3);
        const QString saveFile = queue()->rows()[0].saveFile;
        m_window->close();
        m_window.reset();
        QCOMPARE(QFileInfo(Downloader::PartFileOf(saveFile)).size(), BookBytes / 3);

        m_stalls = false;
        m_changed = changed;
        openWindow();
        QCOMPARE(queue()->rows().size(), 1);
        const QTreeWidgetItem *row = catalogue()->downloadList()->topLevelItem(0);
        QCOMPARE(row->text(DownloadList::ColTask), u" 甲书"_s);
        QCOMPARE(row->text(DownloadList::ColProgress), u"33%"_s);
        QCOMPARE(row->text(DownloadList::ColSpeed), u"已暂停"_s);
        QVERIFY(queue()->isPaused(0));
        QSignalSpy done(queue(), &DownloadQueue::allDownloadsDone);
        QCOMPARE(queue()->resumeAll(), 1);
        QVERIFY(done.wait(10000));
        QCOMPARE(m_ranges, changed ? QByteArrayList{} : QByteArrayList{"bytes=100000-"});
        QCOMPARE(TestSupport::readFile(saveFile), changed ? bookText(BookBytes + 7, 'b') : bookText(BookBytes));
        QVERIFY(!QFile::exists(Downloader::PartFileOf(saveFile)));
        // Finished, it is not brought back again.
        m_window->close();
        openWindow();
        QCOMPARE(queue()->rows().size(), 0);
    }
};

QTEST_MAIN(TestNetworkOptions)
#include "tst_network_options.moc"
