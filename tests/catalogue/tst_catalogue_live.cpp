#include "LiveServer.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/DownloadQueue.h"
#include "library/LibraryDb.h"
#include "net/RequestSlot.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The catalogue conversation against the real server with its demo books.
class TestCatalogueLive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LiveServer m_server;
    RequestSlot m_slot;

    CatalogueAnswer fetch(const QString &address)
    {
        QSignalSpy spy(&m_slot, &RequestSlot::finished);
        m_slot.readHTTP(address);
        if (!spy.wait(15000))
            return {};
        return ParseCatalogueAnswer(spy[0][0].value<HttpResult>());
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LiveServer::binary(TestSupport::binDir()).isEmpty())
            QSKIP("folioway-server is not built");
        QVERIFY2(
            m_server.start(TestSupport::binDir(), {QStringLiteral("--data"), m_dir.filePath(QStringLiteral("server")),
                                                   QStringLiteral("--demo")}),
            qPrintable(m_server.output()));
    }

    void listPagingAndSearch()
    {
        CatalogueQuery query;
        query.selectCategory(QStringLiteral("全部资源 "));
        const CatalogueAnswer all = fetch(CategoryListUrl(m_server.baseUrl(), query));
        QCOMPARE(all.outcome, AnswerOutcome::Filled);
        QVERIFY(!all.entries.isEmpty());
        QCOMPARE(all.paging.currentPage, QStringLiteral("1"));
        QVERIFY(all.paging.totalPages.toInt() >= 2);

        const CatalogueAnswer second = fetch(CataloguePageUrl(m_server.baseUrl(), query, all.paging.nextPage));
        QCOMPARE(second.outcome, AnswerOutcome::Filled);
        QCOMPARE(second.paging.currentPage, QStringLiteral("2"));
        QVERIFY(second.entries.first().id != all.entries.first().id);

        query.selectCategory(BookCategories().at(1));
        const CatalogueAnswer category = fetch(CategoryListUrl(m_server.baseUrl(), query));
        QVERIFY(!category.entries.isEmpty());
        for (const CatalogueEntry &entry : category.entries)
            QCOMPARE(entry.category, BookCategories().at(1));

        const QString title = category.entries.first().name;
        query.search(title);
        const CatalogueAnswer found = fetch(SearchUrl(m_server.baseUrl(), query));
        QVERIFY(!found.entries.isEmpty());
        QCOMPARE(found.entries.first().name, title);
    }

    void zipBookDownloadsOntoTheShelf()
    {
        CatalogueQuery query;
        query.selectCategory(QStringLiteral("全部资源"));
        QList<CatalogueEntry> rows;
        std::optional<CatalogueEntry> zipped;
        for (int page = 1; !zipped && page <= 20; ++page) {
            const CatalogueAnswer answer = fetch(CataloguePageUrl(m_server.baseUrl(), query, QString::number(page)));
            QCOMPARE(answer.outcome, AnswerOutcome::Filled);
            for (const CatalogueEntry &entry : answer.entries) {
                if (entry.downurl.endsWith(QLatin1String(".zip"))) {
                    zipped = entry;
                    rows = answer.entries;
                    break;
                }
            }
            if (answer.paging.currentPage == answer.paging.totalPages)
                break;
        }
        QVERIFY2(zipped, "no zip book in the demo catalogue");

        LibraryDb db(QStringLiteral("live-test"));
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("DataFile/Data.db"))));
        ScriptedPrompter prompter;
        DownloadQueue queue(&db, prompter);
        queue.setDownloadFolder(m_dir.filePath(QStringLiteral("TxtBook")));
        queue.setCatalogueRows([&] { return rows; });
        QSignalSpy done(&queue, &DownloadQueue::allDownloadsDone);
        QSignalSpy imported(&queue, &DownloadQueue::imported);

        const DownloadStart start = DownloadStartFor(m_server.baseUrl(), zipped->downurl);
        QVERIFY(queue.downloadaFile(start.caption, start.url, start.fileName));
        QVERIFY(done.wait(30000));
        QCOMPARE(done[0][0].toStringList(), QStringList{});
        QCOMPARE(imported.size(), 1);
        const ImportResult result = imported[0][1].value<ImportResult>();
        QCOMPARE(result.outcome, ImportResult::Outcome::Added);
        QVERIFY(prompter.shown.isEmpty());

        const auto book = db.findByPath(result.textFile);
        QVERIFY(book);
        QCOMPARE(book->name, zipped->name);
        QCOMPARE(book->author, zipped->author);
        QCOMPARE(book->type, zipped->category);
        QVERIFY(
            result.textFile.startsWith(m_dir.filePath(QStringLiteral("TxtBook/")) + start.caption + QLatin1Char('/')));
        QVERIFY(QFileInfo(result.textFile).size() > 0);
        QVERIFY(!QFileInfo::exists(queue.rows()[0].saveFile));
        QCOMPARE(queue.rows()[0].progress, QStringLiteral("完成"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueLive)
#include "tst_catalogue_live.moc"
