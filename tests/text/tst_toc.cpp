#include "TestSupport.h"
#include "text/Chapters.h"
#include "text/HeadingExpression.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A novel-like text: headings in the forms the rule knows, near misses at its limits, blank
// and white-space lines, numbered lines, long prose, surrogate pairs and stray carriage returns.
QString generatedText(quint32 seed)
{
    QRandomGenerator rng(seed);
    static const QStringList prose{"他说", "第", "一", "正文",       "作品", "vip", "Vip", "、", "，",     "：", "　",
                                   " ",    "\t", "字", "\U00020000", "。",   "1",   "１",  "\r", "\u2028", "<p>"};
    auto words = [&](int count) {
        QString s;
        for (int i = 0; i < count; ++i)
            s += prose.at(rng.bounded(int(prose.size())));
        return s;
    };
    QString text = u"  《生成的书》 \r\n"_s;
    for (int chapter = 1; chapter <= 300; ++chapter) {
        switch (rng.bounded(6)) {
        case 0:
            text += u"第%1章 %2\n"_s.arg(chapter).arg(words(int(rng.bounded(12))));
            break;
        case 1:
            text += u"%1%2\n"_s.arg(QString(int(rng.bounded(9)), u' '), u"第"_s + words(int(rng.bounded(16))));
            break;
        case 2:
            text += u"%1、%2\n"_s.arg(chapter % 10000).arg(words(int(rng.bounded(12))));
            break;
        case 3:
            text += u"VIP卷 第%1章\n"_s.arg(chapter);
            break;
        default:
            text += words(int(rng.bounded(20))) + u'\n';
        }
        const int lines = int(rng.bounded(8));
        for (int i = 0; i < lines; ++i)
            text += (rng.bounded(4) == 0 ? QString() : u"　　"_s + words(int(rng.bounded(80)))) + u'\n';
    }
    return text;
}

} // namespace

// folioway-toc against an independent JavaScript version of the whole chapter detection
// (tests/text/toc.js, decoding with node's own TextDecoder), line for line.
class TestToc : public QObject
{
    Q_OBJECT

