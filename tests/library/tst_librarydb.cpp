#include "library/LibraryDb.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLibraryDb : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    QString dbPath() const { return m_dir.filePath(u"DataFile/Data.db"_s); }

    static int rows(const QString &table)
    {
        QSqlQuery q(QSqlDatabase::database(u"folioway-library"_s));
        return q.exec(u"SELECT count(*) FROM "_s + table) && q.next() ? q.value(0).toInt() : -1;
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(dbPath());
        QFile::remove(dbPath() + u"-wal"_s);
        QFile::remove(dbPath() + u"-shm"_s);
        m_db = std::make_unique<LibraryDb>();
        QString error;
        QVERIFY2(m_db->open(dbPath(), &error), qPrintable(error));
    }
    void cleanup() { m_db.reset(); }

    void quotesAndMarkup_areStoredAndFoundUnchanged_lookupsIgnoreCase()
    {
        const QString name = u"It's 'quoted' \"twice\""_s;
        const QString author = u"O'Brien; DROP TABLE BookList;--"_s;
        const QString path = u"/home/me/Tom's books/<b>书</b>'.txt"_s;
        const qint64 id = m_db->insertBook(u"其他分类"_s, name, author, path);
        QVERIFY(id > 0);
        const auto byPath = m_db->findByPath(path);
        QVERIFY(byPath);
        QCOMPARE((QStringList{byPath->name, byPath->author, byPath->path}), (QStringList{name, author, path}));
        QCOMPARE(m_db->findByName(name)->id, id);
        // Lookups ignore letter case, not blanks.
        QCOMPARE(m_db->findByPath(path.toUpper())->id, id);
        QCOMPARE(m_db->findByName(name.toLower())->id, id);
        QVERIFY(!m_db->findByPath(path + u" "_s) && !m_db->findByPathExcept(path.toUpper(), id));
        QVERIFY(m_db->setBookmark(path, u"第一章 'It's' <i>"_s));
        QCOMPARE(m_db->findById(id)->marke, u"第一章 'It's' <i>"_s);
    }

    // Text columns come in pinyin order (numbers by value), either way; ties newest first.
    void shelfOrder_textColumnsByPinyin_data()
    {
        QTest::addColumn<ShelfSort>("sort");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("title") << ShelfSort::Name << false
                               << QStringList{u"阿Q正传"_s, u"白鹿原"_s,   u"第2卷"_s, u"第10卷"_s,
                                              u"红楼梦"_s,  u"三国演义"_s, u"西游记"_s};
        QTest::newRow("title, reversed") << ShelfSort::Name << true
                                         << QStringList{u"西游记"_s, u"三国演义"_s, u"红楼梦"_s, u"第10卷"_s,
                                                        u"第2卷"_s,  u"白鹿原"_s,   u"阿Q正传"_s};
        QTest::newRow("author, a tie newest first")
            << ShelfSort::Author << false
            << QStringList{u"红楼梦"_s, u"白鹿原"_s, u"阿Q正传"_s, u"三国演义"_s, u"第10卷"_s, u"第2卷"_s, u"西游记"_s};
    }
    void shelfOrder_textColumnsByPinyin()
    {
        QFETCH(ShelfSort, sort);
        QFETCH(bool, descending);
        const QStringList books{u"西游记|吴承恩"_s, u"红楼梦|曹雪芹"_s, u"三国演义|罗贯中"_s, u"第2卷|某"_s,
                                u"阿Q正传|鲁迅"_s,  u"白鹿原|陈忠实"_s, u"第10卷|某"_s};
        for (const QString &b : books)
            QVERIFY(m_db->insertBook(u"其他分类"_s, b.section(u'|', 0, 0), b.section(u'|', 1), u"/b/"_s + b) > 0);
        QStringList titles;
        for (int page = 1; page <= 2; ++page) { // the order runs on across pages
            for (const BookRecord &r : m_db->shelfPage({{}, {}, sort, descending}, page, 4).rows)
                titles << r.name;
        }
        QTEST(titles, "titles");
    }

    // A new file has one settings row (its colours and size are checked through the page in
    // tst_reader_pane); saving twice and opening the file again still leaves one, with the last values.
    // A book's bookmark list across a reopening of the file. A note or a removal stamps the row's
    // change time and a removal keeps its row, so the changes can be carried elsewhere; a version
    // brought in replaces only an older one.
    void bookmarkList_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QStringList>("notes"); // of the live entries, oldest first
        QTest::addColumn<int>("changed");       // rows changed after both were added
        QTest::newRow("note edited") << u"note"_s << QStringList{u"改过"_s, u"二"_s} << 1;
        QTest::newRow("removed") << u"remove"_s << QStringList{u"二"_s} << 1;
        QTest::newRow("an older version brought in") << u"older"_s << QStringList{u"一"_s, u"二"_s} << 0;
        QTest::newRow("a newer version brought in") << u"newer"_s << QStringList{u"别处"_s, u"二"_s} << 1;
    }
    void bookmarkList()
    {
        QFETCH(QString, step);
        qint64 now = 1765000000000;
        m_db->setClock([&now] { return QDateTime::fromMSecsSinceEpoch(now += 1000); });
        const QString book = u"/书/It's.txt"_s;
        auto entry = [](const QString &path, int chapter, const QString &title, const QString &note) {
            BookmarkEntry e;
            std::tie(e.book, e.chapter, e.chapterTitle, e.fraction, e.excerpt, e.note) =
                std::tuple(path, chapter, title, 0.25, u"山间小路"_s, note);
            return e;
        };
        BookmarkEntry first = entry(book, 3, u"第3章 'a'"_s, u"一"_s);
        BookmarkEntry second = entry(book, 7, u"第7章"_s, u"二"_s);
        BookmarkEntry other = entry(u"/书/别的.txt"_s, 1, u"第1章"_s, {});
        QVERIFY(m_db->bookmarks().add(first) && m_db->bookmarks().add(second) && m_db->bookmarks().add(other));
        QVERIFY(!first.id.isEmpty() && first.id != second.id);
        const qint64 added = now;
        BookmarkEntry version = first;
        version.note = u"别处"_s;
        version.changed = step == u"older" ? first.changed - 1 : now + 5000;
        if (step == u"note")
            QVERIFY(m_db->bookmarks().setNote(book, first.id, u"改过"_s));
        else if (step == u"remove")
            QVERIFY(m_db->bookmarks().remove(book, first.id));
        else
            QVERIFY(m_db->bookmarks().store(version));

        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(dbPath()));
        const QList<BookmarkEntry> kept = m_db->bookmarks().list(book.toUpper());
        QStringList notes;
        for (const BookmarkEntry &e : kept)
            notes << e.note;
        QTEST(notes, "notes");
        QCOMPARE(kept.last(), second);
        const QList<BookmarkEntry> changed = m_db->bookmarks().changedSince(added);
        QTEST(int(changed.size()), "changed");
        if (step == u"remove")
            QVERIFY(changed.first().removed && changed.first().excerpt == first.excerpt);
        QCOMPARE(rows(u"Bookmarks"_s), 3);
    }

    void settings_alwaysOneRow()
    {
        QCOMPARE(rows(u"SysSet"_s), 1);
        QCOMPARE(m_db->bossKey(), u"Alt|Q"_s);
        SysSetRow row{u"/tmp/书 下载"_s, true, u"Ctrl|q"_s, u"FF0000"_s, u"特大号"_s, u"FFFFFF"_s};
        QVERIFY(m_db->saveSettings(row));
        row.txtSize = u"小号"_s;
        QVERIFY(m_db->saveSettings(row));
        m_db.reset();
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(dbPath()));
        QCOMPARE(rows(u"SysSet"_s), 1);
        QCOMPARE((QStringList{m_db->downSavePath(), m_db->bossKey(), m_db->txtSize()}),
                 (QStringList{row.downSavePath, row.bossKey, u"小号"_s}));
        QVERIFY(m_db->autoRun());

        QVERIFY(QSqlQuery(QSqlDatabase::database(u"folioway-library"_s)).exec(u"DELETE FROM SysSet"_s));
        QVERIFY(m_db->saveSettings(row));
        QCOMPARE(rows(u"SysSet"_s), 1);
        QVERIFY(m_db->setDownSavePath(u"/x"_s));
        QCOMPARE(m_db->downSavePath(), u"/x"_s);
    }
};

QTEST_GUILESS_MAIN(TestLibraryDb)
#include "tst_librarydb.moc"
