#include "reader/HeadingRule.h"

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString repeat(const QString &piece, int times)
{
    return piece.repeated(times);
}

const QString pair = QStringLiteral("\U00020000"); // one character, two UTF-16 units

} // namespace

class TestHeadingRule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heading_data();
    void heading();
    void agreesWithJavaScript();
};

void TestHeadingRule::heading_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("expected");

    const QString x = QStringLiteral("字");
    // First alternative: 0-6 units before the keyword, at most 30 after it.
    QTest::newRow("chapter") << QStringLiteral("第一章 风起") << true;
    QTest::newRow("keyword alone") << QStringLiteral("第") << true;
    QTest::newRow("two leading spaces") << QStringLiteral("  第一章") << true;
    QTest::newRow("vip volume") << QStringLiteral("VIP卷 第十章") << true;
    QTest::newRow("6 before") << repeat(x, 6) + QStringLiteral("第") << true;
    QTest::newRow("7 before") << repeat(x, 7) + QStringLiteral("第") << false;
    QTest::newRow("6 blanks before") << QStringLiteral("      第一章") << true;
    QTest::newRow("7 blanks before") << QStringLiteral("       第一章") << false;
    QTest::newRow("6 ideographic spaces before") << repeat(QStringLiteral("\u3000"), 6) + QStringLiteral("第") << true;
    QTest::newRow("30 after") << QStringLiteral("第") + repeat(x, 30) << true;
    QTest::newRow("31 after") << QStringLiteral("第") + repeat(x, 31) << false;
    QTest::newRow("30 after two-unit keyword") << QStringLiteral("正文") + repeat(x, 30) << true;
    QTest::newRow("31 after two-unit keyword") << QStringLiteral("作品") + repeat(x, 31) << false;
    QTest::newRow("36 after, prose")
        << QStringLiteral("他是第一个到的人，可是谁也没有想到事情会变成这样，大家都很惊讶，纷纷议论起来。") << false;
    QTest::newRow("second keyword later rescues")
        << QStringLiteral("第") + repeat(x, 4) + QStringLiteral("第") + repeat(x, 30) << true;
    QTest::newRow("second keyword past 6")
        << QStringLiteral("第") + repeat(x, 6) + QStringLiteral("第") + repeat(x, 30) << false;
    QTest::newRow("keyword at 7 but another at 6") << repeat(x, 6) + QStringLiteral("第第") + repeat(x, 29) << true;
    QTest::newRow("surrogate pair counts two before") << repeat(pair, 3) + QStringLiteral("第") << true;
    QTest::newRow("surrogate pair pushes past 6") << repeat(pair, 3) + x + QStringLiteral("第") << false;
    QTest::newRow("surrogate pairs after: 30 units") << QStringLiteral("第") + repeat(pair, 15) << true;
    QTest::newRow("surrogate pairs after: 32 units") << QStringLiteral("第") + repeat(pair, 16) << false;
    QTest::newRow("cr after keyword") << QStringLiteral("第一章\r") << false;
    QTest::newRow("cr before keyword") << QStringLiteral("\r第一章") << false;
    QTest::newRow("line separator after") << QStringLiteral("第一章\u2028") << false;
    QTest::newRow("paragraph separator before") << QStringLiteral("\u2029第") << false;
    QTest::newRow("tab before and after") << QStringLiteral("\t第一章\t") << true;
    QTest::newRow("vip lower") << QStringLiteral("vip章节") << true;
    QTest::newRow("Vip") << QStringLiteral("Vip章节") << true;
    QTest::newRow("vIP") << QStringLiteral("vIP") << true;
    QTest::newRow("dotless i is not I") << QStringLiteral("v\u0131p") << false;
    QTest::newRow("dotted capital I is not I") << QStringLiteral("V\u0130P") << false;
    QTest::newRow("full-width VIP") << QStringLiteral("ＶＩＰ") << false;
    QTest::newRow("VI only") << QStringLiteral("VI章") << false;
    QTest::newRow("zheng without wen") << QStringLiteral("正题") << false;
    QTest::newRow("empty") << QString() << false;

    // Second alternative: 1-4 numerals, a separator, at most 20 more.
    QTest::newRow("numeral and comma") << QStringLiteral("一、出发") << true;
    QTest::newRow("digits and ideographic space") << QStringLiteral("12\u3000回家") << true;
    QTest::newRow("full-width digits and colon") << QStringLiteral("１２：回家") << true;
    QTest::newRow("full-width comma") << QStringLiteral("三，开始") << true;
    QTest::newRow("4 numerals") << QStringLiteral("一二三四、出发") << true;
    QTest::newRow("5 numerals") << QStringLiteral("一二三四五、出发") << false;
    QTest::newRow("leading ideographic space") << QStringLiteral("\u3000一、出发") << false;
    QTest::newRow("leading blank") << QStringLiteral(" 一、出发") << false;
    QTest::newRow("20 after separator") << QStringLiteral("1 ") + repeat(x, 20) << true;
    QTest::newRow("21 after separator") << QStringLiteral("1 ") + repeat(x, 21) << false;
    QTest::newRow("numerals only") << QStringLiteral("一二三") << false;
    QTest::newRow("cr as separator") << QStringLiteral("一\r出发") << true;
    QTest::newRow("cr after separator") << QStringLiteral("一、\r") << false;
    QTest::newRow("no-break space separator") << QStringLiteral("7\u00A0x") << true;
    QTest::newRow("byte order mark separator") << QStringLiteral("7\uFEFFx") << true;
    QTest::newRow("zero width space is not white") << QStringLiteral("7\u200Bx") << false;
    QTest::newRow("mongolian vowel separator is not white") << QStringLiteral("7\u180Ex") << false;
    QTest::newRow("ascii comma is no separator") << QStringLiteral("1,x") << false;
    QTest::newRow("ling and circle") << QStringLiteral("○零、x") << true;
    QTest::newRow("liang bai qian") << QStringLiteral("两百千十 x") << true;
    QTest::newRow("wan is no numeral") << QStringLiteral("万、x") << false;
}

