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

    // Own heading rules: none until one is added, then kept unchanged, in order, across a reopen.
    void headingRules_keptInOrder()
    {
        HeadingRuleList &rules = m_db->headingRules();
        QVERIFY(rules.rules().isEmpty());
        const qint64 a = rules.add(u"方括号"_s, u"^【[^】]+】$"_s);
        const qint64 b = rules.add(QString(), u"^chapter\\s+\\d+|'; --"_s);
        const qint64 c = rules.add(u"删掉"_s, u"x"_s);
        QVERIFY(a > 0 && b > a && c > b);
        QVERIFY(rules.update({a, u"改名"_s, u"^【.】"_s}) && rules.remove(c));
        m_db.reset();
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(dbPath()));
        QCOMPARE(m_db->headingRules().rules(), (QList<HeadingRuleRow>{{a, u"改名"_s, u"^【.】"_s},
                                                                     {b, QString(), u"^chapter\\s+\\d+|'; --"_s}}));
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
