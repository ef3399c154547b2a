#include "text/HeadingRule.h"

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString pair = u"\U00020000"_s; // one character, two UTF-16 units

QByteArray hexUnits(const QString &line)
{
    QStringList hex;
    for (QChar c : line)
        hex << QString::number(c.unicode(), 16);
    return hex.join(u' ').toLatin1();
}

} // namespace

class TestHeadingRule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heading_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("expected");

        const QString x = u"字"_s;
        // A few representative lines; agreesWithJavaScript walks every boundary with every
        // character the rule cares about. First alternative: 0-6 units before the keyword, at
        // most 30 after it; a surrogate pair counts two.
        QTest::newRow("chapter") << u"第一章 风起"_s << true;
        QTest::newRow("7 before") << x.repeated(7) + u"第"_s << false;
        QTest::newRow("31 after") << u"第"_s + x.repeated(31) << false;
        QTest::newRow("surrogate pair pushes past 6") << pair.repeated(3) + x + u"第"_s << false;
        QTest::newRow("vIP") << u"vIP"_s << true;
        QTest::newRow("dotless i is not I") << u"v\u0131p"_s << false;

        // Second alternative: 1-4 numerals, a separator, at most 20 more.
        QTest::newRow("numeral and comma") << u"一、出发"_s << true;
        QTest::newRow("5 numerals") << u"一二三四五、出发"_s << false;
        QTest::newRow("21 after separator") << u"1 "_s + x.repeated(21) << false;
        QTest::newRow("leading ideographic space") << u"\u3000一、出发"_s << false;
    }
    void heading()
    {
        QFETCH(QString, line);
        QTEST(IsChapterHeading(line), "expected");
    }

    // Runs the literal expression under node on many generated lines, built from the characters
    // the rule cares about, and compares line by line.
    void agreesWithJavaScript()
    {
        const QString node = QStandardPaths::findExecutable(u"node"_s);
        if (node.isEmpty())
            QSKIP("node is not on PATH");

        static const char16_t alphabet[] = {u'第',  u'正',  u'文',  u'作',  u'品',  u'V',   u'I',   u'P',   u'v',
                                            u'i',   u'p',   0x0131, 0x0130, u'一',  u'二',  u'两',  u'十',  u'○',
                                            u'零',  u'百',  u'千',  u'万',  u'0',   u'9',   u'１',  u'０',  u'、',
                                            u'，',  u'：',  u',',   u' ',   u'\t',  0x000B, 0x000C, u'\r',  0x3000,
                                            0x00A0, 0x1680, 0x2000, 0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F,
                                            0xFEFF, 0x180E, 0x0085, 0xD840, 0xDC00, u'a',   u'中',  u'章'};
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
        static const QStringList keywords{"第",  "正文", "作品",     "VIP", "vip",
                                          "vIp", "一",   "一二三四", "12",  "１２３４５"};
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
        for (const QString &line : lines)
            input += (line.isEmpty() ? "-"_ba : hexUnits(line)) + '\n';
        const QString inputPath = dir.filePath(u"lines.txt"_s);
        QVERIFY(TestSupport::writeFile(inputPath, input));

        QProcess js;
        js.start(node, {QDir(TestSupport::sourceDir()).filePath(u"tests/text/heading_check.js"_s), inputPath});
        QVERIFY2(js.waitForFinished(120000), "node did not finish");
        QCOMPARE(js.exitCode(), 0);
        const QByteArray answers = js.readAllStandardOutput().trimmed();
        QCOMPARE(answers.size(), lines.size());

        int mismatches = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool theirs = answers.at(i) == '1';
            if (IsChapterHeading(lines.at(i)) != theirs && ++mismatches <= 10)
                qWarning("line %lld [%s]: JavaScript says %d", qint64(i), hexUnits(lines.at(i)).constData(),
                         int(theirs));
        }
        QCOMPARE(mismatches, 0);
    }
};

QTEST_GUILESS_MAIN(TestHeadingRule)
#include "tst_headingrule.moc"
