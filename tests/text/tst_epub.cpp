#include "text/Chapters.h"
#include "text/EpubDocument.h"
#include "text/EpubWriter.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

// Debian's epubcheck is a jar the system runs through binfmt, which is not always set up; it is
// run with java directly. Empty when either is missing.
QStringList epubcheck(bool longRun = false)
{
    const QString jar = QFileInfo(QStandardPaths::findExecutable(u"epubcheck"_s)).canonicalFilePath();
    const QString java = QStandardPaths::findExecutable(u"java"_s);
    if (jar.isEmpty() || java.isEmpty())
        return {};
    // Quick start-up matters more than peak speed for a short run. It follows the contents'
    // links recursively, one stack frame for each: a deep stack for books of many chapters.
    QStringList command{java, u"-Xss512m"_s, u"-XX:+UseSerialGC"_s, u"-jar"_s, jar};
    if (!longRun)
        command.insert(1, u"-XX:TieredStopAtLevel=1"_s);
    return command;
}

// The findings epubcheck reports, one a line; empty when the book passes cleanly.
QString epubcheckFindings(const QString &epub, bool longRun = false)
{
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    QStringList command = epubcheck(longRun);
    check.start(command.takeFirst(), command << u"--quiet"_s << epub);
    if (!check.waitForFinished(-1))
        return u"epubcheck did not run"_s;
    const QString output = QString::fromUtf8(check.readAll());
    QStringList findings;
    for (const QString &line : output.split(u'\n'))
        if (line.contains(u"ERROR"_s) || line.contains(u"WARNING"_s) || line.contains(u"FATAL"_s))
            findings << line;
    if (check.exitCode() != 0 && findings.isEmpty())
        findings << output;
    return findings.mid(0, 10).join(u'\n');
}

QByteArray oneLineBook(qsizetype bytes)
{
    const QByteArray sentence = u"　　行者闻言，心中大喜，当下便纵身跳起，驾着筋斗云去了。"_s.toUtf8();
    QByteArray book;
    book.reserve(bytes + sentence.size());
    while (book.size() < bytes)
        book += sentence;
    return book;
}

QByteArray manyChapters(int count)
{
    QByteArray book = "书名\n";
    book.reserve(count * 40);
    for (int i = 1; i <= count; ++i)
        book += "第" + QByteArray::number(i) + "章 风起\n　　内容一行。\n";
    return book;
}

// Chapters of `lines` long lines each: a book of some megabytes that every thread works on.
QByteArray longChapters(int count, int lines)
{
    const QByteArray line = "　　" + QByteArray("内容很长的一行。").repeated(8) + '\n';
    QByteArray book = "书名\n";
    for (int i = 1; i <= count; ++i) {
        book += "第" + QByteArray::number(i) + "章 风起\n";
        for (int l = 0; l < lines; ++l)
            book += line;
    }
    return book;
}

EpubBook bookAt(const QString &path)
{
    EpubBook book;
    book.path = path;
    return book;
}

} // namespace

