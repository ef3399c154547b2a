#include "reader/BookLineIndex.h"
#include "reader/ChapterLoader.h"
#include "reader/Chapters.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// "number|start,end|title" per entry, joined with ";".
QString describe(const QList<ChapterEntry> &entries)
{
    QStringList parts;
    for (const ChapterEntry &e : entries)
        parts << e.numberText() + u'|' + e.rangeText() + u'|' + e.title;
    return parts.join(u';');
}

QByteArray gb(const QString &text)
{
    return QStringEncoder("GB18030").encode(text);
}

} // namespace

class TestChapters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void getChapter_data();
    void getChapter();
    void selection_data();
    void selection();
    void missingAndUnreadable();
    void readSplitContent_data();
    void readSplitContent();
    void fastPathEqualsFullReread_data();
    void fastPathEqualsFullReread();
    void indexFollowsFileChanges();
    void loader_deliversOnlyNewest();
    void loader_reportsErrors();
    void corpus();

private:
    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("book.txt"));
    QTemporaryDir m_dir;
};

void TestChapters::init()
{
    BookLineIndexCache::instance().clear();
}

QString TestChapters::write(const QByteArray &bytes, const QString &name)
{
    const QString path = m_dir.filePath(name);
    if (!TestSupport::writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestChapters::getChapter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty file") << QByteArray() << "1|0,0|正文";
    QTest::newRow("one line") << QByteArray("Title") << "1|0,0|Title";
    QTest::newRow("no headings") << QByteArray("Title\na\nb\nc\n") << "1|0,3|Title";
    QTest::newRow("first line is a heading, never tested")
        << QStringLiteral("第一章\n内容\n").toUtf8() << "1|0,1|第一章";
    QTest::newRow("chapters") << QStringLiteral("书名\n简介\n第一章 起\na\nb\n第二章 承\nc\n").toUtf8()
                              << "1|0,1|书名;2|1,4|第一章 起;3|4,6|第二章 承";
    QTest::newRow("heading on line 1") << QStringLiteral("书名\n第一章\na\n").toUtf8() << "1|0,0|书名;2|0,2|第一章";
    QTest::newRow("consecutive headings")
        << QStringLiteral("书\n第一卷\n第一章\nx\n").toUtf8() << "1|0,0|书;2|0,1|第一卷;3|1,3|第一章";
    QTest::newRow("heading is the last line") << QStringLiteral("书\nx\n第九章").toUtf8() << "1|0,1|书;2|1,2|第九章";
    QTest::newRow("crlf") << QStringLiteral("书\r\nx\r\n第一章 起 \r\nx\r\n").toUtf8() << "1|0,1|书;2|1,3|第一章 起";
    QTest::newRow("first line: spaces, then cr removed, then spaces again")
        << QByteArray(" \r Title \r\nx") << "1|0,1|Title";
    QTest::newRow("first line only spaces and cr") << QByteArray("  \r \nx\n") << "1|0,1|正文";
    QTest::newRow("empty first line") << QByteArray("\n第一章\n") << "1|0,0|正文;2|0,1|第一章";
    QTest::newRow("only a line feed") << QByteArray("\n") << "1|0,0|正文";
    QTest::newRow("titles lose spaces only")
        << QStringLiteral("书\n \u3000第一章\t \n").toUtf8() << "1|0,0|书;2|0,1|\u3000第一章\t";
    QTest::newRow("lone cr kept in a numbered title") << QByteArray("T\n1\rx\n") << "1|0,0|T;2|0,1|1\rx";
    QTest::newRow("gb18030") << gb(QStringLiteral("西游记\n第一回　灵根\n内容\n")) << "1|0,0|西游记;2|0,2|第一回　灵根";
    QTest::newRow("utf16le") << QByteArray("\xFF\xFE") +
                                    QStringEncoder(QStringEncoder::Utf16LE).encode(QStringLiteral("书\r\n第一章\r\nx"))
                             << "1|0,0|书;2|0,2|第一章";
}

void TestChapters::getChapter()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString path = write(bytes);
    const ChapterList list = GetChapter(path);
    QVERIFY(list.ok());
    QCOMPARE(describe(list.entries), expected);
    QCOMPARE(list.selected, 0);
}

