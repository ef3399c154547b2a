#include "catalogue/CatalogueNavigation.h"
#include "catalogue/CatalogueProtocol.h"

#include <QtTest>

namespace {

const QString Base = QStringLiteral("http://srv:8080");
const QDateTime When(QDate(2024, 3, 7), QTime(9, 5, 33));
const QString Rnt = QStringLiteral("&rnt=2024/3/7%209:05:33");

QByteArray book(const QByteArray &id, const QByteArray &size = "2048", const QByteArray &skip = {})
{
    const QList<QPair<QByteArray, QByteArray>> fields = {{"id", id},
                                                         {"name", "书" + id},
                                                         {"class", "武侠仙侠"},
                                                         {"author", "佚名"},
                                                         {"statue", "连载"},
                                                         {"ftime", "2009-3-5 10:20:00"},
                                                         {"size", size},
                                                         {"downurl", "/books/" + id + "/b" + id + ".zip"}};
    QByteArray xml = "<bookinfo>";
    for (const auto &[name, value] : fields) {
        if (name != skip)
            xml += "<" + name + ">" + value + "</" + name + ">";
    }
    return xml + "</bookinfo>";
}

QByteArray answer(const QByteArray &books,
                  const QByteArray &other = "<otherinfo><pageinfo>7,140,3,2,4</pageinfo></otherinfo>")
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><list>" + books + other + "</list>";
}

} // namespace

class TestCatalogueProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urls_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        const QString list = Base + QStringLiteral("/readerserver/listbook.asp");
        const QString wuxia = QStringLiteral("%E6%AD%A6%E4%BE%A0%E4%BB%99%E4%BE%A0");

        CatalogueQuery category;
        category.selectCategory(QStringLiteral("武侠仙侠 "));
        QTest::newRow("category button") << CategoryListUrl(Base, category, When)
                                         << list + QStringLiteral("?action=list&type=") + wuxia + Rnt;
        QTest::newRow("first page of a category")
            << CataloguePageUrl(Base, category, QStringLiteral("1"), When)
            << list + QStringLiteral("?action=list&type=") + wuxia + QStringLiteral("&page=1") + Rnt;

        CatalogueQuery search = category;
        search.search(QStringLiteral(" 剑 来 "));
        const QString key = QStringLiteral("%E5%89%91%20%E6%9D%A5");
        QTest::newRow("search sends only the key")
            << SearchUrl(Base, search, When) << list + QStringLiteral("?action=search&key=") + key + Rnt;
        QTest::newRow("paging after search carries the earlier type")
            << CataloguePageUrl(Base, search, QStringLiteral("4"), When)
            << list + QStringLiteral("?action=search&type=") + wuxia + QStringLiteral("&key=") + key +
                   QStringLiteral("&page=4") + Rnt;

        CatalogueQuery searchOnly;
        searchOnly.search(QStringLiteral("a&b"));
        QTest::newRow("search before any category") << CataloguePageUrl(Base, searchOnly, QStringLiteral("2"), When)
                                                    << list + QStringLiteral("?action=search&key=a%26b&page=2") + Rnt;

        const QString user = Base + QStringLiteral("/readerserver/ListUserBook.asp?uname=%E5%BC%A0%E4%B8%89");
        QTest::newRow("user books") << UserBooksUrl(Base, QStringLiteral("张三"), std::nullopt, When) << user + Rnt;
        QTest::newRow("user books page") << UserBooksUrl(Base, QStringLiteral("张三"), QStringLiteral("3"), When)
                                         << user + QStringLiteral("&page=3") + Rnt;
    }
    void urls()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(url, expected);
        QVERIFY(!url.contains(QLatin1Char(' ')));
    }

    void parse_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<AnswerOutcome>("outcome");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("display");

        QTest::newRow("two books") << 200 << answer(book("1") + book("2")) << AnswerOutcome::Filled
                                   << QStringList{"1", "2"} << "3/7";
        QTest::newRow("no books, paging still taken")
            << 200 << answer({}) << AnswerOutcome::Filled << QStringList{} << "3/7";
        QTest::newRow("not 200 is ignored")
            << 404 << answer(book("1")) << AnswerOutcome::Ignored << QStringList{} << "1/1";
        QTest::newRow("transport failure is ignored")
            << 0 << QByteArray() << AnswerOutcome::Ignored << QStringList{} << "1/1";
        QTest::newRow("malformed xml is no data")
            << 200 << QByteArray("<list><bookinfo><id>1</id>") << AnswerOutcome::NoData << QStringList{} << "1/1";
        QTest::newRow("html page is no data")
            << 200 << QByteArray("<html><body>500</body></html>") << AnswerOutcome::NoData << QStringList{} << "1/1";
        QTest::newRow("books without otherinfo")
            << 200 << answer(book("1"), {}) << AnswerOutcome::NoData << QStringList{"1"} << "1/1";
        QTest::newRow("missing field stops at that book")
            << 200 << answer(book("1") + book("2", "5", "author") + book("3")) << AnswerOutcome::Stopped
            << QStringList{"1"} << "1/1";
        QTest::newRow("size not a number stops")
            << 200 << answer(book("1") + book("2", "大")) << AnswerOutcome::Stopped << QStringList{"1"} << "1/1";
        QTest::newRow("short pageinfo keeps paging")
            << 200 << answer(book("1"), "<otherinfo><pageinfo>7,140,3</pageinfo></otherinfo>") << AnswerOutcome::Stopped
            << QStringList{"1"} << "1/1";
        QTest::newRow("otherinfo without pageinfo")
            << 200 << answer(book("1"), "<otherinfo/>") << AnswerOutcome::Stopped << QStringList{"1"} << "1/1";
        QTest::newRow("only the first otherinfo counts")
            << 200
            << answer({}, "<x><otherinfo><a/></otherinfo><otherinfo><pageinfo>9,0,9,8,9</pageinfo></otherinfo></x>")
            << AnswerOutcome::Stopped << QStringList{} << "1/1";
        QTest::newRow("doctype refused") << 200 << QByteArray("<!DOCTYPE list [<!ENTITY e \"x\">]>") + answer(book("1"))
                                         << AnswerOutcome::NoData << QStringList{} << "1/1";
    }
    void parse()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(AnswerOutcome, outcome);
        QFETCH(QStringList, ids);
        QFETCH(QString, display);
        const CatalogueAnswer result = ParseCatalogueAnswer(status, body);
        QCOMPARE(result.outcome, outcome);
        QStringList got;
        for (const CatalogueEntry &entry : result.entries)
            got.append(entry.id);
        QCOMPARE(got, ids);
        QCOMPARE(result.paging.display(), display);
    }

    void parse_fillsRowCells()
    {
        const CatalogueAnswer result = ParseCatalogueAnswer(200, answer(book("12", "20480")));
        QCOMPARE(result.entries.size(), 1);
        QCOMPARE(result.entries[0].cells(), (QStringList{"12", "武侠仙侠", "书12", "佚名", "连载", "2009/3/5",
                                                         "20.0 MB", "双击下载", "/books/12/b12.zip"}));
        QCOMPARE(result.paging.previousPage, QStringLiteral("2"));
        QCOMPARE(result.paging.nextPage, QStringLiteral("4"));
        QCOMPARE(CatalogueEntry::columnCaptions().size(), 9);
    }

    void formatSizeKB_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("text");
        QTest::newRow("below one kilobyte") << "0.5"
                                            << "0.5 Bytes";
        QTest::newRow("zero") << "0"
                              << "0 Bytes";
        QTest::newRow("one") << "1"
                             << "1.00 KB";
        QTest::newRow("5") << "5"
                           << "5.00 KB";
        QTest::newRow("9.999") << "9.999"
                               << "10.00 KB";
        QTest::newRow("12") << "12"
                            << "12.0 KB";
        QTest::newRow("512") << "512"
                             << "512 KB";
        QTest::newRow("999") << "999"
                             << "999 KB";
        QTest::newRow("1000 already MB") << "1000"
                                         << "0.98 MB";
        QTest::newRow("2048") << "2048"
                              << "2.00 MB";
        QTest::newRow("20480") << "20480"
                               << "20.0 MB";
        QTest::newRow("204800") << "204800"
                                << "200 MB";
        QTest::newRow("1000000 already GB") << "1000000"
                                            << "0.95 GB";
        QTest::newRow("10485760") << "10485760"
                                  << "10.0 GB";
        QTest::newRow("digit grouping") << "1048576000000"
                                        << "1,000,000.0 GB";
        QTest::newRow("blanks around") << " 5 "
                                       << "5.00 KB";
    }
    void formatSizeKB()
    {
        QFETCH(QString, size);
        QFETCH(QString, text);
        QCOMPARE(FormatSizeKB(size), std::optional<QString>(text));
    }

    void formatSizeKB_refusesNonNumbers_data()
    {
        QTest::addColumn<QString>("size");
        QTest::newRow("empty") << "";
        QTest::newRow("word") << "abc";
        QTest::newRow("unit") << "12KB";
        QTest::newRow("infinite") << "inf";
    }
    void formatSizeKB_refusesNonNumbers()
    {
        QFETCH(QString, size);
        QVERIFY(!FormatSizeKB(size));
    }

    void formatListDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("date and time") << "2009-3-5 10:20:00"
                                       << "2009/3/5";
        QTest::newRow("leading zeros dropped") << "2009/03/05"
                                               << "2009/3/5";
        QTest::newRow("iso") << "2021-12-01T08:00:00"
                             << "2021/12/1";
        QTest::newRow("chinese") << "2010年1月2日"
                                 << "2010/1/2";
        QTest::newRow("short time") << "2010-1-2 9:05"
                                    << "2010/1/2";
        QTest::newRow("impossible day unchanged") << "2009-2-30"
                                                  << "2009-2-30";
        QTest::newRow("text unchanged") << "昨天"
                                        << "昨天";
        QTest::newRow("empty unchanged") << ""
                                         << "";
    }
    void formatListDate()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(FormatListDate(text), shown);
    }

    void userBooks_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<unsigned>("reviewColor");
        QTest::newRow("serial with size, pending")
            << QByteArray("<id>3</id><class>其他分类</class><name>甲</name><statue>连载</statue><newchap>12</newchap>"
                          "<ftime>2009-3-5</ftime><checkif>0</checkif>")
            << QStringList{"3", "其他分类", "甲", "连载：12.0 KB", "2009/3/5", "待审核"} << 0x808080u;
        QTest::newRow("complete shows status alone, approved")
            << QByteArray("<id>4</id><class>c</class><name>乙</name><statue>全集</statue><newchap>12</newchap>"
                          "<ftime>x</ftime><checkif>1</checkif>")
            << QStringList{"4", "c", "乙", "全集", "x", "已审核"} << 0x008000u;
        QTest::newRow("bad newchap, rejected")
            << QByteArray("<id>5</id><class>c</class><name>丙</name><statue>连载</statue><newchap>n/a</newchap>"
                          "<ftime>2009-3-5</ftime><checkif>2</checkif>")
            << QStringList{"5", "c", "丙", "连载：", "2009/3/5", "审核未通过"} << 0xFF0000u;
        QTest::newRow("missing fields leave cells empty")
            << QByteArray("<name>丁</name>") << QStringList{"", "", "丁", "：", "", "待审核"} << 0x808080u;
    }
    void userBooks()
    {
        QFETCH(QByteArray, fields);
        QFETCH(QStringList, cells);
        QFETCH(unsigned, reviewColor);
        const UserBooksAnswer result =
            ParseUserBooksAnswer(200, answer("<bookinfo>" + fields + "</bookinfo>"), CataloguePaging{});
        QCOMPARE(result.outcome, AnswerOutcome::Filled);
        QCOMPARE(result.entries.size(), 1);
        QCOMPARE(result.entries[0].cells(), cells);
        QCOMPARE(result.entries[0].reviewColor(), reviewColor);
    }

    void userBooks_shortPageInfoKeepsMissingFields()
    {
        CataloguePaging before;
        before.currentPage = QStringLiteral("2");
        before.totalPages = QStringLiteral("5");
        before.previousPage = QStringLiteral("1");
        before.nextPage = QStringLiteral("3");
        const UserBooksAnswer result =
            ParseUserBooksAnswer(200, answer({}, "<otherinfo><pageinfo>6,0,4</pageinfo></otherinfo>"), before);
        QCOMPARE(result.outcome, AnswerOutcome::Filled);
        QCOMPARE(result.paging.display(), QStringLiteral("4/6"));
        QCOMPARE(result.paging.previousPage, QStringLiteral("1"));
        QCOMPARE(result.paging.nextPage, QStringLiteral("3"));
        QCOMPARE(ParseUserBooksAnswer(200, answer({}, {}), before).outcome, AnswerOutcome::NoData);
        QCOMPARE(ParseUserBooksAnswer(500, answer({}), before).outcome, AnswerOutcome::Ignored);
    }

    void paging_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("total");
        QTest::addColumn<int>("button"); // 0 first, 1 previous, 2 next, 3 last, 4 go
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("message");
        QTest::newRow("first on page 1") << "1"
                                         << "5" << 0 << ""
                                         << ""
                                         << "当前已是第一页!";
        QTest::newRow("first from page 3") << "3"
                                           << "5" << 0 << ""
                                           << "1"
                                           << "";
        QTest::newRow("previous on page 1") << "1"
                                            << "5" << 1 << ""
                                            << ""
                                            << "前面没有了，当前已是第一页!";
        QTest::newRow("previous") << "3"
                                  << "5" << 1 << ""
                                  << "2"
                                  << "";
        QTest::newRow("next on the last page") << "5"
                                               << "5" << 2 << ""
                                               << ""
                                               << "后面没有了，当前已是最后一页!";
        QTest::newRow("next") << "3"
                              << "5" << 2 << ""
                              << "4"
                              << "";
        QTest::newRow("last on the last page") << "5"
                                               << "5" << 3 << ""
                                               << ""
                                               << "当前已是最后一页!";
        QTest::newRow("last") << "3"
                              << "5" << 3 << ""
                              << "5"
                              << "";
        QTest::newRow("go rounds down") << "1"
                                        << "5" << 4 << " 3.7 "
                                        << "3"
                                        << "";
        QTest::newRow("go to 0") << "1"
                                 << "5" << 4 << "0"
                                 << ""
                                 << "输入的页码有误,一共才5页,请重新输入!";
        QTest::newRow("go past the end") << "1"
                                         << "5" << 4 << "6"
                                         << ""
                                         << "输入的页码有误,一共才5页,请重新输入!";
        QTest::newRow("go with letters") << "1"
                                         << "5" << 4 << "abc"
                                         << ""
                                         << "输入的页码有误,请重新输入!";
        QTest::newRow("go with nothing") << "1"
                                         << "5" << 4 << "  "
                                         << ""
                                         << "输入的页码有误,请重新输入!";
    }
    void paging()
    {
        QFETCH(QString, current);
        QFETCH(QString, total);
        QFETCH(int, button);
        QFETCH(QString, box);
        QFETCH(QString, page);
        QFETCH(QString, message);
        CataloguePaging paging;
        paging.currentPage = current;
        paging.totalPages = total;
        paging.previousPage = QString::number(current.toInt() - 1);
        paging.nextPage = QString::number(current.toInt() + 1);
        const PageStep steps[] = {FirstPageStep(paging), PreviousPageStep(paging), NextPageStep(paging),
                                  LastPageStep(paging), GoToPageStep(paging, box)};
        const PageStep step = steps[button];
        QCOMPARE(step.page.value_or(QString()), page);
        QCOMPARE(step.message, message);
    }

    void searchKeyword_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("message");
        QTest::newRow("one character") << " 剑 "
                                       << ""
                                       << "请输入至少2位的关键字进行搜索！";
        QTest::newRow("two chinese characters") << "剑来"
                                                << "剑来"
                                                << "";
        QTest::newRow("placeholder") << "输入书名或作者"
                                     << ""
                                     << "请输入一个正确的关键字！";
        QTest::newRow("trimmed") << "  天龙八部 "
                                 << "天龙八部"
                                 << "";
    }
    void searchKeyword()
    {
        QFETCH(QString, box);
        QFETCH(QString, keyword);
        QFETCH(QString, message);
        const SearchStep step = CheckSearchKeyword(box);
        QCOMPARE(step.keyword.value_or(QString()), keyword);
        QCOMPARE(step.message, message);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueProtocol)
#include "tst_catalogueprotocol.moc"
