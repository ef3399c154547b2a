#include "reader/BookText.h"

#include "TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>

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
            QFAIL(qPrintable(QStringLiteral("bytes %1: ours %2, ICU %3")
                                 .arg(QString::fromLatin1(piece.toHex(' ')), units(mine), units(theirs))));
    }
    QFAIL("the whole input decodes differently, but no single group does");
}

} // namespace

class TestBookText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gb18030_everyTwoByteSequenceMatchesIcu();
    void gb18030_everyFourByteSequenceMatchesIcu();
    void gb18030_randomBytesMatchIcu();
    void gb18030_corpusMatchesIcu();
    void decode_data();
    void decode();
    void decodeLimit_stopsAtCharacterBoundary();
    void detect_data();
    void detect();
    void splitLines_data();
    void splitLines();
};

void TestBookText::gb18030_everyTwoByteSequenceMatchesIcu()
{
    // Each pair is followed by an ASCII letter, which ends any sequence, so the pairs cannot
    // influence each other and one decode covers all 65,536 of them.
    QByteArray bytes;
    bytes.reserve(65536 * 3);
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            bytes.append(char(first));
            bytes.append(char(second));
            bytes.append('A');
        }
    }
    compareWithIcu(bytes, 3);
}

void TestBookText::gb18030_everyFourByteSequenceMatchesIcu()
{
    QByteArray bytes;
    bytes.reserve(126 * 10 * 126 * 10 * 4);
    for (int b1 = 0x81; b1 <= 0xFE; ++b1)
        for (int b2 = 0x30; b2 <= 0x39; ++b2)
            for (int b3 = 0x81; b3 <= 0xFE; ++b3)
                for (int b4 = 0x30; b4 <= 0x39; ++b4) {
                    const char code[4] = {char(b1), char(b2), char(b3), char(b4)};
                    bytes.append(code, 4);
                }
    compareWithIcu(bytes, 4);
}

void TestBookText::gb18030_randomBytesMatchIcu()
{
    // Bytes drawn mostly from the values where the converter has to decide something: lead
    // and trail ranges, the four-byte digits, line breaks, 7F, 80 and FF.
    static const uchar interesting[] = {0x0A, 0x0D, 0x20, 0x30, 0x35, 0x39, 0x3A, 0x40, 0x41, 0x7E, 0x7F, 0x80,
                                        0x81, 0x82, 0x84, 0x85, 0x8F, 0x90, 0xA1, 0xB0, 0xE3, 0xE4, 0xFE, 0xFF};
    QRandomGenerator rng(4711);
    QByteArray bytes;
    for (int i = 0; i < 400000; ++i) {
        const bool pick = rng.bounded(3) != 0;
        bytes.append(char(pick ? interesting[rng.bounded(int(sizeof interesting))] : rng.bounded(256)));
    }
    bytes.append('A'); // ICU holds back an unfinished sequence at the very end
    compareWithIcu(bytes, 64);
}

void TestBookText::gb18030_corpusMatchesIcu()
{
    const QString corpus = TestSupport::corpusDir();
    if (corpus.isEmpty())
        QSKIP("no corpus folder beside the checkout");
    const QByteArray bytes = TestSupport::readFile(QDir(corpus).filePath(QStringLiteral("xiyouji_gbk.txt")));
    if (bytes.isEmpty())
        QSKIP("xiyouji_gbk.txt is not in the corpus");
    QCOMPARE(DetectTextEncoding(bytes).encoding, TextEncoding::Gb18030);
    const QString text = DecodeBookText(bytes);
    QVERIFY(text.contains(QChar(0xE3DC))); // FC D1, from GBK's user-defined area
    QVERIFY(text.contains(QChar(0x3CE0)));
    compareWithIcu(bytes, 4096);
}

