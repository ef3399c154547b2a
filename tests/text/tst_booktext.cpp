#include "text/BookText.h"

#include "TestSupport.h"

#include <QStringDecoder>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString icuGb18030(const QByteArray &bytes)
{
    QStringDecoder icu("GB18030");
    return icu.decode(bytes);
}

QString units(const QString &text)
{
    QStringList hex;
    for (QChar c : text)
        hex << QString::number(c.unicode(), 16).toUpper();
    return hex.join(u' ');
}

// Compares the table decoder with ICU on `bytes`; on a difference names the first `step`-sized
// group of input that decodes differently.
void compareWithIcu(const QByteArray &bytes, int step)
{
    const QString ours = DecodeText(TextEncoding::Gb18030, bytes);
    if (ours == icuGb18030(bytes))
        return;
    for (qsizetype i = 0; i < bytes.size(); i += step) {
        const QByteArray piece = bytes.mid(i, step);
        const QString mine = DecodeText(TextEncoding::Gb18030, piece);
        const QString theirs = icuGb18030(piece);
        if (mine != theirs)
            QFAIL(qPrintable(
                u"bytes %1: ours %2, ICU %3"_s.arg(QString::fromLatin1(piece.toHex(' ')), units(mine), units(theirs))));
    }
    QFAIL("the whole input decodes differently, but no single group does");
}

} // namespace

class TestBookText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every two- and four-byte sequence. `step` is the group named on a difference.
    void gb18030_matchesIcu_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("step");
        // Each pair is followed by an ASCII letter, which ends any sequence, so the pairs cannot
        // influence each other and one decode covers all 65,536 of them.
        QByteArray pairs;
        for (int first = 0; first < 256; ++first)
            for (int second = 0; second < 256; ++second)
                pairs.append(char(first)).append(char(second)).append('A');
        QTest::newRow("every two-byte sequence") << pairs << 3;
        QByteArray quads;
        for (int b1 = 0x81; b1 <= 0xFE; ++b1)
            for (int b2 = 0x30; b2 <= 0x39; ++b2)
                for (int b3 = 0x81; b3 <= 0xFE; ++b3)
                    for (int b4 = 0x30; b4 <= 0x39; ++b4)
                        quads.append(char(b1)).append(char(b2)).append(char(b3)).append(char(b4));
        QTest::newRow("every four-byte sequence") << quads << 4;
    }
    void gb18030_matchesIcu()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, step);
        compareWithIcu(bytes, step);
    }

    void decode_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");

        const int gb = int(TextEncoding::Gb18030);
        const int u8 = int(TextEncoding::Utf8);
        const int le = int(TextEncoding::Utf16LE);
        const int be = int(TextEncoding::Utf16BE);
        // Whole GB18030 sequences are compared with ICU above. At the end of the input an
        // unfinished sequence ends as it would before a line feed, so that a book decodes the
        // same line by line as in one piece.
        QTest::newRow("gbk user-defined area") << gb << "\xFC\xD1"_ba << u"\uE3DC"_s;
        QTest::newRow("gb18030-2005 FE row") << gb << "\xFE\x6A"_ba << u"\u3CE0"_s;
        QTest::newRow("gb lead at end") << gb << "A\x81"_ba << u"A\uFFFD"_s;
        QTest::newRow("gb three of four at end") << gb << "\x81\x30\x81"_ba << u"\uFFFD0\uFFFD"_s;
        QTest::newRow("utf8 cut sequence is one error") << u8 << "\xE4\xB8\x41"_ba << u"\uFFFDA"_s;
        QTest::newRow("utf8 cut at end") << u8 << "\xF0\x9F\x98"_ba << u"\uFFFD"_s;
        QTest::newRow("le pair") << le << "\x3D\xD8\x00\xDE"_ba << u"\U0001F600"_s;
        QTest::newRow("le odd final byte") << le << "\x41\x00\x42"_ba << u"A\uFFFD"_s;
        QTest::newRow("le high then odd byte") << le << "\x3D\xD8\x42"_ba << u"\uFFFD"_s;
        QTest::newRow("be") << be << "\x4E\x2D\x00\x0A"_ba << u"中\n"_s;
    }
    void decode()
    {
        QFETCH(int, encoding);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(units(DecodeText(TextEncoding(encoding), bytes)), units(expected));
    }

    void decodeLimit_stopsAtCharacterBoundary()
    {
        const QByteArray gb = TestSupport::gb18030(u"第一章\U00020000尾"_s);
        char16_t out[16];
        qsizetype consumed = 0;
        QCOMPARE(DecodeTextInto(TextEncoding::Gb18030, gb, out, 2, &consumed), 2);
        QCOMPARE(consumed, 4);
        // A surrogate pair is never split: the limit may be passed by one unit.
        QCOMPARE(DecodeTextInto(TextEncoding::Gb18030, gb, out, 4, &consumed), 5);
        QCOMPARE(consumed, 10);
    }

    void detect_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<int>("bomLength");

        const int gb = int(TextEncoding::Gb18030);
        const int u8 = int(TextEncoding::Utf8);
        QTest::newRow("empty") << QByteArray() << u8 << 0;
        QTest::newRow("utf8") << "第一章"_ba << u8 << 0;
        QTest::newRow("utf8 mark") << "\xEF\xBB\xBF\x61\x62\x63"_ba << u8 << 3;
        QTest::newRow("utf16le mark") << "\xFF\xFE\x41\0"_ba << int(TextEncoding::Utf16LE) << 2;
        QTest::newRow("utf16be mark") << "\xFE\xFF\0A"_ba << int(TextEncoding::Utf16BE) << 2;
        QTest::newRow("gbk") << "\xB5\xDA\xD2\xBB\xD5\xC2"_ba << gb << 0;
        QTest::newRow("utf8 then one bad byte at the end") << "第一章\n正文\xFF"_ba << gb << 0;
        QTest::newRow("cut at the end") << "\xE4\xB8"_ba << gb << 0;
    }
    void detect()
    {
        QFETCH(QByteArray, bytes);
        const DetectedEncoding detected = DetectTextEncoding(bytes);
        QTEST(int(detected.encoding), "encoding");
        QTEST(int(detected.bomLength), "bomLength");
    }

    void splitLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("final break ends the line") << u"a\nb\n"_s << QStringList{"a", "b"};
        QTest::newRow("blank lines") << u"a\n\n\nb"_s << QStringList{"a", "", "", "b"};
        QTest::newRow("crlf") << u"a\r\nb\r\n"_s << QStringList{"a", "b"};
        QTest::newRow("only the cr before lf goes") << u"a\r\r\nb\r"_s << QStringList{"a\r", "b\r"};
    }
    void splitLines()
    {
        QFETCH(QString, text);
        QTEST(SplitBookLines(text), "lines");
    }
};

QTEST_GUILESS_MAIN(TestBookText)
#include "tst_booktext.moc"