void TestChapters::selection_data()
{
    QTest::addColumn<QString>("bookmark");
    QTest::addColumn<int>("selected");

    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("third entry") << QStringLiteral("第二章 承") << 2;
    QTest::newRow("first of two equal titles") << QStringLiteral("第三章") << 3;
    QTest::newRow("gone") << QStringLiteral("第九章") << 0;
    QTest::newRow("case matters") << QStringLiteral("vip章") << 0;
    QTest::newRow("width matters") << QStringLiteral("第二章　承") << 0;
    QTest::newRow("entry 1 itself") << QStringLiteral("书名") << 0;
}

void TestChapters::selection()
{
    QFETCH(QString, bookmark);
    QFETCH(int, selected);
    const QString path =
        write(QStringLiteral("书名\n第一章 起\na\n第二章 承\nb\n第三章\nc\n第三章\nd\nVIP章\n").toUtf8());
    const ChapterList list = GetChapter(path, bookmark);
    QCOMPARE(int(list.selected), selected);
    QVERIFY(list.selectedEntry());
}

void TestChapters::missingAndUnreadable()
{
    const QString missing = m_dir.filePath(QStringLiteral("gone.txt"));
    ChapterList list = GetChapter(missing);
    QCOMPARE(list.error, BookOpenError::Missing);
    QVERIFY(list.entries.isEmpty());
    QCOMPARE(list.errorTitle, QStringLiteral("电子书打开失败!"));
    QCOMPARE(list.errorMessage, QStringLiteral("文件地址不存在，请检查是否移动或删除了以下文件：\r\n") + missing);
    QCOMPARE(ReadSplitContent(missing, 0, 10), QString());

    // A folder cannot be read as a book (and unlike a permission bit, this holds for root too).
    const QString folder = m_dir.filePath(QStringLiteral("folder.txt"));
    QVERIFY(QDir().mkpath(folder));
    list = GetChapter(folder);
    QCOMPARE(list.error, BookOpenError::Unreadable);
    QVERIFY(list.entries.isEmpty());
    QVERIFY(list.errorMessage.endsWith(folder));
    QCOMPARE(ReadSplitContent(folder, 0, 10), QString());
}

void TestChapters::readSplitContent_data()
{
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("last");
    QTest::addColumn<QString>("expected");

    // Lines: 0 "Title", 1 "<b>bold</b>", 2 "a\rb", 3 "", 4 "end"
    QTest::newRow("one line") << qint64(0) << qint64(0) << "Title<br>";
    QTest::newRow("markup passes unescaped") << qint64(1) << qint64(1) << "<b>bold</b><br>";
    QTest::newRow("lone cr kept, crlf dropped") << qint64(2) << qint64(3) << "a\rb<br><br>";
    QTest::newRow("past the end") << qint64(3) << qint64(99) << "<br>end<br>";
    QTest::newRow("all beyond") << qint64(5) << qint64(9) << "";
    QTest::newRow("reversed") << qint64(3) << qint64(2) << "";
    QTest::newRow("negative start") << qint64(-3) << qint64(0) << "Title<br>";
}

void TestChapters::readSplitContent()
{
    QFETCH(qint64, first);
    QFETCH(qint64, last);
    QFETCH(QString, expected);
    const QString path = write(QByteArray("Title\r\n<b>bold</b>\na\rb\r\n\nend\n"));
    QCOMPARE(ReadSplitContent(path, first, last), expected);
}

// The streamed scan and the line index against the plain way: decode the whole file, split it,
// test every line. Files mix encodings, line breaks, malformed bytes and lines longer than the
// read buffer, so lines straddle buffer boundaries.
void TestChapters::fastPathEqualsFullReread_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("gb18030 with malformed bytes") << 0;
    QTest::newRow("utf8 crlf") << 1;
    QTest::newRow("utf16le") << 2;
    QTest::newRow("utf16be") << 3;
    QTest::newRow("utf8 with a bad byte near the end") << 4;
}

