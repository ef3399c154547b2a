#include "reader/ChapterLoader.h"
#include "text/BookLineIndex.h"
#include "text/BookScan.h"
#include "text/Chapters.h"
#include "text/SmartChapters.h"

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
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// "number|start,end|title" per entry, joined with ";".
QString describe(const QList<ChapterEntry> &entries)
{
    QStringList parts;
    for (const ChapterEntry &e : entries)
        parts << e.numberText() + u'|' + e.rangeText() + u'|' + e.title;
    return parts.join(u';');
}

// What a scan in parts must give exactly as the scan of the whole file.
void compareScans(const QString &path, const BookReading &reading = {})
{
    const BookScan whole = ScanBookFile(path, BookScan::WithHeadings, nullptr, reading);
    for (const int parts : {2, 3, 8}) {
        const BookScan split = ScanBookFileInParts(path, BookScan::WithHeadings, parts, nullptr, reading);
        QCOMPARE(split.error, whole.error);
        QCOMPARE(split.tooManyHeadings, whole.tooManyHeadings);
        QCOMPARE(split.index.encoding, whole.index.encoding);
        QCOMPARE(split.index.bomLength, whole.index.bomLength);
        QCOMPARE(split.index.fileSize, whole.index.fileSize);
        QCOMPARE(split.index.lineStarts, whole.index.lineStarts);
        QCOMPARE(split.headingLines, whole.headingLines);
        QCOMPARE(split.headingTexts, whole.headingTexts);
        QCOMPARE(split.firstLine, whole.firstLine);
    }
}

QStringList titles(const QList<ChapterEntry> &entries)
{
    QStringList out;
    for (const ChapterEntry &e : entries)
        out << e.title;
    return out;
}

} // namespace