    QString m_tool;
    QString m_node;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        m_tool = QDir(TestSupport::binDir()).filePath(u"folioway-toc"_s);
        QVERIFY2(QFileInfo(m_tool).isExecutable(), qPrintable(m_tool));
        m_node = QStandardPaths::findExecutable(u"node"_s);
    }

    void agreesWithJavaScript_data()
    {
        QTest::addColumn<QString>("path");

        const QString text = generatedText(7);
        auto add = [&](const char *name, const QByteArray &bytes) {
            const QString path = m_dir.filePath(QString::fromLatin1(name) + u".txt"_s);
            QVERIFY(TestSupport::writeFile(path, bytes));
            QTest::newRow(name) << path;
        };
        add("gb18030", TestSupport::gb18030(text));
        add("utf8", text.toUtf8());
        add("utf8 crlf", QString(text).replace(u'\n', u"\r\n"_s).toUtf8());
        add("utf8 mark", "\xEF\xBB\xBF"_ba + generatedText(8).toUtf8());
        add("utf16le", "\xFF\xFE"_ba + QStringEncoder(QStringEncoder::Utf16LE).encode(generatedText(9)));
        add("empty", QByteArray());
        add("one line without break", "only"_ba);
        add("blank first line", "\n\n1 x\n"_ba);

        const QString corpus = TestSupport::corpusDir();
        if (!corpus.isEmpty()) {
            const QDir dir(corpus);
            for (const QString &name : dir.entryList({u"*.txt"_s}, QDir::Files))
                QTest::newRow(qPrintable(u"corpus "_s + name)) << dir.filePath(name);
        }
    }
    void agreesWithJavaScript()
    {
        if (m_node.isEmpty())
            QSKIP("node is not on PATH");
        QFETCH(QString, path);
        const TestSupport::ProgramRun ours = TestSupport::runProgram(m_tool, {path});
        QCOMPARE(ours.exitCode, 0);
        const QByteArray theirs = TestSupport::runProgram(
            m_node, {QDir(TestSupport::sourceDir()).filePath(u"tests/text/toc.js"_s), path}).out;
        QVERIFY(ours.out.count('\n') >= 1);
        QCOMPARE(ours.out.split('\n'), theirs.split('\n')); // names the first line that differs
    }

    // --smart and --encoding give what the reading pane gets for the same choice.
    void options_giveTheReadersList_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("options");
        const QString path = m_dir.filePath(u"options.txt"_s);
        QString text = u"书\n第1章 甲\n第2章 乙\n第3章 丙\n第4章 丁\n第5章 戊\n"_s;
        for (int k = 1; k <= 5; ++k)
            text += u"第%1章 %2\n"_s.arg(k).arg(QString(u"甲乙丙丁戊"_s.at(k - 1))) + u"他说：“好。”"_s.repeated(k * 900) + u'\n';
        QVERIFY(TestSupport::writeFile(path, text.toUtf8()));
        QTest::newRow("smart") << path << QStringList{u"--smart"_s};
        QTest::newRow("encoding") << path << QStringList{u"--encoding"_s, u"GB18030"_s};
        QTest::newRow("both") << path << QStringList{u"--encoding"_s, u"utf-8"_s, u"--smart"_s};
        QTest::newRow("own rule") << path << QStringList{u"--rule"_s, u"^第[1-5]章 [甲丙戊]$"_s};
        const QString corpus = TestSupport::corpusDir();
        if (!corpus.isEmpty())
            QTest::newRow("corpus rulin") << QDir(corpus).filePath(u"rulinwaishi_utf8_oneline.txt"_s)
                                          << QStringList{u"--smart"_s};
    }
    void options_giveTheReadersList()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, options);
        BookReading reading;
        reading.smart = options.contains(u"--smart"_s);
        if (const qsizetype at = options.indexOf(u"--encoding"_s); at >= 0)
            reading.encoding = EncodingFromName(options.at(at + 1));
        if (const qsizetype at = options.indexOf(u"--rule"_s); at >= 0)
            reading.rule = options.at(at + 1);
        const TestSupport::ProgramRun run = TestSupport::runProgram(m_tool, options + QStringList{path});
        QCOMPARE(run.exitCode, 0);
        QString expected;
        for (const ChapterEntry &e : GetChapter(path, {}, nullptr, reading).entries)
            expected += e.numberText() + u'\t' + e.rangeText() + u'\t' + e.title + u'\n';
        QCOMPARE(QString::fromUtf8(run.out), expected);
        QCOMPARE(TestSupport::runProgram(m_tool, {u"--encoding"_s, u"EBCDIC"_s, path}).exitCode, 2);
        // What the rules window previews is what the tool prints.
        QList<ChapterEntry> printed;
        for (const QByteArray &line : run.out.split('\n'))
            if (!line.isEmpty())
                printed.append({0, 0, 0, QString::fromUtf8(line.split('\t').at(2))});
        QCOMPARE(ChapterPreview::of(printed).text(),
                 ChapterPreview::of(GetChapter(path, {}, nullptr, reading).entries).text());
        const TestSupport::ProgramRun refused = TestSupport::runProgram(m_tool, {u"--rule"_s, u"(第"_s, path});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(QString::fromUtf8(refused.err).startsWith(u"表达式有误："_s));
    }

    // Memory that grows with the length of a line, or with the number of lines, runs into the
    // limit: the one endless line must still open, and an index that cannot fit is a message. A
    // book that is not there or cannot be read is a message too.
    void exitStatusAndMessage_data()
    {
        QTest::addColumn<char>("fill"); // '\0' makes a sparse file, 'm' none, 'd' a folder
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("one line of 1 GiB") << '\0' << (qint64(1) << 30) << QStringList() << 0 << u"1\t0,0\t"_s;
        QTest::newRow("one line of 256 MiB, smart")
            << '\0' << (qint64(256) << 20) << QStringList{u"--smart"_s} << 0 << u"1\t0,65535\t"_s;
        QTest::newRow("64 million empty lines") << '\n' << (qint64(64) << 20) << QStringList() << 1 << u"内存不足"_s;
        QTest::newRow("missing") << 'm' << qint64(0) << QStringList() << 1 << u"文件地址不存在"_s;
        QTest::newRow("a folder") << 'd' << qint64(0) << QStringList() << 1 << u"无法读取"_s;
    }
    void exitStatusAndMessage()
    {
        QFETCH(char, fill);
        QFETCH(qint64, size);
#ifdef FOLIOWAY_SANITIZE
        if (size > 0)
            QSKIP("the sanitizers reserve more address space than the limit allows");
#endif
        const QString path = m_dir.filePath(fill == 'd' ? u"a folder"_s : u"%1.txt"_s.arg(int(fill)));
        QFile file(path);
        if (fill == 'd')
            QVERIFY(QDir().mkpath(path));
        else if (fill != 'm')
            QVERIFY(file.open(QIODevice::WriteOnly) &&
                    (fill ? file.write(QByteArray(size, fill)) == size : file.resize(size)));
        file.close();
        QFETCH(QStringList, options);
        const TestSupport::ProgramRun r = TestSupport::runProgram(m_tool, options + QStringList{path}, qint64(256) << 20);
        QFile::remove(path);
        QTEST(r.exitCode, "exitCode");
        QFETCH(QString, says);
        QVERIFY2(QString::fromUtf8(r.out + r.err).contains(says), r.err.constData());
        if (fill == 'm')
            QVERIFY(r.out.isEmpty() && QString::fromUtf8(r.err).contains(path));
    }

    // A rule that backtracks without end runs out of matching steps on the line that sets it off:
    // the detection stops there and says so, the tool with exit status 2, the reader with the
    // same words. Steps are counted, not time, so where it stops is the same on every machine.
    void runawayRule_stopsAndSaysWhich_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("before"); // heading lines before the line of 30 "a" and "!"
        QTest::addColumn<bool>("onThatLine"); // false: the ordinary lines use up the book's allowance first
        QTest::newRow("(a+)+$") << u"(a+)+$"_s << QStringList() << 0 << true;
        QTest::newRow("(.*)*x") << u"(.*)*x"_s << QStringList() << 0 << true;
        QTest::newRow("(a+)+$ smart") << u"(a+)+$"_s << QStringList{u"--smart"_s} << 0 << true;
        QTest::newRow("(a+)+$ deep in the book") << u"(a+)+$"_s << QStringList() << 20000 << true;
        QTest::newRow("(.*)*x slow on every line") << u"(.*)*x"_s << QStringList() << 20000 << false;
    }
    void runawayRule_stopsAndSaysWhich()
    {
        QFETCH(QString, rule);
        QFETCH(QStringList, options);
        QFETCH(int, before);
        QFETCH(bool, onThatLine);
        QString text = u"书名\n"_s;
        for (int i = 0; i < before; ++i)
            text += u"第%1章 甲乙\n"_s.arg(i + 1);
        text += QString(30, u'a') + u"!\n第一章 起\n正文\n"_s;
        const QString path = m_dir.filePath(u"runaway.txt"_s);
        QVERIFY(TestSupport::writeFile(path, text.toUtf8()));

        const TestSupport::ProgramRun run = TestSupport::runProgram(m_tool, options + QStringList{u"--rule"_s, rule, path});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        const QString said = QString::fromUtf8(run.err);
        QVERIFY2(said.contains(u"规则匹配太慢，已停止"_s) && said.contains(rule), run.err.constData());
        const qsizetype at = said.indexOf(u"在第 "_s);
        const int line = at < 0 ? 0 : said.mid(at + 3).section(u' ', 0, 0).toInt();
        QVERIFY2(onThatLine ? line == before + 2 : line > 1 && line < before + 2, run.err.constData());

        BookReading reading;
        reading.smart = options.contains(u"--smart"_s);
        reading.rule = rule;
        const ChapterList list = GetChapter(path, {}, nullptr, reading);
        QCOMPARE(list.error, BookOpenError::RuleTooSlow);
        QVERIFY(list.entries.isEmpty());
        QVERIFY(said.contains(QString(list.errorMessage).replace(u"\r\n"_s, u"\n"_s)));
    }
};

QTEST_GUILESS_MAIN(TestToc)
#include "tst_toc.moc"