void TestChapters::fastPathEqualsFullReread()
{
    QFETCH(int, kind);
    QRandomGenerator rng(1000 + kind);
    static const QStringList pieces{"第", "章", "正文", "作品", "VIP", "一",  "、",         "1", "　",
                                    " ",  "\r", "\t",   "字",   "话",  "<i>", "\U00020000", "。"};
    QString text;
    int lines = 0;
    while (text.size() < 700000) {
        QString line;
        const int roll = int(rng.bounded(100));
        const int length = roll < 3    ? 150000 + int(rng.bounded(150000))
                           : roll < 50 ? int(rng.bounded(12))
                                       : int(rng.bounded(60));
        for (int i = 0; i < length; ++i)
            line += pieces.at(rng.bounded(int(pieces.size())));
        text += line + (kind == 1 || rng.bounded(3) == 0 ? QStringLiteral("\r\n") : QStringLiteral("\n"));
        ++lines;
    }
    QByteArray bytes;
    switch (kind) {
    case 0: {
        QByteArray encoded = gb(text);
        for (int i = 0; i < 200; ++i) {
            const qsizetype at = rng.bounded(int(encoded.size()));
            static const char junk[] = {'\x81', '\x80', '\xFF', '\x30', '\x84'};
            encoded[at] = junk[rng.bounded(5)];
        }
        bytes = encoded;
        break;
    }
    case 1:
        bytes = text.toUtf8();
        break;
    case 2:
        bytes = QByteArray("\xFF\xFE") + QStringEncoder(QStringEncoder::Utf16LE).encode(text);
        break;
    case 3:
        bytes = QByteArray("\xFE\xFF") + QStringEncoder(QStringEncoder::Utf16BE).encode(text);
        break;
    case 4:
        bytes = text.toUtf8();
        bytes.insert(bytes.size() - 10, '\xC0');
        break;
    }
    const QString path = write(bytes);
    const QStringList reference = SplitBookLines(DecodeBookText(bytes));

    const ChapterList list = GetChapter(path);
    QVERIFY(list.ok());
    QCOMPARE(list.lineCount, qint64(reference.size()));
    QCOMPARE(list.encoding, DetectTextEncoding(bytes).encoding);
    const QList<ChapterEntry> expected = ChaptersFromLines(reference);
    QCOMPARE(list.entries.size(), expected.size());
    if (kind != 4) // read as GB18030, the UTF-8 bytes hold few headings
        QVERIFY(list.entries.size() > 20);
    QCOMPARE(describe(list.entries), describe(expected));

    for (int i = 0; i < 60; ++i) {
        const qint64 first = rng.bounded(int(reference.size()) + 3) - 1;
        const qint64 last = first + rng.bounded(40);
        QString want;
        for (qint64 k = qMax<qint64>(first, 0); k <= last && k < reference.size(); ++k)
            want += reference.at(k) + QStringLiteral("<br>");
        QCOMPARE(ReadSplitContent(path, first, last), want);
    }
    for (const ChapterEntry &entry : list.entries.mid(0, 30)) {
        QString want;
        for (qint64 k = entry.firstShownLine(); k <= entry.lastShownLine(); ++k)
            want += reference.at(k) + QStringLiteral("<br>");
        QCOMPARE(ChapterFragment(path, entry), want);
    }
}