void TestHeadingRule::heading()
{
    QFETCH(QString, line);
    QFETCH(bool, expected);
    QCOMPARE(IsChapterHeading(line), expected);
}

// Runs the literal expression under node on many generated lines, built from the characters
// the rule cares about, and compares line by line.
void TestHeadingRule::agreesWithJavaScript()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        QSKIP("node is not on PATH");

    static const char16_t alphabet[] = {
        u'第',  u'正',  u'文',  u'作',  u'品',  u'V',   u'I',   u'P',   u'v',   u'i',   u'p',   0x0131, 0x0130, u'一',
        u'二',  u'两',  u'十',  u'○',   u'零',  u'百',  u'千',  u'万',  u'0',   u'9',   u'１',  u'０',  u'、',  u'，',
        u'：',  u',',   u' ',   u'\t',  0x000B, 0x000C, u'\r',  0x3000, 0x00A0, 0x1680, 0x2000, 0x200A, 0x200B, 0x2028,
        0x2029, 0x202F, 0x205F, 0xFEFF, 0x180E, 0x0085, 0xD840, 0xDC00, u'a',   u'中',  u'章'};
    constexpr int alphabetSize = int(sizeof alphabet / sizeof alphabet[0]);
    QRandomGenerator rng(20240607);
    QStringList lines;
    auto filler = [&](int length) {
        QString s;
        for (int i = 0; i < length; ++i)
            s += QChar(rng.bounded(4) == 0 ? alphabet[rng.bounded(alphabetSize)] : char16_t(u'字'));
        return s;
    };
    // Random lines of all lengths around the limits.
    for (int i = 0; i < 30000; ++i) {
        QString s;
        const int length = int(rng.bounded(48));
        for (int k = 0; k < length; ++k)
            s += QChar(alphabet[rng.bounded(alphabetSize)]);
        lines << s;
    }
    // Keyword or numeral run placed at every boundary, with mostly plain filler around it.
    static const QStringList keywords{"第", "正文", "作品", "VIP", "vip", "vIp", "一", "一二三四", "12", "１２３４５"};
    static const QStringList separators{"、", "，", "：", " ", "\u3000", "\t", "\r", "x", ""};
    for (const QString &keyword : keywords) {
        for (int before = 0; before <= 8; ++before) {
            for (int after = 17; after <= 33; ++after) {
                for (const QString &separator : separators)
                    lines << filler(before) + keyword + separator + filler(after)
                          << keyword + separator + filler(after);
            }
        }
    }

    QTemporaryDir dir;
    QByteArray input;
    for (const QString &line : lines) {
        if (line.isEmpty()) {
            input += "-\n";
            continue;
        }
        QStringList hex;
        for (QChar c : line)
            hex << QString::number(c.unicode(), 16);
        input += hex.join(u' ').toLatin1() + '\n';
    }
    const QString inputPath = dir.filePath(QStringLiteral("lines.txt"));
    QVERIFY(TestSupport::writeFile(inputPath, input));

    QProcess js;
    js.start(node,
             {QDir(TestSupport::sourceDir()).filePath(QStringLiteral("tests/reader/heading_check.js")), inputPath});
    QVERIFY2(js.waitForFinished(120000), "node did not finish");
    QCOMPARE(js.exitCode(), 0);
    const QByteArray answers = js.readAllStandardOutput().trimmed();
    QCOMPARE(answers.size(), lines.size());

    int mismatches = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool theirs = answers.at(i) == '1';
        if (IsChapterHeading(lines.at(i)) != theirs && ++mismatches <= 10) {
            QStringList hex;
            for (QChar c : lines.at(i))
                hex << QString::number(c.unicode(), 16);
            qWarning("line %lld [%s]: JavaScript says %d", qint64(i), qPrintable(hex.join(u' ')), int(theirs));
        }
    }
    QCOMPARE(mismatches, 0);
}

QTEST_GUILESS_MAIN(TestHeadingRule)
#include "tst_headingrule.moc"