void TestBookText::decode_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    const int gb = int(TextEncoding::Gb18030);
    const int u8 = int(TextEncoding::Utf8);
    const int le = int(TextEncoding::Utf16LE);
    const int be = int(TextEncoding::Utf16BE);
    // At the end of the input an unfinished sequence ends as it would before a line feed, so
    // that a book decodes the same line by line as in one piece.
    QTest::newRow("gb lead at end") << gb << QByteArray("A\x81") << QStringLiteral("A\uFFFD");
    QTest::newRow("gb four-byte start at end") << gb << QByteArray("\x81\x30") << QStringLiteral("\uFFFD0");
    QTest::newRow("gb three of four at end") << gb << QByteArray("\x81\x30\x81") << QStringLiteral("\uFFFD0\uFFFD");
    QTest::newRow("gb lead before line feed") << gb << QByteArray("\x81\n") << QStringLiteral("\uFFFD\n");
    QTest::newRow("gb supplementary") << gb << QByteArray("\x95\x32\x82\x36") << QStringLiteral("\U00020000");
    QTest::newRow("gb user-defined area") << gb << QByteArray("\xFC\xD1") << QStringLiteral("\uE3DC");
    QTest::newRow("utf8 cut sequence is one error") << u8
                                                    << QByteArray("\xE4\xB8"
                                                                  "A")
                                                    << QStringLiteral("\uFFFDA");
    QTest::newRow("utf8 surrogate is three errors")
        << u8 << QByteArray("\xED\xA0\x80") << QStringLiteral("\uFFFD\uFFFD\uFFFD");
    QTest::newRow("utf8 overlong") << u8 << QByteArray("\xC0\x80") << QStringLiteral("\uFFFD\uFFFD");
    QTest::newRow("utf8 four bytes") << u8 << QByteArray("\xF0\x9F\x98\x80") << QStringLiteral("\U0001F600");
    QTest::newRow("utf8 cut at end") << u8 << QByteArray("\xF0\x9F\x98") << QStringLiteral("\uFFFD");
    QTest::newRow("le pair") << le << QByteArray("\x3D\xD8\x00\xDE", 4) << QStringLiteral("\U0001F600");
    QTest::newRow("le lone high before line feed")
        << le << QByteArray("\x3D\xD8\x0A\x00", 4) << QStringLiteral("\uFFFD\n");
    QTest::newRow("le lone low") << le << QByteArray("\x00\xDE\x41\x00", 4) << QStringLiteral("\uFFFDA");
    QTest::newRow("le odd final byte") << le << QByteArray("\x41\x00\x42", 3) << QStringLiteral("A\uFFFD");
    QTest::newRow("le high then odd byte") << le << QByteArray("\x3D\xD8\x42", 3) << QStringLiteral("\uFFFD");
    QTest::newRow("be") << be << QByteArray("\x4E\x2D\x00\x0A", 4) << QStringLiteral("中\n");
}

void TestBookText::decode()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(units(DecodeText(TextEncoding(encoding), bytes)), units(expected));
}

void TestBookText::decodeLimit_stopsAtCharacterBoundary()
{
    const QByteArray gb = QStringEncoder("GB18030").encode(QStringLiteral("第一章\U00020000尾"));
    char16_t out[16];
    qsizetype consumed = 0;
    QCOMPARE(DecodeTextInto(TextEncoding::Gb18030, gb, out, 2, &consumed), 2);
    QCOMPARE(consumed, 4);
    // A surrogate pair is never split: the limit may be passed by one unit.
    QCOMPARE(DecodeTextInto(TextEncoding::Gb18030, gb, out, 4, &consumed), 5);
    QCOMPARE(consumed, 10);
}

void TestBookText::detect_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("bomLength");

    const int gb = int(TextEncoding::Gb18030);
    const int u8 = int(TextEncoding::Utf8);
    QTest::newRow("empty") << QByteArray() << u8 << 0;
    QTest::newRow("ascii") << QByteArray("chapter one\r\n") << u8 << 0;
    QTest::newRow("utf8") << QStringLiteral("第一章").toUtf8() << u8 << 0;
    QTest::newRow("utf8 mark") << QByteArray("\xEF\xBB\xBF"
                                             "abc")
                               << u8 << 3;
    QTest::newRow("utf8 mark wins over bad bytes") << QByteArray("\xEF\xBB\xBF\xB5\xDA") << u8 << 3;
    QTest::newRow("utf16le mark") << QByteArray("\xFF\xFE"
                                                "A\0",
                                                4)
                                  << int(TextEncoding::Utf16LE) << 2;
    QTest::newRow("utf16be mark") << QByteArray("\xFE\xFF\0A", 4) << int(TextEncoding::Utf16BE) << 2;
    QTest::newRow("gbk") << QByteArray("\xB5\xDA\xD2\xBB\xD5\xC2") << gb << 0;
    QTest::newRow("utf8 then one bad byte at the end")
        << QByteArray(QStringLiteral("第一章\n正文").toUtf8() + "\xFF") << gb << 0;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << gb << 0;
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << gb << 0;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << gb << 0;
    QTest::newRow("cut at the end") << QByteArray("\xE4\xB8") << gb << 0;
}

void TestBookText::detect()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, encoding);
    QFETCH(int, bomLength);
    const DetectedEncoding detected = DetectTextEncoding(bytes);
    QCOMPARE(int(detected.encoding), encoding);
    QCOMPARE(int(detected.bomLength), bomLength);
}

void TestBookText::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("only a line feed") << QStringLiteral("\n") << QStringList{QString()};
    QTest::newRow("no final break") << QStringLiteral("a\nb") << QStringList{"a", "b"};
    QTest::newRow("final break ends the line") << QStringLiteral("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("blank lines") << QStringLiteral("a\n\n\nb") << QStringList{"a", "", "", "b"};
    QTest::newRow("crlf") << QStringLiteral("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lone cr stays") << QStringLiteral("a\rb\n") << QStringList{"a\rb"};
    QTest::newRow("only the cr before lf goes") << QStringLiteral("a\r\r\nb\r") << QStringList{"a\r", "b\r"};
}

void TestBookText::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitBookLines(text), lines);
}

QTEST_GUILESS_MAIN(TestBookText)
#include "tst_booktext.moc"
