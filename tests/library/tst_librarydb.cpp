#include "TestSupport.h"
#include "library/LibraryDb.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class TestLibraryDb : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    QString dbPath() const { return m_dir.filePath(QStringLiteral("DataFile/Data.db")); }

    void fill(int count, const QString &type = QStringLiteral("武侠仙侠"))
    {
        for (int i = 0; i < count; ++i)
            QVERIFY(m_db->insertBook(type, QStringLiteral("书%1").arg(i), QStringLiteral("佚名"),
                                     QStringLiteral("/books/%1/%2.txt").arg(type).arg(i)) > 0);
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(dbPath());
        QFile::remove(dbPath() + QStringLiteral("-wal"));
        QFile::remove(dbPath() + QStringLiteral("-shm"));
        m_db = std::make_unique<LibraryDb>();
        QString error;
        QVERIFY2(m_db->open(dbPath(), &error), qPrintable(error));
    }
    void cleanup() { m_db.reset(); }

    void newFile_hasBothTablesAndOneSettingsRow()
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("folioway-library")));
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM BookList")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        QCOMPARE(m_db->downSavePath(), QString());
        QCOMPARE(m_db->autoRun(), false);
        QCOMPARE(m_db->bossKey(), QStringLiteral("Alt|Q"));
        QCOMPARE(m_db->txtColor(), QStringLiteral("000000"));
        QCOMPARE(m_db->txtSize(), QStringLiteral("中号"));
        QCOMPARE(m_db->backColor(), QStringLiteral("C7EDCC"));
    }

    void reopen_keepsRowsAndAddsNoSecondSettingsRow()
    {
        fill(3);
        m_db.reset();
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(dbPath()));
        QCOMPARE(m_db->shelfPage({}, 1).total, 3);
        m_db->saveSettings(SysSetRow{});
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("folioway-library")));
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
    }

    void quotesAndMarkup_areStoredAndFoundUnchanged()
    {
        const QString name = QStringLiteral("It's 'quoted' \"twice\"");
        const QString author = QStringLiteral("O'Brien; DROP TABLE BookList;--");
        const QString path = QStringLiteral("/home/me/Tom's books/<b>书</b>'.txt");
        const qint64 id = m_db->insertBook(QStringLiteral("其他分类"), name, author, path);
        QVERIFY(id > 0);
        const auto byPath = m_db->findByPath(path);
        QVERIFY(byPath);
        QCOMPARE(byPath->name, name);
        QCOMPARE(byPath->author, author);
        QCOMPARE(byPath->path, path);
        QCOMPARE(m_db->findByName(name)->id, id);
        QVERIFY(m_db->setBookmark(path, QStringLiteral("第一章 'It's' <i>")));
        QCOMPARE(m_db->findById(id)->marke, QStringLiteral("第一章 'It's' <i>"));
    }

    void lookups_ignoreLetterCase_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("found");
        QTest::newRow("same") << "/Books/Novel.TXT" << "/Books/Novel.TXT" << true;
        QTest::newRow("lower") << "/Books/Novel.TXT" << "/books/novel.txt" << true;
        QTest::newRow("upper") << "/books/novel.txt" << "/BOOKS/NOVEL.TXT" << true;
        QTest::newRow("chinese") << "/书/三国.txt" << "/书/三国.TXT" << true;
        QTest::newRow("trailing blank") << "/Books/Novel.TXT" << "/Books/Novel.TXT " << false;
        QTest::newRow("other file") << "/Books/Novel.TXT" << "/Books/Novel2.TXT" << false;
    }
    void lookups_ignoreLetterCase()
    {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        QFETCH(bool, found);
        const qint64 id = m_db->insertBook(QStringLiteral("其他分类"), stored, QString(), stored);
        QCOMPARE(m_db->findByPath(asked).has_value(), found);
        QCOMPARE(m_db->findByName(asked).has_value(), found);
        QCOMPARE(m_db->findByPathExcept(asked, id).has_value(), false);
        QCOMPARE(m_db->findByPathExcept(asked, id + 1).has_value(), found);
    }

    void insert_setsNullBookmarkAndInsertionTime()
    {
        const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 33));
        m_db->setClock([when] { return when; });
        const qint64 id = m_db->insertBook(QStringLiteral("武侠仙侠"), QStringLiteral("书"), QStringLiteral("佚名"),
                                           QStringLiteral("/a.txt"));
        const auto row = m_db->findById(id);
        QCOMPARE(row->marke, QStringLiteral("Null"));
        QCOMPARE(row->lastread, when);

        const QDateTime later = when.addDays(1);
        m_db->setClock([later] { return later; });
        QVERIFY(m_db->touchLastRead(QStringLiteral("/A.TXT")));
        QCOMPARE(m_db->findById(id)->lastread, later);
    }

    void delete_leavesOtherRowsAndIdsUnchanged()
    {
        fill(5);
        const ShelfPage before = m_db->shelfPage({}, 1);
        QVERIFY(m_db->deleteBook(before.rows[2].id));
        const ShelfPage after = m_db->shelfPage({}, 1);
        QCOMPARE(after.total, 4);
        QList<BookRecord> expected = before.rows;
        expected.removeAt(2);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(after.rows[i].id, expected[i].id);
            QCOMPARE(after.rows[i].path, expected[i].path);
        }
        // A new row never takes the deleted id.
        const qint64 next = m_db->insertBook(QStringLiteral("武侠仙侠"), QStringLiteral("n"), QString(),
                                             QStringLiteral("/n.txt"));
        QVERIFY(next > before.rows[0].id);
    }

    void update_changesOnlyThatRow()
    {
        fill(2);
        const ShelfPage page = m_db->shelfPage({}, 1);
        QVERIFY(m_db->updateBook(page.rows[0].id, QStringLiteral("历史军事"), QStringLiteral("新名"),
                                 QStringLiteral("作者"), QStringLiteral("/new.txt")));
        const auto changed = m_db->findById(page.rows[0].id);
        QCOMPARE(changed->type, QStringLiteral("历史军事"));
        QCOMPARE(changed->path, QStringLiteral("/new.txt"));
        QCOMPARE(m_db->findById(page.rows[1].id)->path, page.rows[1].path);
    }

    void shelfPage_pagesByFortyNewestFirst_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<int>("askedPage");
        QTest::addColumn<int>("shownPage");
        QTest::addColumn<int>("pageCount");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0 << 1 << 0 << 0 << 0;
        QTest::newRow("one") << 1 << 1 << 1 << 1 << 1;
        QTest::newRow("exactly forty") << 40 << 1 << 1 << 1 << 40;
        QTest::newRow("41, page 1") << 41 << 1 << 1 << 2 << 40;
        QTest::newRow("41, page 2") << 41 << 2 << 2 << 2 << 1;
        QTest::newRow("page 0 is page 1") << 41 << 0 << 1 << 2 << 40;
        QTest::newRow("negative page") << 41 << -3 << 1 << 2 << 40;
        QTest::newRow("past the end shows the last") << 85 << 9 << 3 << 3 << 5;
    }
    void shelfPage_pagesByFortyNewestFirst()
    {
        QFETCH(int, books);
        QFETCH(int, askedPage);
        QFETCH(int, shownPage);
        QFETCH(int, pageCount);
        QFETCH(int, rows);
        fill(books);
        const ShelfPage page = m_db->shelfPage({}, askedPage);
        QCOMPARE(page.page, shownPage);
        QCOMPARE(page.pageCount, pageCount);
        QCOMPARE(page.rows.size(), rows);
        for (int i = 1; i < page.rows.size(); ++i)
            QVERIFY(page.rows[i - 1].id > page.rows[i].id);
    }

    void shelfPage_filtersByCategory()
    {
        fill(3, QStringLiteral("武侠仙侠"));
        fill(2, QStringLiteral("都市言情"));
        QCOMPARE(m_db->shelfPage({QStringLiteral("都市言情")}, 1).total, 2);
        QCOMPARE(m_db->shelfPage({QStringLiteral("武侠仙侠")}, 1).total, 3);
        QCOMPARE(m_db->shelfPage({QStringLiteral("学习资料")}, 1).rows.size(), 0);
        QCOMPARE(m_db->shelfPage({}, 1).total, 5);
    }

    void settings_saveTwiceKeepsOneRow()
    {
        SysSetRow row;
        row.downSavePath = QStringLiteral("/tmp/书 下载");
        row.autoRun = true;
        row.bossKey = QStringLiteral("Ctrl|q");
        row.txtColor = QStringLiteral("FF0000");
        row.txtSize = QStringLiteral("特大号");
        row.backColor = QStringLiteral("FFFFFF");
        QVERIFY(m_db->saveSettings(row));
        row.txtSize = QStringLiteral("小号");
        QVERIFY(m_db->saveSettings(row));
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("folioway-library")));
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(m_db->downSavePath(), row.downSavePath);
        QCOMPARE(m_db->autoRun(), true);
        QCOMPARE(m_db->bossKey(), row.bossKey);
        QCOMPARE(m_db->txtSize(), QStringLiteral("小号"));

        QVERIFY(q.exec(QStringLiteral("DELETE FROM SysSet")));
        QVERIFY(m_db->saveSettings(row));
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(m_db->setDownSavePath(QStringLiteral("/x")));
        QCOMPARE(m_db->downSavePath(), QStringLiteral("/x"));
    }

    void damagedFile_isRefusedAndLeftUntouched_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << QByteArray("这不是数据库\nnot a database at all\n").repeated(50);
        QTest::newRow("binary") << QByteArray(4096, '\xAB');
        QByteArray header("SQLite format 3");
        header.append('\0');
        header.append(QByteArray(84, '\xFF'));
        QTest::newRow("broken header") << header;
    }
    void damagedFile_isRefusedAndLeftUntouched()
    {
        QFETCH(QByteArray, bytes);
        m_db.reset();
        const QString path = m_dir.filePath(QStringLiteral("damaged/DataFile/Data.db"));
        QVERIFY(TestSupport::writeFile(path, bytes));
        LibraryDb db(QStringLiteral("damaged"));
        QString error;
        QVERIFY(!db.open(path, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(TestSupport::readFile(path), bytes);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    }
};

QTEST_GUILESS_MAIN(TestLibraryDb)
#include "tst_librarydb.moc"
