#include "catalogue/CatalogueNavigation.h"
#include "catalogue/CatalogueProtocol.h"
#include "net/RequestSlot.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Base = u"http://srv:8080"_s;
const QDateTime When(QDate(2024, 3, 7), QTime(9, 5, 33));
const QString Rnt = u"&rnt=2024/3/7%209:05:33"_s;

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
        const QString list = Base + u"/readerserver/listbook.asp"_s;
        const QString wuxia = u"%E6%AD%A6%E4%BE%A0%E4%BB%99%E4%BE%A0"_s;

        CatalogueQuery category;
        category.selectCategory(u"武侠仙侠 "_s);
        QTest::newRow("category button") << CategoryListUrl(Base, category, When)
                                         << list + u"?action=list&type="_s + wuxia + Rnt;
        QTest::newRow("first page of a category") << CataloguePageUrl(Base, category, u"1"_s, When)
                                                  << list + u"?action=list&type="_s + wuxia + u"&page=1"_s + Rnt;

        CatalogueQuery search = category;
        search.search(u" 剑 来 "_s);
        const QString key = u"%E5%89%91%20%E6%9D%A5"_s;
        QTest::newRow("search sends only the key")
            << SearchUrl(Base, search, When) << list + u"?action=search&key="_s + key + Rnt;
        QTest::newRow("paging after search carries the earlier type")
            << CataloguePageUrl(Base, search, u"4"_s, When)
            << list + u"?action=search&type="_s + wuxia + u"&key="_s + key + u"&page=4"_s + Rnt;

        CatalogueQuery searchOnly;
        searchOnly.search(u"a&b"_s);
        QTest::newRow("search before any category")
            << CataloguePageUrl(Base, searchOnly, u"2"_s, When) << list + u"?action=search&key=a%26b&page=2"_s + Rnt;
    }
    void urls()
    {
        QFETCH(QString, url);
        QTEST(url, "expected");
        QVERIFY(!url.contains(u' '));
    }

    // The line under the list names what went wrong, never "nothing found" for a broken answer.
    void answers_data()
    {
        QTest::addColumn<int>("status"); // 0: no answer; -1: an answer past the size limit
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<AnswerOutcome>("outcome");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("line");
        using A = AnswerOutcome;
        const QString broken = u"书库服务器的回答不完整"_s;
        // clang-format off
        QTest::newRow("no answer") << 0 << QByteArray() << A::Ignored << QStringList{} << u"1/1"_s << u"暂时连不上书库服务器"_s;
        QTest::newRow("too large") << -1 << QByteArray() << A::Ignored << QStringList{} << u"1/1"_s << u"书库服务器的回答太大"_s;
        QTest::newRow("not 200 is ignored") << 503 << answer(book("1")) << A::Ignored << QStringList{} << u"1/1"_s << u"书库服务器出错（HTTP 503）"_s;
        QTest::newRow("two books") << 200 << answer(book("1") + book("2")) << A::Filled << QStringList{"1", "2"} << u"3/7"_s << QString();
        QTest::newRow("no books, paging still taken") << 200 << answer({}) << A::Filled << QStringList{} << u"3/7"_s << u"没有找到相关书籍"_s;
        QTest::newRow("malformed xml is no data") << 200 << "<list><bookinfo><id>1</id>"_ba << A::NoData << QStringList{} << u"1/1"_s << broken;
        QTest::newRow("books without otherinfo") << 200 << answer(book("1"), {}) << A::NoData << QStringList{"1"} << u"1/1"_s << broken;
        QTest::newRow("missing field stops at that book") << 200 << answer(book("1") + book("2", "5", "author") + book("3"))
                                                          << A::Stopped << QStringList{"1"} << u"1/1"_s << broken;
        QTest::newRow("size not a number stops") << 200 << answer(book("1") + book("2", "大")) << A::Stopped << QStringList{"1"} << u"1/1"_s << broken;
        QTest::newRow("short pageinfo keeps paging") << 200 << answer(book("1"), "<otherinfo><pageinfo>7,140,3</pageinfo></otherinfo>")
                                                     << A::Stopped << QStringList{"1"} << u"1/1"_s << broken;
        QTest::newRow("otherinfo without pageinfo") << 200 << answer(book("1"), "<otherinfo/>") << A::Stopped << QStringList{"1"} << u"1/1"_s << broken;
        QTest::newRow("only the first otherinfo counts")
            << 200 << answer({}, "<x><otherinfo><a/></otherinfo><otherinfo><pageinfo>9,0,9,8,9</pageinfo></otherinfo></x>")
            << A::Stopped << QStringList{} << u"1/1"_s << broken;
        // clang-format on
    }
    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        const HttpResult http{std::max(status, 0), {}, body, status <= 0, {}, status < 0};
        const CatalogueAnswer result = ParseCatalogueAnswer(http);
        QTEST(result.outcome, "outcome");
        QStringList ids;
        for (const CatalogueEntry &entry : result.entries)
            ids.append(entry.id);
        QTEST(ids, "ids");
        QTEST(result.paging.display(), "display");
        QTEST(CatalogueStatusLine(http, result), "line");
    }

    // A book fills its row's cells; a cover and a description may follow downurl, and only a
    // cover on the catalogue's own server is fetched.
    void parse_rowCellsCoverAndMemo_data()
    {
        QTest::addColumn<QByteArray>("extras");
        QTest::addColumn<QString>("coverUrl");
        QTest::addColumn<QString>("memo");
        QTest::newRow("neither") << QByteArray() << QString() << QString();
        QTest::newRow("both") << "<cover>/books/7/cover.jpg</cover><memo>好书&amp;长篇</memo>"_ba
                              << u"http://h:1/books/7/cover.jpg?"_s + Rnt << u"好书&长篇"_s;
        QTest::newRow("another host") << "<cover>//evil.example/c.jpg</cover>"_ba << QString() << QString();
        QTest::newRow("absolute address") << "<cover>http://evil.example/c.jpg</cover>"_ba << QString() << QString();
    }
    void parse_rowCellsCoverAndMemo()
    {
        QFETCH(QByteArray, extras);
        QByteArray xml = book("12", "20480");
        xml.insert(xml.lastIndexOf("</bookinfo>"), extras);
        const CatalogueAnswer result = ParseCatalogueAnswer(200, answer(xml));
        QCOMPARE(result.entries.size(), 1);
        QCOMPARE(result.entries[0].cells(), (QStringList{"12", "武侠仙侠", "书12", "佚名", "连载", "2009/3/5",
                                                         "20.0 MB", "双击下载", "/books/12/b12.zip"}));
        QCOMPARE(result.paging.previousPage, u"2"_s);
        QCOMPARE(result.paging.nextPage, u"4"_s);
        QTEST(CoverUrl(u"http://h:1"_s, result.entries[0].cover, When), "coverUrl");
        QTEST(result.entries[0].memo, "memo");
    }

    // Sizes arrive in kilobytes; the unit and the digits shown change at each threshold.
    void formatSizeKB_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("text"); // empty: refused
        QTest::newRow("below one kilobyte") << u"0.5"_s << u"0.5 Bytes"_s;
        QTest::newRow("9.999") << u"9.999"_s << u"10.00 KB"_s;
        QTest::newRow("12") << u"12"_s << u"12.0 KB"_s;
        QTest::newRow("999") << u"999"_s << u"999 KB"_s;
        QTest::newRow("1000 already MB") << u"1000"_s << u"0.98 MB"_s;
        QTest::newRow("1000000 already GB") << u"1000000"_s << u"0.95 GB"_s;
        QTest::newRow("digit grouping") << u"1048576000000"_s << u"1,000,000.0 GB"_s;
        QTest::newRow("blanks around") << u" 5 "_s << u"5.00 KB"_s;
        QTest::newRow("unit") << u"12KB"_s << QString();
        QTest::newRow("infinite") << u"inf"_s << QString();
    }
    void formatSizeKB()
    {
        QFETCH(QString, size);
        QFETCH(QString, text);
        QCOMPARE(FormatSizeKB(size), text.isEmpty() ? std::nullopt : std::optional<QString>(text));
    }

    void userBooks_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<unsigned>("reviewColor");
        QTest::newRow("serial with size, pending")
            << "<id>3</id><class>其他分类</class><name>甲</name><statue>连载</statue><newchap>12</newchap>"
               "<ftime>2021-12-01T08:00:00</ftime><checkif>0</checkif>"_ba
            << QStringList{"3", "其他分类", "甲", "连载：12.0 KB", "2021/12/1", "待审核"} << 0x808080u;
        QTest::newRow("complete shows status alone, approved")
            << "<id>4</id><class>c</class><name>乙</name><statue>全集</statue><newchap>12</newchap>"
               "<ftime>2009-2-30</ftime><checkif>1</checkif>"_ba // an impossible day is shown unchanged
            << QStringList{"4", "c", "乙", "全集", "2009-2-30", "已审核"} << 0x008000u;
        QTest::newRow("bad newchap, rejected")
            << "<id>5</id><class>c</class><name>丙</name><statue>连载</statue><newchap>n/a</newchap>"
               "<ftime>2010年1月2日</ftime><checkif>2</checkif>"_ba
            << QStringList{"5", "c", "丙", "连载：", "2010/1/2", "审核未通过"} << 0xFF0000u;
        QTest::newRow("missing fields leave cells empty")
            << "<name>丁</name>"_ba << QStringList{"", "", "丁", "：", "", "待审核"} << 0x808080u;
    }
    void userBooks()
    {
        QFETCH(QByteArray, fields);
        const UserBooksAnswer result =
            ParseUserBooksAnswer(200, answer("<bookinfo>" + fields + "</bookinfo>"), CataloguePaging{});
        QCOMPARE(result.outcome, AnswerOutcome::Filled);
        QCOMPARE(result.entries.size(), 1);
        QTEST(result.entries[0].cells(), "cells");
        QTEST(result.entries[0].reviewColor(), "reviewColor");
    }

    // What the page buttons, the page box and the search box decide before anything is sent.
    void paging_data()
    {
        QTest::addColumn<int>("current"); // of 5 pages
        QTest::addColumn<int>("button");  // 0 first, 1 previous, 2 next, 3 last, 4 go, 5 search
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("page"); // or the keyword searched for
        QTest::addColumn<QString>("message");
        const QString wrong = u"输入的页码有误,请重新输入!"_s, outside = u"输入的页码有误,一共才5页,请重新输入!"_s;
        QTest::newRow("first on page 1") << 1 << 0 << QString() << QString() << u"当前已是第一页!"_s;
        QTest::newRow("first from page 3") << 3 << 0 << QString() << u"1"_s << QString();
        QTest::newRow("previous on page 1") << 1 << 1 << QString() << QString() << u"前面没有了，当前已是第一页!"_s;
        QTest::newRow("previous") << 3 << 1 << QString() << u"2"_s << QString();
        QTest::newRow("next on the last page")
            << 5 << 2 << QString() << QString() << u"后面没有了，当前已是最后一页!"_s;
        QTest::newRow("next") << 3 << 2 << QString() << u"4"_s << QString();
        QTest::newRow("last on the last page") << 5 << 3 << QString() << QString() << u"当前已是最后一页!"_s;
        QTest::newRow("last") << 3 << 3 << QString() << u"5"_s << QString();
        QTest::newRow("go rounds down") << 1 << 4 << u" 3.7 "_s << u"3"_s << QString();
        QTest::newRow("go below one") << 1 << 4 << u"0.5"_s << QString() << outside;
        QTest::newRow("go past the end") << 1 << 4 << u"6"_s << QString() << outside;
        QTest::newRow("go with letters") << 1 << 4 << u"abc"_s << QString() << wrong;
        QTest::newRow("search one character") << 1 << 5 << u" 剑 "_s << QString() << u"请输入至少2位的关键字进行搜索！"_s;
        QTest::newRow("search two chinese characters") << 1 << 5 << u"剑来"_s << u"剑来"_s << QString();
        QTest::newRow("search the placeholder") << 1 << 5 << u"输入书名或作者"_s << QString() << u"请输入一个正确的关键字！"_s;
        QTest::newRow("search trimmed") << 1 << 5 << u"  天龙八部 "_s << u"天龙八部"_s << QString();
    }
    void paging()
    {
        QFETCH(int, current);
        QFETCH(int, button);
        QFETCH(QString, box);
        const CataloguePaging paging{QString::number(current), u"5"_s, QString::number(current - 1),
                                     QString::number(current + 1)};
        const PageStep steps[] = {FirstPageStep(paging), PreviousPageStep(paging), NextPageStep(paging),
                                  LastPageStep(paging), GoToPageStep(paging, box)};
        const SearchStep search = CheckSearchKeyword(box);
        QTEST(button == 5 ? search.keyword.value_or(QString()) : steps[button].page.value_or(QString()), "page");
        QTEST(button == 5 ? search.message : steps[button].message, "message");
    }
};

QTEST_GUILESS_MAIN(TestCatalogueProtocol)
#include "tst_catalogueprotocol.moc"