class TestEpub : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void escaping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("attribute");
        QTest::addColumn<QString>("expected");
        QTest::newRow("markup") << u"a<b>&c\"d"_s << false << u"a&lt;b&gt;&amp;c\"d"_s;
        QTest::newRow("attribute quote") << u"a\"b"_s << true << u"a&quot;b"_s;
        QTest::newRow("controls dropped, tab a space") << u"a\u0001b\u001Fc\u007F\u0085d\te"_s << false << u"abcd e"_s;
        QTest::newRow("lone surrogates dropped, pairs kept")
            << (u"x"_s + QChar(0xD800) + u"y"_s + QChar(0xDC00) + u"𠀀"_s) << false << u"xy𠀀"_s;
        QTest::newRow("non-characters dropped") << (u"甲"_s + QChar(0xFFFE) + QChar(0xFFFF) + u"乙"_s) << false
                                                << u"甲乙"_s;
        QTest::newRow("Chinese and accents untouched") << u"第一回　灵根育孕 café！"_s << false << u"第一回　灵根育孕 café！"_s;
    }
    void escaping()
    {
        QFETCH(QString, text);
        QFETCH(bool, attribute);
        QTEST(XmlText(text, attribute), "expected");
        if (!attribute) { // the same straight into UTF-8, as chapter text goes
            QByteArray utf8 = "x";
            AppendXmlUtf8(utf8, text);
            QTEST(QString::fromUtf8(utf8).mid(1), "expected");
        }
    }

    void titles_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spaces made one") << u"　第一章\t\t风起\u0001 "_s << u"第一章 风起"_s;
        QTest::newRow("nothing left") << u"\u0001\u0002"_s << u"第7章"_s;
        QTest::newRow("long cut, escaped after the cut")
            << (QString(78, u'字') + u"&&&"_s) << (QString(78, u'字') + u"&amp;…"_s);
    }
    void titles()
    {
        QFETCH(QString, title);
        QTEST(DisplayTitle(title, u"第7章"_s), "expected");
    }

    // Pieces of lines ("|" ends a line) into documents, with a paragraph limit of 8 units and
    // documents closed past 20 bytes.
    void paragraphs_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QStringList>("documents");
        QTest::newRow("empty chapter") << QStringList{} << QStringList{u""_s};
        QTest::newRow("indent and blank lines") << QStringList{u"　　甲乙|"_s, u"   |"_s, u"丙|"_s}
                                                << QStringList{u"<p>甲乙</p><p>丙</p>"_s};
        QTest::newRow("long line cut at a sentence end")
            << QStringList{u"一二三四五。六七八九十|"_s}
            << QStringList{u"<p>一二三四五。</p>"_s, u"<p>六七八九十</p>"_s};
        QTest::newRow("no sentence end: cut at the limit")
            << QStringList{u"一二三四五六七八九|"_s} << QStringList{u"<p>一二三四五六七八</p>"_s, u"<p>九</p>"_s};
        QTest::newRow("a line in pieces, closing quote kept")
            << QStringList{u"　"_s, u"　甲乙丙丁。”"_s, u"戊己庚辛|"_s}
            << QStringList{u"<p>甲乙丙丁。”</p>"_s, u"<p>戊己庚辛</p>"_s};
    }
    void paragraphs()
    {
        QFETCH(QStringList, pieces);
        QStringList documents;
        ParagraphWriter writer([&](const QByteArray &body) { documents << QString::fromUtf8(body).remove(u'\n'); },
                               20, 8);
        for (const QString &piece : pieces)
            writer.addText(piece.endsWith(u'|') ? QStringView(piece).chopped(1) : QStringView(piece),
                           piece.endsWith(u'|'));
        writer.finish();
        QTEST(documents, "documents");
    }

    // A line taken straight from its bytes gives the same documents as the line decoded first
    // (documents closed past 64 bytes, paragraphs of at most 16 units).
    void linesFromBytes_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("bytes"); // lines, "\n" between them
        const QString text = u"　　甲&<乙>丙。\n \t a\u0001b\u001F\u007F c \t\n\n\u3000\n\u00A0前\u00A0\n\u2003中\u2003\n"
                             u"x\uFFFEy\uFFFF\n\u0085z\u0085\n𠀀字\na\rb\r\n“引”\n"_s +
                             QString(17, u'长') + u"\n"_s + QString(16, u'长') + u"　\n"_s;
        const int gb = int(TextEncoding::Gb18030), u8 = int(TextEncoding::Utf8);
        QTest::newRow("GB18030") << gb << QByteArray(QStringEncoder("GB18030").encode(text));
        QTest::newRow("GB18030 malformed, four-byte codes")
            << gb << QByteArray("\x81\n\x80\x61\xFF\n\x81\xFF\xD6\xD0\n\xB0\x30\n\x81\x30\x81\x30x\n\xA1\xA1\xA1\n\xB0");
        QByteArray everyCode; // each two-byte code a line of its own, twice over and alone
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFF; ++trail) {
                const QByteArray code = QByteArray(1, char(lead)) + char(trail);
                everyCode += code + code + "x" + code + "\n";
            }
        }
        QTest::newRow("every two-byte GB18030 code") << gb << everyCode;
        QTest::newRow("UTF-8") << u8 << text.toUtf8();
        QTest::newRow("UTF-8 malformed")
            << u8 << QByteArray("\xFF\xFE\n\xED\xA0\x80\n\xC0\xAF\n\xE4\xB8\n\xF4\x90\x80\x80\n\xF0\x9F\x98\x80 \xC2\x85");
    }
    void linesFromBytes()
    {
        QFETCH(int, encoding);
        QFETCH(QByteArray, bytes);
        QStringList straight, decoded;
        ParagraphWriter fast([&](const QByteArray &body) { straight << QString::fromUtf8(body); }, 64, 16);
        ParagraphWriter slow([&](const QByteArray &body) { decoded << QString::fromUtf8(body); }, 64, 16);
        int taken = 0;
        for (const QByteArray &line : bytes.split('\n')) {
            const QString text = DecodeText(TextEncoding(encoding), line);
            if (fast.addLine(TextEncoding(encoding), line))
                ++taken;
            else
                fast.addText(text, true);
            slow.addText(text, true);
        }
        fast.finish();
        slow.finish();
        QCOMPARE(straight, decoded);
        QVERIFY(taken > 0);
    }

    // Every book gives an EPUB that epubcheck passes without a single error or warning, with
    // one contents entry per chapter.
    void epubcheckPasses_data()
    {
        QTest::addColumn<QString>("file"); // in the corpus, or empty
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<BookReading>("reading");
        QTest::addColumn<int>("level"); // of compression
        const QString corpus = TestSupport::corpusDir();
        for (const QString &name : {u"xiyouji_gbk.txt"_s, u"sanguoyanyi_utf8_crlf.txt"_s,
                                   u"rulinwaishi_utf8_oneline.txt"_s}) {
            if (!corpus.isEmpty() && QFile::exists(QDir(corpus).filePath(name)))
                QTest::newRow(qPrintable(name)) << QDir(corpus).filePath(name) << QByteArray() << BookReading{} << 0;
        }
        if (!corpus.isEmpty() && QFile::exists(QDir(corpus).filePath(u"rulinwaishi_utf8_oneline.txt"_s)))
            QTest::newRow("one-line novel, smart chapters")
                << QDir(corpus).filePath(u"rulinwaishi_utf8_oneline.txt"_s) << QByteArray() << BookReading{{}, true} << 0;
        QTest::newRow("one line of 2 MB") << QString() << oneLineBook(2 * 1024 * 1024) << BookReading{} << 0;
        QTest::newRow("6,000 chapters, deflated") << QString() << manyChapters(6000) << BookReading{} << 6;
        QTest::newRow("titles with markup and controls")
            << QString()
            << QByteArray("<title> & \"x\"\n\x01\x02\n第一章 <b>&amp;\x07\x1b[0m\n　　a < b && c > d\x0b。\n"
                          "第二章 \x01\x02\x03\n正文\x7f\n第三章 ]]> <!-- &#0;\n\xef\xbf\xbe end\n")
            << BookReading{} << 0;
        QTest::newRow("UTF-16 with its mark, own rule")
            << QString() << (QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(u"书\n卷一\n甲\n卷二\n乙\n"), 22))
            << BookReading{{}, false, u"^卷"_s} << 0;
        QTest::newRow("empty file") << QString() << QByteArray() << BookReading{} << 0;
    }
    void epubcheckPasses()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(BookReading, reading);
        QFETCH(int, level);
        if (epubcheck().isEmpty())
            QSKIP("epubcheck is not installed");
        QTemporaryDir dir;
        if (file.isEmpty()) {
            file = dir.filePath(u"book.txt"_s);
            QVERIFY(TestSupport::writeFile(file, bytes));
        }
        const QString epub = dir.filePath(u"book.epub"_s);
        EpubBook book = bookAt(file);
        book.reading = reading;
        book.compressionLevel = level;
        book.title = u"书 <名> & \u0001"_s;
        book.author = u"佚名"_s;
        book.subject = u"武侠"_s;
        const EpubResult result = WriteEpub(book, epub);
        QVERIFY2(result.ok, qPrintable(result.errorMessage));
        QCOMPARE(result.chapters, GetChapter(file, {}, nullptr, reading).entries.size());
        QCOMPARE(epubcheckFindings(epub), QString());
    }

    // A cover goes in with the names both kinds of readers look for; one of a type readers
    // need not show is left out. Either way epubcheck passes.
    void cover_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("GIF") << "image/gif"_ba;
        QTest::newRow("a type readers need not show") << "image/bmp"_ba;
    }
    void cover()
    {
        QFETCH(QByteArray, type);
        if (epubcheck().isEmpty())
            QSKIP("epubcheck is not installed");
        QTemporaryDir dir;
        EpubBook book = bookAt(dir.filePath(u"book.txt"_s));
        QVERIFY(TestSupport::writeFile(book.path, manyChapters(3)));
        book.cover = QByteArray("GIF89a\x01\0\x01\0\xf0\0\0\xff\xff\xff\0\0\0!\xf9\x04\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
                                "D\x01\0;", 43);
        book.coverType = type;
        QVERIFY(WriteEpub(book, dir.filePath(u"book.epub"_s)).ok);
        QCOMPARE(TestSupport::readFile(dir.filePath(u"book.epub"_s)).contains("OEBPS/cover.gif"), type == "image/gif");
        QCOMPARE(epubcheckFindings(dir.filePath(u"book.epub"_s)), QString());
    }

    // The largest books, in a test of their own (FOLIOWAY_LONG_TESTS set): checking them takes
    // minutes.
    void epubcheckPassesLarge_data()
    {
        QTest::addColumn<int>("chapters"); // 0: one line of 300 MB
        QTest::newRow("one line of 300 MB") << 0;
        QTest::newRow("100,000 chapters") << 100000;
    }
    void epubcheckPassesLarge()
    {
        QFETCH(int, chapters);
        if (qEnvironmentVariableIsEmpty("FOLIOWAY_LONG_TESTS"))
            QSKIP("run by tst_text_epub_long");
        if (epubcheck().isEmpty())
            QSKIP("epubcheck is not installed");
        QTemporaryDir dir;
        const QString file = dir.filePath(u"book.txt"_s);
        if (chapters) {
            QVERIFY(TestSupport::writeFile(file, manyChapters(chapters)));
        } else {
            // The book and its EPUB take about 700 MB; the folder goes with them.
            if (QStorageInfo(dir.path()).bytesAvailable() < qint64(2) << 30)
                QSKIP("less than 2 GB free for the 300 MB book");
            QFile book(file);
            QVERIFY(book.open(QIODevice::WriteOnly));
            const QByteArray block = oneLineBook(1024 * 1024);
            for (qint64 written = 0; written < qint64(300) << 20; written += block.size())
                QCOMPARE(book.write(block), block.size());
        }
        const QString epub = dir.filePath(u"book.epub"_s);
        const EpubResult result = WriteEpub(bookAt(file), epub);
        QVERIFY2(result.ok, qPrintable(result.errorMessage));
        QFile::remove(file);
        QCOMPARE(epubcheckFindings(epub, true), QString());
    }

    // Whichever thread writes, progress comes one call at a time and only forward; a cancel
    // halfway stops every thread and leaves the target as it was, with nothing else behind.
    void progressAndCancel_data()
    {
        QTest::addColumn<bool>("cancelHalfway");
        QTest::newRow("whole book") << false;
        QTest::newRow("cancelled halfway") << true;
    }
    void progressAndCancel()
    {
        QFETCH(bool, cancelHalfway);
        QTemporaryDir dir;
        const QString book = dir.filePath(u"book.txt"_s);
        QVERIFY(TestSupport::writeFile(book, longChapters(1000, 40)));
        const QString target = dir.filePath(u"old.epub"_s);
        QVERIFY(TestSupport::writeFile(target, "old"));
        std::atomic_bool cancel = false;
        std::atomic_int inside = 0;
        bool overlapped = false;
        bool backwards = false;
        int calls = 0;
        qint64 last = 0;
        const EpubProgress progress = [&](qint64 done, qint64 total) {
            overlapped = inside.fetch_add(1) != 0 || overlapped;
            backwards = backwards || done < last || done > total;
            last = done;
            ++calls;
            if (cancelHalfway && done * 2 >= total)
                cancel = true;
            inside.fetch_sub(1);
        };
        const EpubResult result = WriteEpub(bookAt(book), target, &cancel, progress);
        QVERIFY(!overlapped);
        QVERIFY(!backwards);
        if (cancelHalfway) {
            QVERIFY(result.cancelled && !result.ok);
            QVERIFY(last < QFileInfo(book).size());
            QCOMPARE(TestSupport::readFile(target), QByteArray("old"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({u"book.txt"_s, u"old.epub"_s}));
        } else {
            QVERIFY2(result.ok, qPrintable(result.errorMessage));
            QCOMPARE(result.chapters, 1001); // the lines before the first heading are one
            QVERIFY(calls > 4);
            QCOMPARE(last, QFileInfo(book).size());
        }
    }

    void failures()
    {
        QTemporaryDir dir;
        const EpubResult missing = WriteEpub(bookAt(dir.filePath(u"gone.txt"_s)), dir.filePath(u"gone.epub"_s));
        QVERIFY(!missing.ok);
        QVERIFY(!missing.errorMessage.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(u"gone.epub"_s)));

        // Cancelled: the target keeps what it held.
        const QString book = dir.filePath(u"book.txt"_s);
        QVERIFY(TestSupport::writeFile(book, manyChapters(100)));
        const QString target = dir.filePath(u"old.epub"_s);
        QVERIFY(TestSupport::writeFile(target, "old"));
        const std::atomic_bool cancel = true;
        const EpubResult cancelled = WriteEpub(bookAt(book), target, &cancel);
        QVERIFY(cancelled.cancelled && !cancelled.ok);
        QCOMPARE(TestSupport::readFile(target), QByteArray("old"));

        // A write refused halfway (a file-size limit here; a full disk the same way): a clear
        // message, the target as it was and nothing else left behind.
        QVERIFY(TestSupport::writeFile(book, manyChapters(80000)));
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small{1 << 20, limit.rlim_max};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const EpubResult refused = WriteEpub(bookAt(book), target);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!refused.ok && !refused.cancelled);
        QVERIFY2(refused.errorMessage.startsWith(u"无法写入文件“"_s) && refused.errorMessage.endsWith(u"文件过大"_s),
                 qPrintable(refused.errorMessage));
        QCOMPARE(TestSupport::readFile(target), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({u"book.txt"_s, u"old.epub"_s}));
    }
};

QTEST_GUILESS_MAIN(TestEpub)
#include "tst_epub.moc"