class TestChapters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { BookLineIndexCache::instance().clear(); }
    // Encodings and line breaks are read the same way as the plain split in
    // fastPathEqualsFullReread; here the entries a line list makes, and the one a bookmark selects.
    void getChapter_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("bookmark");
        QTest::addColumn<int>("selected");

        QTest::newRow("empty file") << QByteArray() << u"1|0,0|正文"_s << QString() << 0;
        QTest::newRow("no headings") << "Title\na\nb\nc\n"_ba << u"1|0,3|Title"_s << QString() << 0;
        const QByteArray chapters = "书名\n简介\n第一章 起\na\nb\n第二章 承\nc\n"_ba;
        const QString entries = u"1|0,1|书名;2|1,4|第一章 起;3|4,6|第二章 承"_s;
        QTest::newRow("chapters") << chapters << entries << QString() << 0;
        QTest::newRow("bookmark: third entry") << chapters << entries << u"第二章 承"_s << 2;
        QTest::newRow("bookmark gone") << chapters << entries << u"第九章"_s << 0;
        QTest::newRow("bookmark: first of two equal titles")
            << "书\n第三章\nc\n第三章\nd\n"_ba << u"1|0,0|书;2|0,2|第三章;3|2,4|第三章"_s << u"第三章"_s << 1;
        QTest::newRow("heading on line 1") << "书名\n第一章\na\n"_ba << u"1|0,0|书名;2|0,2|第一章"_s << QString() << 0;
        QTest::newRow("consecutive headings")
            << "书\n第一卷\n第一章\nx\n"_ba << u"1|0,0|书;2|0,1|第一卷;3|1,3|第一章"_s << QString() << 0;
        QTest::newRow("first line: spaces, then cr removed, then spaces again")
            << " \r Title \r\nx"_ba << u"1|0,1|Title"_s << QString() << 0;
        QTest::newRow("empty first line") << "\n第一章\n"_ba << u"1|0,0|正文;2|0,1|第一章"_s << QString() << 0;
    }
    void getChapter()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, bookmark);
        const ChapterList list = GetChapter(write(bytes), bookmark);
        QVERIFY(list.ok());
        QTEST(describe(list.entries), "expected");
        QTEST(int(list.selected), "selected");
        QVERIFY(list.selectedEntry());
    }

    // A book has at most MaxChapters chapters: one heading more and it is refused, the smart
    // reading too, before its list is built.
    void tooManyChapters()
    {
        QByteArray text = "书名\n";
        for (int i = 1; i < MaxChapters; ++i)
            text += "第" + QByteArray::number(i) + "章\n";
        QCOMPARE(GetChapter(write(text)).entries.size(), MaxChapters);
        const QString path = write(text + "第0章\n", u"over.txt"_s);
        for (const bool smart : {false, true}) {
            const ChapterList list = GetChapter(path, {}, nullptr, {std::nullopt, smart});
            QCOMPARE(list.error, BookOpenError::TooManyChapters);
            QVERIFY(list.entries.isEmpty());
            QCOMPARE(list.errorMessage, u"文件中的章节标题超过 200000 个，太多了，无法打开以下文件：\r\n"_s + path +
                                            u"\r\n正常的小说不会有这么多章节，请检查文件内容是否正确。"_s);
        }
    }

    // The reader's loader refuses a file with nothing to read, with a message that says so;
    // something else renamed ".txt" opens all the same, named for what it seems to be; text in
    // any of the book encodings opens plainly.
    void notABook_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message"); // its start; empty: opens
        QTest::addColumn<BookFileProblem>("problem");
        using P = BookFileProblem;
        const QString empty = u"这本书是空的"_s;
        QTest::newRow("0 bytes") << QByteArray() << empty << P::None;
        QTest::newRow("a mark and blank lines") << "\xEF\xBB\xBF\r\n \n"_ba << empty << P::None;
        QTest::newRow("executable") << "MZ\x90\0\x03\0\0\0\x04\0"_ba + QByteArray(200, '\0') << QString()
                                    << P::Executable;
        QTest::newRow("elf") << "\x7F"
                                "ELF\x02\x01\x01"_ba
                             << QString() << P::Executable;
        QTest::newRow("zip") << "PK\x03\x04\x14\0\0\0"_ba + TestSupport::gb18030(u"书"_s) << QString() << P::Archive;
        QTest::newRow("NUL bytes on both sides") << "ab\0\0cd\0e\0\0\0"_ba.repeated(20) << QString() << P::Binary;
        QTest::newRow("control characters")
            << "\x01\x02\x03\x10 text \x11\x12\x13\x14\x15"_ba.repeated(20) << QString() << P::Binary;
        QTest::newRow("text beginning with MZ") << TestSupport::gb18030(u"MZ书名\n第一章\n"_s) << QString() << P::None;
        QTest::newRow("utf16le without a mark")
            << QByteArray(QStringEncoder(QStringEncoder::Utf16LE).encode(u"书\n第一章\na\n"_s)) << QString() << P::None;
        QTest::newRow("utf16be with its mark")
            << "\xFE\xFF"_ba + QStringEncoder(QStringEncoder::Utf16BE).encode(u"书\n第一章\n丁\n"_s) << QString()
            << P::None;
        QTest::newRow("a stray escape in a long text")
            << TestSupport::gb18030(u"书\n第一章\n"_s + u"风起"_s.repeated(200) + u"\x1B\x7F\n"_s) << QString()
            << P::None;
    }
    void notABook()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path = write(bytes);
        ChapterLoader loader;
        QSignalSpy loaded(&loader, &ChapterLoader::loaded);
        loader.request(path);
        QTRY_COMPARE(loaded.size(), 1);
        const auto list = loaded.first().at(1).value<ChapterList>();
        QCOMPARE(list.ok(), message.isEmpty());
        QVERIFY2(message.isEmpty() || (list.errorMessage.startsWith(message) && list.errorMessage.endsWith(path)),
                 qPrintable(list.errorMessage));
        QTEST(list.fileProblem, "problem");
        QCOMPARE(list.entries.isEmpty(), !message.isEmpty());
    }

    // The streamed scan and the line index against the plain way: decode the whole file, split it,
    // test every line; random line ranges start before the first line and run past the last. Files mix encodings, line breaks, malformed bytes and lines longer than the
    // read buffer, so lines straddle buffer boundaries.
    void fastPathEqualsFullReread_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("longLine"); // where a line too long for the scan to keep goes, or -1
        QTest::newRow("gb18030 with malformed bytes") << 0 << -1;
        QTest::newRow("utf8 crlf") << 1 << -1;
        QTest::newRow("utf16le") << 2 << -1;
        QTest::newRow("utf16be") << 3 << -1;
        QTest::newRow("utf8 with a bad byte near the end") << 4 << -1;
        QTest::newRow("utf8, overlong first line cut inside a surrogate pair") << 1 << 0;
        QTest::newRow("utf16be with an overlong line") << 3 << 1;
        QTest::newRow("utf8 with a bad byte deep inside an overlong line") << 5 << 1;
    }
    void fastPathEqualsFullReread()
    {
        QFETCH(int, kind);
        QFETCH(int, longLine);
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
            text += line + (kind == 1 || rng.bounded(3) == 0 ? u"\r\n"_s : u"\n"_s);
            ++lines;
        }
        if (longLine >= 0) {
            // Characters of three and four UTF-8 bytes, the last one within the first line's title
            // limit a surrogate pair; "@" marks where a bad byte can go, well before the scan
            // first passes over the line. Long enough to be passed over several times, so that
            // the reads end at every position inside a character.
            QString line = QString(MaxFirstLineUnits - 1, u'字') + u"\U00020000@"_s;
            line += u"字\U00020000"_s.repeated(2500000) + u"\n"_s;
            text.insert(longLine == 0 ? 0 : text.indexOf(u'\n') + 1, line);
        }
        QByteArray bytes = kind == 0 ? TestSupport::gb18030(text)
                           : kind == 2 ? "\xFF\xFE"_ba + QStringEncoder(QStringEncoder::Utf16LE).encode(text)
                           : kind == 3 ? "\xFE\xFF"_ba + QStringEncoder(QStringEncoder::Utf16BE).encode(text)
                                       : text.toUtf8();
        for (int i = 0; kind == 0 && i < 200; ++i) {
            const qsizetype at = rng.bounded(int(bytes.size()));
            static const char junk[] = {'\x81', '\x80', '\xFF', '\x30', '\x84'};
            bytes[at] = junk[rng.bounded(5)];
        }
        if (kind == 4)
            bytes.insert(bytes.size() - 10, '\xC0');
        if (kind == 5)
            bytes.replace('@', '\xC0');
        const QString path = write(bytes);
        const QStringList reference = SplitBookLines(DecodeBookText(bytes));

        compareScans(path);
        if (QTest::currentTestFailed())
            return;
        const ChapterList list = GetChapter(path);
        QVERIFY(list.ok());
        QCOMPARE(list.lineCount, qint64(reference.size()));
        QCOMPARE(list.encoding, DetectTextEncoding(bytes).encoding);
        const QList<ChapterEntry> expected = ChaptersFromLines(reference);
        QCOMPARE(list.entries.size(), expected.size());
        if (kind < 4) // read as GB18030, the UTF-8 bytes hold few headings
            QVERIFY(list.entries.size() > 20);
        QCOMPARE(describe(list.entries), describe(expected));

        for (int i = 0; i < 60; ++i) {
            const qint64 first = rng.bounded(int(reference.size()) + 3) - 1;
            const qint64 last = first + rng.bounded(40);
            QString want;
            for (qint64 k = qMax<qint64>(first, 0); k <= last && k < reference.size(); ++k)
                want += reference.at(k) + u"<br>"_s;
            QCOMPARE(ReadSplitContent(path, first, last), want);
        }
        for (const ChapterEntry &entry : list.entries.mid(0, 30)) {
            QString want;
            for (qint64 k = entry.firstShownLine(); k <= entry.lastShownLine(); ++k)
                want += reference.at(k) + u"<br>"_s;
            QCOMPARE(ChapterFragment(path, entry), want);
        }
    }

    // Books cut where a part's first line is a heading, the parts disagree on the encoding, a
    // line runs over several parts' starts or there is no line break after the middle at all.
    void scanInParts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("encoding"); // chosen, or empty
        const QByteArray filler = QByteArray("正文。").repeated(4000);
        const QByteArray book = "书名\n" + filler + "\n第二章 中间\n" + filler + "\r\n\n第三章 后\n尾\n";
        QTest::newRow("utf-8, a heading after the middle") << book << QString();
        QTest::newRow("gb18030, the same") << TestSupport::gb18030(QString::fromUtf8(book)) << QString();
        QTest::newRow("utf-8 but a stray byte at the end") << book + "\xFF" << QString();
        QTest::newRow("utf-8 but a stray byte at the start") << "\xFF" + book << QString();
        QTest::newRow("byte-order mark, a stray byte at the end") << "\xEF\xBB\xBF" + book + "\x81" << QString();
        QTest::newRow("utf-8 read as gb18030") << book << u"GB18030"_s;
        QTest::newRow("one line") << filler + filler << QString();
        QTest::newRow("a long line over every start") << "短\n" + filler.repeated(8) + "\n第九章\n" << QString();
        QTest::newRow("empty lines at the middle") << "题\n" + QByteArray(300, '\n') + "第一章\n" << QString();
        QTest::newRow("utf-16 with its mark") << "\xFF\xFE"_ba + QByteArray("\n\0"_ba).repeated(500) << QString();
    }
    void scanInParts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, encoding);
        BookReading reading;
        if (!encoding.isEmpty())
            reading.encoding = EncodingFromName(encoding);
        compareScans(write(bytes), reading);
    }

    void indexFollowsFileChanges_chapterOverTheLimit()
    {
        const QString path = write("T\nfirst\nsecond\n"_ba);
        // A chapter over the byte limit is refused, naming its size; first read without an index.
        QCOMPARE(ReadChapterText(path, 1, 2, 12).refusedBytes, 13);
        QCOMPARE(ReadChapterText(path, 1, 2, 12).fragment, QString());
        QCOMPARE(ReadChapterText(path, 1, 2, 13).fragment, u"first<br>second<br>"_s);
        QCOMPARE(GetChapter(path).entries.size(), 1);
        QCOMPARE(ReadSplitContent(path, 1, 1), u"first<br>"_s);

        // Longer file: a new size.
        QVERIFY(TestSupport::writeFile(path, "T\nzeroth line\nfirst\n"_ba));
        QCOMPARE(ReadSplitContent(path, 1, 1), u"zeroth line<br>"_s);

        // Same size, only the time stamp tells the change.
        QVERIFY(TestSupport::writeFile(path, "T\nzeroth\nline\nfirst\n"_ba));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(ReadSplitContent(path, 1, 2), u"zeroth<br>line<br>"_s);

        QCOMPARE(ReadSplitContent(path, 2, 1), QString()); // a reversed range

        QVERIFY(QFile::remove(path));
        QCOMPARE(ReadSplitContent(path, 1, 2), QString());
    }

    void loader_deliversOnlyNewest()
    {
        QByteArray big = "大书\n"_ba;
        for (int i = 0; i < 60000; ++i)
            big += u"第%1章\n这一章的内容写在这里，相当长的一行文字。\n"_s.arg(i).toUtf8();
        const QString first = write(big, u"big.txt"_s);
        const QString second = write("小书\n第一章\n内容\n"_ba, u"small.txt"_s);

        ChapterLoader loader;
        QSignalSpy spy(&loader, &ChapterLoader::loaded);
        QThread *deliveredOn = nullptr;
        connect(&loader, &ChapterLoader::loaded, this, [&] { deliveredOn = QThread::currentThread(); });
        const quint64 old = loader.request(first);
        const quint64 newest = loader.request(second, u"第一章"_s);
        QVERIFY(newest > old);
        QCOMPARE(loader.pendingRequest(), newest);
        QVERIFY(spy.wait(10000));
        // Give a late result of the first request every chance to (wrongly) arrive.
        QTest::qWait(300);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toULongLong(), newest);
        const ChapterList result = spy.at(0).at(1).value<ChapterList>();
        QCOMPARE(result.path, second);
        QCOMPARE(describe(result.entries), u"1|0,0|小书;2|0,2|第一章"_s);
        QCOMPARE(result.selected, 1);
        QCOMPARE(deliveredOn, QThread::currentThread());
        QCOMPARE(loader.pendingRequest(), quint64(0));

        loader.request(first);
        loader.cancel();
        QTest::qWait(500);
        QCOMPARE(spy.size(), 1);
    }

    // Smart reading beside the plain one: books without long lines keep their entries, except for
    // a contents page and prose that begins with "第"; a chosen encoding replaces the detection.
    void smartAndEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<QString>("expected");

        const QByteArray plain = "书\n第一章\na\n第二章\nb\n"_ba;
        QTest::newRow("short lines, smart") << plain << u"smart=1"_s << u"1|0,0|书;2|0,2|第一章;3|2,4|第二章"_s;
        QTest::newRow("contents page before short chapters")
            << "书\n第1章 起\n第2章 承\n\n第3章 转\n第4章 合\n第5章 终\n第一章 起\na\n第二章 承\nb\n第三章 转\nc\n"
               "第四章 合\nd\n第五章 终\ne\n"_ba
            << u"smart=1"_s << u"1|0,6|书;2|6,8|第一章 起;3|8,10|第二章 承;4|10,12|第三章 转;5|12,14|第四章 合;6|14,16|第五章 终"_s;
        QTest::newRow("four in a row are no contents page")
            << "书\n第1章\n第2章\n第3章\n第4章\n第一章\n"_ba << u"smart=1"_s
            << u"1|0,0|书;2|0,1|第1章;3|1,2|第2章;4|2,3|第3章;5|3,4|第4章;6|4,5|第一章"_s;
        QTest::newRow("dialogue beginning with 第")
            << "书\n第一章\na\n“棍子第二指，就要布云。”那人道\n第二回 真的！\n"_ba << u"smart=1"_s
            << u"1|0,0|书;2|0,3|第一章;3|3,4|第二回 真的！"_s;
        QTest::newRow("utf8 chosen as gb18030") << plain << u"encoding=GB18030"_s
                                                << u"1|0,4|"_s + DecodeText(TextEncoding::Gb18030, "书"_ba);
        QTest::newRow("utf16 without a mark")
            << QByteArray(QStringEncoder(QStringEncoder::Utf16LE).encode(u"书\n第一章\na\n"_s)) << u"encoding=UTF-16"_s
            << u"1|0,0|书;2|0,2|第一章"_s;
        QTest::newRow("utf16 chosen, big-endian mark")
            << "\xFE\xFF"_ba + QStringEncoder(QStringEncoder::Utf16BE).encode(u"书\n第一章\na\n"_s)
            << u"encoding=UTF-16"_s << u"1|0,0|书;2|0,2|第一章"_s;
        QTest::newRow("big5") << QByteArray(QStringEncoder("Big5").encode(u"儒林外史\n第一回 說楔子\n內容\n"_s))
                              << u"encoding=Big5"_s
                              << u"1|0,0|儒林外史;2|0,2|第一回 說楔子"_s;
        // Own rules, which the built-in rule cannot stand in for; kept in the text percent-encoded.
        const QByteArray own = "书\n【一】\na\n第一章\nChapter 2; x=1\nb\n"_ba;
        QTest::newRow("own rule") << own << u"rule=%5E%E3%80%90.%E3%80%91"_s << u"1|0,0|书;2|0,5|【一】"_s;
        QTest::newRow("own rule, ignore-case")
            << own << u"smart=1;rule="_s + QString::fromLatin1(QUrl::toPercentEncoding(u"^chapter \\d+;|^【"_s))
            << u"1|0,0|书;2|0,3|【一】;3|3,5|Chapter 2; x=1"_s;
        QTest::newRow("own rule refused: the built-in one") << own << u"rule=%5B"_s << u"1|0,2|书;2|2,5|第一章"_s;
    }
    void smartAndEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reading);
        const ChapterList list = GetChapter(write(bytes), {}, nullptr, BookReading::fromText(reading));
        QVERIFY(list.ok());
        QTEST(describe(list.entries), "expected");
        QVERIFY(list.reading == BookReading::fromText(reading));
        QVERIFY(BookReading::fromText(list.reading.toText()) == list.reading);
    }

    // A long line arrives in many reads and is split as it comes: every paragraph ends at a
    // sentence end (or is cut at the longest paragraph), headings inside it are chapters, and
    // the paragraphs together are the line again.
    void smartLongLine_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("length"); // of the long line, in thousands of characters
        QTest::newRow("utf8, beyond several reads") << u"UTF-8"_s << 400;
        QTest::newRow("utf16be") << u"UTF-16BE"_s << 60;
        QTest::newRow("big5, just over the limit") << u"Big5"_s << 9;
    }
    void smartLongLine()
    {
        QFETCH(QString, encoding);
        QFETCH(int, length);
        QRandomGenerator rng{uint(length)};
        static const QStringList words{u"他說"_s, u"你好"_s, u"，"_s, u"　"_s, u"第二"_s, u"。"_s, u"！”"_s, u"來了"_s};
        const bool big5 = encoding == u"Big5";
        QString line = u"書名第一回開篇話說"_s;
        QStringList chapters{u"第一回開篇"_s};
        while (line.size() < length * 1000) {
            for (int i = 0; i < 400; ++i)
                line += words.at(rng.bounded(int(words.size())));
            if (rng.bounded(4) == 0) {
                line += u"不斷"_s.repeated(SmartMaxParagraph); // no sentence end at all
                if (!big5)
                    line += u"\U00020000"_s;
            }
            chapters << u"第%1回標題"_s.arg(chapters.size() + 1);
            line += u"。"_s + chapters.last() + u"話說"_s;
        }
        const QString text = u"\n"_s + line + u"\n短行\n"_s;
        const TextEncoding chosen = *EncodingFromName(encoding);
        QStringEncoder encoder(encoding.toLatin1().constData());
        const QString path = write(QByteArray(encoder.encode(text)));
        const BookReading reading{chosen, true};

        const ChapterList list = GetChapter(path, {}, nullptr, reading);
        QVERIFY(list.ok());
        QCOMPARE(titles(list.entries), QStringList{u"正文"_s} + chapters);
        const QString all = ReadChapterText(path, 0, list.lineCount, MaxChapterBytes, reading).fragment;
        QCOMPARE(QString(all).remove(u"<br>"_s), QString(text).remove(u'\n'));
        const QStringList pieces = all.split(u"<br>"_s, Qt::SkipEmptyParts);
        for (const QString &piece : pieces) {
            QVERIFY2(piece.size() <= SmartMaxParagraph + 2, qPrintable(piece.left(20)));
            if (piece.size() > 31 && piece != pieces.last() && piece.size() < SmartMaxParagraph - 1)
                QVERIFY2(piece.endsWith(u'。') || piece.endsWith(u"！”"_s), qPrintable(piece.right(20)));
        }
        // Read plainly, the same file is one long line and says smart reading would help.
        const ChapterList plainList = GetChapter(path, {}, nullptr, {chosen, false});
        QCOMPARE(plainList.lineCount, 3);
        QCOMPARE(plainList.entries.size(), 1);
        QVERIFY(plainList.smartWouldHelp);
        QVERIFY(!list.smartWouldHelp);
    }

    // A heading inside a long line ends where its title ends, never inside the story's first
    // clause, and the story never starts with a mark of the heading's line.
    void smartHeadingEnds_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // the lines the long line becomes, "|" between
        QTest::newRow("runs into a clause, others closed by 話說")
            << u"第一回甲乙丙丁戊己人生南北，將相。第二回子丑寅卯辰巳話說來了。第三回天地玄黃宇宙洪荒話說去了。"
               u"第四回日月盈昃辰宿話說又來。"_s
            << u"第一回甲乙丙丁戊己|人生南北，將相。|第二回子丑寅卯辰巳|話說來了。|第三回天地玄黃宇宙洪荒|話說去了。|"
               u"第四回日月盈昃辰宿|話說又來。"_s;
        QTest::newRow("runs into a clause, nothing to go by")
            << u"第一回甲乙丙人生，將相。"_s << u"第一回甲乙丙人生，|將相。"_s;
        QTest::newRow("a colon before the title") << u"第一章：風起話說來了。"_s << u"第一章：風起|話說來了。"_s;
        QTest::newRow("closed by an opening quote") << u"第一章風起“來了。”"_s << u"第一章風起|“來了。”"_s;
    }
    void smartHeadingEnds()
    {
        QFETCH(QString, line);
        const LineSplit split = SplitLongLine(line, 0, true);
        QStringList lines;
        qsizetype from = 0;
        for (qsizetype cut : split.cuts)
            lines << line.mid(from, cut - from), from = cut;
        lines << line.mid(from);
        QTEST(lines.join(u'|'), "expected");
    }

    void corpus()
    {
        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("no corpus folder beside the checkout");
        const QDir dir(corpus);

        const QString xiyouji = dir.filePath(u"xiyouji_gbk.txt"_s);
        const QString sanguo = dir.filePath(u"sanguoyanyi_utf8_crlf.txt"_s);
        const QString rulin = dir.filePath(u"rulinwaishi_utf8_oneline.txt"_s);
        if (!QFile::exists(xiyouji) || !QFile::exists(sanguo) || !QFile::exists(rulin))
            QSKIP("the corpus lacks one of its three novels");

        for (const QString &book : {xiyouji, sanguo, rulin})
            compareScans(book);

        // xiyouji has a table of contents near the top ("第001回") and the chapters themselves
        // ("第一回"); both sets of 100 are headings.
        ChapterList list = GetChapter(xiyouji);
        QCOMPARE(list.encoding, TextEncoding::Gb18030);
        const QRegularExpression contents(u"^第(\\d{3})回"_s);
        const QRegularExpression chapter(u"^第[一二三四五六七八九十百零]+回"_s);
        QSet<int> listed;
        QStringList real; // the chapters themselves
        for (const ChapterEntry &e : list.entries) {
            if (const QRegularExpressionMatch m = contents.match(e.title); m.hasMatch())
                listed.insert(m.captured(1).toInt());
            if (chapter.match(e.title).hasMatch())
                real << e.title;
        }
        QCOMPARE(listed.size(), 100);
        QVERIFY(listed.contains(1) && listed.contains(100));
        QCOMPARE(real.size(), 100);
        const ChapterEntry &last = list.entries.last();
        QVERIFY(ChapterFragment(xiyouji, last).contains(u"<br>"_s));

        list = GetChapter(sanguo, u"第三回 议温明董卓叱丁原 馈金珠李肃说吕布"_s);
        QCOMPARE(list.encoding, TextEncoding::Utf8);
        QCOMPARE(list.entries.first().title, u"《三国演义》罗贯中"_s);
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
        QCOMPARE(list.entries.first().rangeText(), u"0,0"_s);
        QVERIFY(list.entries.first().title.startsWith(u"儒林外史"_s));
        QCOMPARE(ChapterFragment(rulin, list.entries.first()), QString());
        QVERIFY(list.smartWouldHelp);

        // Smart reading: xiyouji keeps its 100 chapters and loses the contents page and the
        // dialogue line; sanguo stays as it is; rulin has its 46 chapters (one of them twice).
        const BookReading smart{std::nullopt, true};
        list = GetChapter(xiyouji, {}, nullptr, smart);
        QCOMPARE(list.entries.size(), 101);
        QCOMPARE(titles(list.entries.mid(1)), real);
        QCOMPARE(GetChapter(sanguo, {}, nullptr, smart).entries, GetChapter(sanguo).entries);
        list = GetChapter(rulin, {}, nullptr, smart);
        QCOMPARE(list.entries.size(), 48);
        QCOMPARE(list.entries.at(1).title, u"第一回說楔子敷陳大義借名流隱括全文"_s);
        QVERIFY(ChapterFragment(rulin, list.entries.at(1), smart).startsWith(list.entries.at(1).title +
                                                                             u"<br>人生南北多歧路，將相神仙"_s));
        QCOMPARE(list.entries.last().title, u"第五十六回神宗帝下詔旌賢劉尚書奉旨承祭"_s);
        const QString third = ChapterFragment(rulin, list.entries.at(2), smart);
        QVERIFY(third.startsWith(u"第十二回名士大宴鶯脰腹溯俠客虛設人頭會<br>話說"_s));
        QVERIFY(third.count(u"<br>"_s) > 20);
    }

private:
    QString write(const QByteArray &bytes, const QString &name = u"book.txt"_s)
    {
        const QString path = m_dir.filePath(name);
        if (!TestSupport::writeFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestChapters)
#include "tst_chapters.moc"