void TestChapters::indexFollowsFileChanges()
{
    const QString path = write(QByteArray("T\nfirst\nsecond\n"));
    QCOMPARE(GetChapter(path).entries.size(), 1);
    QCOMPARE(ReadSplitContent(path, 1, 1), QStringLiteral("first<br>"));

    // Longer file: a new size.
    QVERIFY(TestSupport::writeFile(path, QByteArray("T\nzeroth line\nfirst\n")));
    QCOMPARE(ReadSplitContent(path, 1, 1), QStringLiteral("zeroth line<br>"));

    // Same size, only the time stamp tells the change.
    QVERIFY(TestSupport::writeFile(path, QByteArray("T\nzeroth\nline\nfirst\n")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(ReadSplitContent(path, 1, 2), QStringLiteral("zeroth<br>line<br>"));

    QVERIFY(QFile::remove(path));
    QCOMPARE(ReadSplitContent(path, 1, 2), QString());
}

void TestChapters::loader_deliversOnlyNewest()
{
    QByteArray big = QStringLiteral("大书\n").toUtf8();
    for (int i = 0; i < 60000; ++i)
        big += QStringLiteral("第%1章\n这一章的内容写在这里，相当长的一行文字。\n").arg(i).toUtf8();
    const QString first = write(big, QStringLiteral("big.txt"));
    const QString second = write(QStringLiteral("小书\n第一章\n内容\n").toUtf8(), QStringLiteral("small.txt"));

    ChapterLoader loader;
    QSignalSpy spy(&loader, &ChapterLoader::loaded);
    QThread *deliveredOn = nullptr;
    connect(&loader, &ChapterLoader::loaded, this, [&] { deliveredOn = QThread::currentThread(); });
    const quint64 old = loader.request(first);
    const quint64 newest = loader.request(second, QStringLiteral("第一章"));
    QVERIFY(newest > old);
    QCOMPARE(loader.pendingRequest(), newest);
    QVERIFY(spy.wait(10000));
    // Give a late result of the first request every chance to (wrongly) arrive.
    QTest::qWait(300);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toULongLong(), newest);
    const ChapterList result = spy.at(0).at(1).value<ChapterList>();
    QCOMPARE(result.path, second);
    QCOMPARE(describe(result.entries), QStringLiteral("1|0,0|小书;2|0,2|第一章"));
    QCOMPARE(result.selected, 1);
    QCOMPARE(deliveredOn, QThread::currentThread());
    QCOMPARE(loader.pendingRequest(), quint64(0));

    loader.request(first);
    loader.cancel();
    QTest::qWait(500);
    QCOMPARE(spy.size(), 1);
}

void TestChapters::loader_reportsErrors()
{
    ChapterLoader loader;
    QSignalSpy spy(&loader, &ChapterLoader::loaded);
    loader.request(m_dir.filePath(QStringLiteral("nowhere.txt")));
    QVERIFY(spy.wait(5000));
    const ChapterList result = spy.at(0).at(1).value<ChapterList>();
    QCOMPARE(result.error, BookOpenError::Missing);
    QVERIFY(!result.errorMessage.isEmpty());
}

void TestChapters::corpus()
{
    const QString corpus = TestSupport::corpusDir();
    if (corpus.isEmpty())
        QSKIP("no corpus folder beside the checkout");
    const QDir dir(corpus);

    const QString xiyouji = dir.filePath(QStringLiteral("xiyouji_gbk.txt"));
    const QString sanguo = dir.filePath(QStringLiteral("sanguoyanyi_utf8_crlf.txt"));
    const QString rulin = dir.filePath(QStringLiteral("rulinwaishi_utf8_oneline.txt"));
    if (!QFile::exists(xiyouji) || !QFile::exists(sanguo) || !QFile::exists(rulin))
        QSKIP("the corpus lacks one of its three novels");

    // xiyouji has a table of contents near the top ("第001回") and the chapters themselves
    // ("第一回"); both sets of 100 are headings.
    ChapterList list = GetChapter(xiyouji);
    QCOMPARE(list.encoding, TextEncoding::Gb18030);
    const QRegularExpression contents(QStringLiteral("^第(\\d{3})回"));
    const QRegularExpression chapter(QStringLiteral("^第[一二三四五六七八九十百零]+回"));
    QSet<int> listed;
    int chapters = 0;
    for (const ChapterEntry &e : list.entries) {
        const QRegularExpressionMatch m = contents.match(e.title);
        if (m.hasMatch())
            listed.insert(m.captured(1).toInt());
        chapters += chapter.match(e.title).hasMatch();
    }
    QCOMPARE(listed.size(), 100);
    QVERIFY(listed.contains(1) && listed.contains(100));
    QCOMPARE(chapters, 100);
    const ChapterEntry &last = list.entries.last();
    QVERIFY(ChapterFragment(xiyouji, last).contains(QStringLiteral("<br>")));

    list = GetChapter(sanguo, QStringLiteral("第三回 议温明董卓叱丁原 馈金珠李肃说吕布"));
    QCOMPARE(list.encoding, TextEncoding::Utf8);
    QCOMPARE(list.entries.first().title, QStringLiteral("《三国演义》罗贯中"));
    int huiCount = 0;
    for (const ChapterEntry &e : list.entries) {
        QVERIFY2(!e.title.contains(u'\r'), qPrintable(e.title));
        huiCount += e.title.startsWith(u'第') && e.title.contains(u'回');
    }
    QCOMPARE(huiCount, 120);
    QCOMPARE(list.selectedEntry()->number, 4);
    QVERIFY(!ChapterFragment(sanguo, *list.selectedEntry()).contains(u'\r'));

    list = GetChapter(rulin);
    QCOMPARE(list.entries.size(), 1);
    QCOMPARE(list.entries.first().rangeText(), QStringLiteral("0,0"));
    QVERIFY(list.entries.first().title.startsWith(QStringLiteral("儒林外史")));
    QCOMPARE(ChapterFragment(rulin, list.entries.first()), QString());
}

QTEST_GUILESS_MAIN(TestChapters)
#include "tst_chapters.moc"
