#include "net/WebAddress.h"
#include "net/XmlTree.h"

#include <QtTest>

class TestWebText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeQueryValue_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("request time keeps slashes and colons")
            << QStringLiteral("2024/3/7 9:05:33") << QStringLiteral("2024/3/7%209:05:33");
        QTest::newRow("chinese as utf-8") << QStringLiteral("武侠") << QStringLiteral("%E6%AD%A6%E4%BE%A0");
        QTest::newRow("plus is not a blank")
            << QStringLiteral("C++ 入门") << QStringLiteral("C%2B%2B%20%E5%85%A5%E9%97%A8");
        QTest::newRow("separators cannot split the query")
            << QStringLiteral("a&b=c#d%e?") << QStringLiteral("a%26b%3Dc%23d%25e%3F");
        QTest::newRow("empty") << QString() << QString();
    }
    void encodeQueryValue()
    {
        QFETCH(QString, value);
        QFETCH(QString, encoded);
        QCOMPARE(EncodeQueryValue(value), encoded);
    }

    void withRequestTime_endsEveryAddress()
    {
        const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 33));
        QCOMPARE(WithRequestTime(QStringLiteral("http://h/x.asp?a=1"), when),
                 QStringLiteral("http://h/x.asp?a=1&rnt=2024/3/7%209:05:33"));
        QCOMPARE(QueryPair(QStringLiteral("uname"), QStringLiteral("张 三"), true),
                 QStringLiteral("?uname=%E5%BC%A0%20%E4%B8%89"));
    }

    void bytesToString_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("charset");
        QTest::addColumn<QString>("text");
        const QByteArray gb = QByteArray::fromHex("c9cfb4abb3c9b9a6"); // 上传成功 in GBK
        QTest::newRow("gb2312") << gb << QStringLiteral("gb2312") << QStringLiteral("上传成功");
        QTest::newRow("GBK upper case") << gb << QStringLiteral("GBK") << QStringLiteral("上传成功");
        QTest::newRow("ansi") << gb << QStringLiteral("ANSI") << QStringLiteral("上传成功");
        QTest::newRow("gb18030 four-byte")
            << QByteArray::fromHex("81308436") << QStringLiteral("gb2312") << QStringLiteral("\u00A5");
        QTest::newRow("utf-8") << QByteArray("上传") << QStringLiteral("utf-8") << QStringLiteral("上传");
        QTest::newRow("unknown name reads utf-8")
            << QByteArray("ok") << QStringLiteral("no-such-set") << QStringLiteral("ok");
    }
    void bytesToString()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, charset);
        QFETCH(QString, text);
        QCOMPARE(BytesToString(bytes, charset), text);
        if (charset != QLatin1String("no-such-set"))
            QCOMPARE(StringToBytes(text, charset), bytes);
    }

    void xml_findsByNameAnywhere()
    {
        const XmlTree tree = XmlTree::parse(
            "<?xml version=\"1.0\"?><root><list><bookinfo><id>1</id><name>甲<b>乙</b>丙</name></bookinfo>"
            "<bookinfo><id>2</id></bookinfo></list><otherinfo><pageinfo>1,2,3,4,5</pageinfo></otherinfo>"
            "<id>outside</id></root>");
        QVERIFY(tree.isValid());
        const QList<XmlElement> books = tree.all(QStringLiteral("bookinfo"));
        QCOMPARE(books.size(), 2);
        QCOMPARE(books[0].first(QStringLiteral("name")).text(), QStringLiteral("甲乙丙"));
        QCOMPARE(books[1].first(QStringLiteral("id")).text(), QStringLiteral("2"));
        QVERIFY(books[1].first(QStringLiteral("name")).isNull());
        QCOMPARE(books[1].all(QStringLiteral("id")).size(), 1);
        QCOMPARE(tree.all(QStringLiteral("id")).size(), 3);
        QCOMPARE(tree.first(QStringLiteral("otherinfo")).first(QStringLiteral("pageinfo")).text(),
                 QStringLiteral("1,2,3,4,5"));
        // Lookups chain through missing elements.
        QCOMPARE(tree.first(QStringLiteral("nope")).first(QStringLiteral("id")).text(), QString());
        QCOMPARE(tree.root().name(), QStringLiteral("root"));
    }

    void xml_legacyEncodingDeclared()
    {
        const QByteArray body =
            "<?xml version=\"1.0\" encoding=\"gb2312\"?><a><b>" + QByteArray::fromHex("c9cfb4abb3c9b9a6") + "</b></a>";
        const XmlTree tree = XmlTree::parse(body);
        QVERIFY2(tree.isValid(), qPrintable(tree.errorString()));
        QCOMPARE(tree.first(QStringLiteral("b")).text(), QStringLiteral("上传成功"));
    }

    void xml_refused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("doctype") << QByteArray("<!DOCTYPE a><a/>");
        QTest::newRow("entity expansion") << QByteArray(
            "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x \"xxxxxxxxxx\"><!ENTITY y \"&x;&x;&x;&x;\">]><a>&y;</a>");
        QTest::newRow("external entity") << QByteArray(
            "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>");
        QTest::newRow("undeclared entity") << QByteArray("<a>&e;</a>");
        QTest::newRow("unclosed") << QByteArray("<a><b>1</b>");
        QTest::newRow("html error page") << QByteArray("<html><body>Error<br></body></html>");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("OK|done");
    }
    void xml_refused()
    {
        QFETCH(QByteArray, body);
        const XmlTree tree = XmlTree::parse(body);
        QVERIFY(!tree.isValid());
        QVERIFY(tree.first(QStringLiteral("a")).isNull());
    }
};

QTEST_GUILESS_MAIN(TestWebText)
#include "tst_webtext.moc"
