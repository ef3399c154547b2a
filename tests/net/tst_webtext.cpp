#include "net/SyncProtocol.h"
#include "net/WebAddress.h"
#include "net/XmlTree.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestWebText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A plus is no blank and separators cannot split the query; UTF-8, blanks and the request
    // time's slashes and colons are seen in tst_catalogueprotocol's URLs.
    void encodeQueryValue()
    {
        QCOMPARE(EncodeQueryValue(u"C++ 入门&b=c#d%e?"_s), u"C%2B%2B%20%E5%85%A5%E9%97%A8%26b%3Dc%23d%25e%3F"_s);
    }

    // The program's own addresses end with the request time like the specified ones.
    void syncAddresses_endWithTheRequestTime_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("start");
        QTest::newRow("push") << SyncPushUrl(u"http://srv:8080/"_s) << u"http://srv:8080/folioway/sync/v1/push?&rnt="_s;
        QTest::newRow("pull") << SyncPullUrl(u"http://srv:8080"_s, 42) << u"http://srv:8080/folioway/sync/v1/pull?after=42&limit=500&rnt="_s;
    }
    void syncAddresses_endWithTheRequestTime()
    {
        QFETCH(QString, address);
        QFETCH(QString, start);
        QVERIFY2(address.startsWith(start), qPrintable(address));
        QVERIFY2(QRegularExpression(u"^\\d{4}/\\d{1,2}/\\d{1,2}%20\\d{1,2}:\\d{2}:\\d{2}$"_s).match(address.mid(start.size())).hasMatch(),
                 qPrintable(address));
    }

    void bytesToString_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("charset");
        QTest::addColumn<QString>("text");
        const QByteArray gb = QByteArray::fromHex("c9cfb4abb3c9b9a6"); // 上传成功 in GBK
        QTest::newRow("gb2312") << gb << u"gb2312"_s << u"上传成功"_s;
        QTest::newRow("ansi") << gb << u"ANSI"_s << u"上传成功"_s;
        QTest::newRow("gb18030 four-byte") << QByteArray::fromHex("81308436") << u"gb2312"_s << u"\u00A5"_s;
        QTest::newRow("utf-8") << "上传"_ba << u"utf-8"_s << u"上传"_s;
        QTest::newRow("unknown name reads utf-8") << "ok"_ba << u"no-such-set"_s << u"ok"_s;
    }
    void bytesToString()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, charset);
        QFETCH(QString, text);
        QCOMPARE(BytesToString(bytes, charset), text);
        if (charset != u"no-such-set"_s)
            QCOMPARE(StringToBytes(text, charset), bytes);
    }

    // Answers read, refused as malformed or hostile ("-"), or refused beyond the limits with the
    // message shown.
    void xml_parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("b"); // the text of the first <b>
        const auto attributes = [](int n) {
            QByteArray run;
            for (int i = 0; i < n; ++i)
                run += " a" + QByteArray::number(i) + "=\"\"";
            return run;
        };
        const QString tooManyAttributes = u"服务器的回答无法读取：其中一个元素带有超过 64 个属性。"_s;
        QTest::newRow("legacy encoding declared") << "<?xml version=\"1.0\" encoding=\"gb2312\"?><a><b>" +
                                                         QByteArray::fromHex("c9cfb4abb3c9b9a6") + "</b></a>"
                                                  << QString() << u"上传成功"_s;
        QTest::newRow("text of nested elements joined") << "<a><c><b>甲<i>乙</i>丙</b></c><b>x</b></a>"_ba << QString() << u"甲乙丙"_s;
        QTest::newRow("as many attributes as allowed") << "<a" + attributes(64) + "/>" << QString() << QString();
        QTest::newRow("one attribute more") << "<a" + attributes(65) + "/>" << tooManyAttributes << QString();
        // 1.7 MB that kept the window busy for over a minute.
        QTest::newRow("200,000 attributes") << "<a><bookinfo" + attributes(200000) + "/></a>" << tooManyAttributes << QString();
        const QByteArray utf16 = QStringEncoder(QStringEncoder::Utf16LE).encode(QString::fromLatin1("<a" + attributes(200000) + "/>"));
        QTest::newRow("200,000 attributes in utf-16") << utf16 << tooManyAttributes << QString();
        QTest::newRow("too many elements") << "<a>" + "<b/>"_ba.repeated(100000) + "</a>"
                                           << u"服务器的回答无法读取：其中的元素和属性超过 100000 个。"_s << QString();
        QTest::newRow("equals signs outside tags and in values do not count")
            << "<a b=\"" + QByteArray(500, '=') + "\"><!--" + attributes(100) + "--><![CDATA[" + attributes(100) +
                   "]]>" + QByteArray(500, '=') + "<?pi" + attributes(100) + "?></a>"
            << QString() << QString();
        QTest::newRow("entity expansion") << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x \"xxxxxxxxxx\">"
                                                        "<!ENTITY y \"&x;&x;&x;&x;\">]><a>&y;</a>")
                                          << u"-"_s << QString();
        QTest::newRow("external entity") << "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>"_ba
                                         << u"-"_s << QString();
        QTest::newRow("undeclared entity") << "<a>&e;</a>"_ba << u"-"_s << QString();
        QTest::newRow("html error page") << "<html><body>Error<br></body></html>"_ba << u"-"_s << QString();
        QTest::newRow("empty") << QByteArray() << u"-"_s << QString();
    }
    void xml_parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, problem);
        const XmlTree tree = XmlTree::parse(body);
        QVERIFY2(tree.isValid() == problem.isEmpty(), qPrintable(tree.errorString()));
        QCOMPARE(tree.exceededLimits(), problem.size() > 1);
        if (problem.size() > 1)
            QCOMPARE(tree.errorString(), problem);
        QVERIFY(tree.isValid() || tree.first(u"a"_s).isNull());
        QTEST(tree.first(u"b"_s).text(), "b");
    }
};

QTEST_GUILESS_MAIN(TestWebText)
#include "tst_webtext.moc"
