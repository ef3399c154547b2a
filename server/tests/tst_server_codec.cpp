#include "http/HttpTypes.h"
#include "routes/FormCodec.h"
#include "routes/Multipart.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestServerCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gbFormValue_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::newRow("double-byte") << "%CD%F5"_ba << true << u"王"_s;
        QTest::newRow("single-digit escape at end") << "x%A"_ba << true << u"x\n"_s;
        QTest::newRow("single digit before a non-hex letter") << "%9Z"_ba << true << u"\tZ"_s;
        // "%AB" would be a lead byte with nothing after it, so only "%A" + "B" is GB18030.
        QTest::newRow("lead byte impossible, one digit wins") << "%D%AB"_ba << true << u"\r\nB"_s;
        QTest::newRow("four-byte sequence") << "%94%39%FC%36"_ba << true << u"\U0001F600"_s;
        QTest::newRow("raw GB bytes") << "\xC4\xD0"_ba << true << u"男"_s;
        QTest::newRow("raw UTF-8 falls back") << "\xE7\x94\xB7"_ba << true << u"男"_s;
        QTest::newRow("plus is a blank") << "a+b"_ba << true << u"a b"_s;
        QTest::newRow("password with symbols") << "p%40ss+word%21%25%26%3D%3F"_ba << true << u"p@ss word!%&=?"_s;
        QTest::newRow("letter after a control character") << "x%09q"_ba << true << u"x\tq"_s;
        QTest::newRow("empty") << ""_ba << true << QString();
        QTest::newRow("lone percent") << "abc%"_ba << false << QString();
        QTest::newRow("percent without hex") << "%G1"_ba << false << QString();
        // Nothing may follow a lead byte here, so the escape is read with one digit.
        QTest::newRow("escaped lead byte at the end") << "%CD"_ba << true << u"\fD"_s;
        QTest::newRow("raw lead byte at the end") << "a\xCD"_ba << false << QString();
    }
    void gbFormValue()
    {
        QFETCH(QByteArray, raw);
        const auto decoded = FormCodec::decodeGbFormValue(raw);
        QTEST(decoded.has_value(), "ok");
        QTEST(decoded.value_or(QString()), "expected");
        // Whatever is read back is also written so that it reads back the same, in one field.
        const QByteArray encoded = FormCodec::encodeGbFormValue(decoded.value_or(QString()));
        QVERIFY(!encoded.contains('&'));
        QCOMPARE(FormCodec::decodeGbFormValue(encoded), decoded.value_or(QString()));
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("form"); // 0: a query; a form in 1: GB18030, 2: UTF-8
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // "-": refused
        const QByteArray wuxia = "action=list&type=%E6%AD%A6%E4%BE%A0%E4%BB%99%E4%BE%A0";
        const QByteArray edit = "action=edit&userpass=&anwser=x%3Dy\r\n";
        QTest::newRow("UTF-8 category") << wuxia << 0 << u"type"_s << u"武侠仙侠"_s;
        QTest::newRow("plus stays") << "password=a+b"_ba << 0 << u"password"_s << u"a+b"_s;
        QTest::newRow("request time") << "rnt=2024/3/7%209:05:33"_ba << 0 << u"rnt"_s << u"2024/3/7 9:05:33"_s;
        QTest::newRow("GB18030 from a legacy client") << "key=%CD%F5"_ba << 0 << u"key"_s << u"王"_s;
        QTest::newRow("bad escape") << "type=%ZZ"_ba << 0 << u"type"_s << u"-"_s;
        QTest::newRow("bytes of no encoding") << "type=%FF%FF"_ba << 0 << u"type"_s << u"-"_s;
        QTest::newRow("form keeps equals in values") << edit << 1 << u"anwser"_s << u"x=y"_s;
        QTest::newRow("form keeps empty fields") << edit << 1 << u"userpass"_s << QString();
        QTest::newRow("UTF-8 form, plus a blank") << "username=%E7%8E%8B+x"_ba << 2 << u"username"_s << u"王 x"_s;
    }
    void fields()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, form);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const auto fields = form ? FormCodec::parseForm(raw, form == 2) : FormCodec::parseQuery(raw);
        QCOMPARE(fields.has_value(), expected != u"-");
        if (fields)
            QVERIFY(FormCodec::has(*fields, key) && FormCodec::value(*fields, key) == expected);
    }

    void multipart_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("name"); // checked part; empty: refused
        QTest::addColumn<QByteArray>("data");

        const QByteArray type = "multipart/form-data";
        const QByteArray text = "--B\r\nContent-Disposition: form-data; name=\"sname\"\r\n\r\nabc\r\n";
        QTest::newRow("text part") << text + "--B--" << type << u"sname"_s << "abc"_ba;
        QTest::newRow("boundary parameter present too") << text + "--B--" << type + "; boundary=B" << u"sname"_s << "abc"_ba;
        QTest::newRow("value with CRLF inside")
            << "--B\r\nContent-Disposition: form-data; name=\"smemo\"\r\n\r\nline1\r\nline2\r\n--B--"_ba << type
            << u"smemo"_s << "line1\r\nline2"_ba;
        QTest::newRow("quoted semicolon in file name") << "--B\r\nContent-Disposition:form-data;name=\"file1\";"
                                                          "filename=\"a;b.txt\"\r\nContent-Type:x\r\n\r\nXY\r\n--B--"_ba
                                                       << type << u"file1"_s << "XY"_ba;
        const QString refused;
        QTest::newRow("missing end line") << text << type << refused << QByteArray();
        QTest::newRow("truncated inside a part") << text.left(text.size() - 4) << type << refused << QByteArray();
        QTest::newRow("part without name") << "--B\r\nContent-Type: x\r\n\r\nx\r\n--B--"_ba << type << refused << QByteArray();
        QTest::newRow("no boundary at all") << "name=x"_ba << type << refused << QByteArray();
        QByteArray many;
        for (int i = 0; i < 40; ++i)
            many += "--B\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) + "\"\r\n\r\nv\r\n";
        QTest::newRow("too many parts") << many + "--B--" << type << refused << QByteArray();
    }
    void multipart()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, name);
        const MultipartResult result = Multipart::parse(body, contentType, 32);
        QVERIFY2(result.error.isEmpty() != name.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.parts.size(), name.isEmpty() ? 0 : 1);
        if (name.isEmpty())
            return;
        QVERIFY(result.find(name));
        QTEST(result.find(name)->data.toByteArray(), "data");
    }

    // What a forwarded address and a client's share are counted by.
    void clientAddress_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("group"); // empty: not an address
        QTest::newRow("IPv4") << " 198.51.100.7"_ba << "198.51.100.7"_ba;
        QTest::newRow("IPv6 by its /64") << "2001:DB8:0:1:aaaa::9"_ba << "2001:db8:0:1::/64"_ba;
        QTest::newRow("IPv4 in IPv6 form") << "::FFFF:198.51.100.7"_ba << "198.51.100.7"_ba;
        QTest::newRow("not an address") << "<script>"_ba << QByteArray();
    }
    void clientAddress()
    {
        QFETCH(QByteArray, text);
        QTEST(clientGroup(canonicalAddress(text)), "group");
    }
};

QTEST_APPLESS_MAIN(TestServerCodec)
#include "tst_server_codec.moc"
