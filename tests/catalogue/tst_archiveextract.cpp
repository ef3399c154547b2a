#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "catalogue/ArchiveExtract.h"

#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using ArchiveBuilder::ZipEntry;

Q_DECLARE_METATYPE(ExtractLimits)

namespace {

ExtractLimits limits(qint64 maxTotal, int maxEntries, qint64 floor = 1 << 20, qint64 maxFile = 1 << 20,
                     qint64 ratio = 100)
{
    return {.maxTotalBytes = maxTotal, .maxEntries = maxEntries, .ratio = ratio, .ratioFloorBytes = floor,
            .maxFileBytes = maxFile};
}

// Every file and folder under a folder, relative, sorted.
QStringList tree(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        found.append(QDir(folder).relativeFilePath(it.filePath()) + (it.fileInfo().isSymLink() ? u"@"_s : QString()));
    }
    found.sort();
    return found;
}

} // namespace

class TestArchiveExtract : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString outside() const { return m_dir.filePath(u"outside"_s); }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.filePath(u"lib/book"_s));
        QDir().mkpath(outside());
    }

    void hostile_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<ExtractLimits>("limits");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("written");
        const ExtractLimits roomy = limits(1 << 20, 100);

        const QByteArray abs = QDir(outside()).filePath(u"abs.txt"_s).toUtf8();
        QTest::newRow("dot-dot entries skipped")
            << ArchiveBuilder::zip(
                   {{"../evil.txt", "x"}, {"a/../../evil.txt", "x"}, {"..\\evil.txt", "x"}, {"ok.txt", "ok"}})
            << roomy << 0 << QStringList{"ok.txt"};
        QTest::newRow("absolute paths skipped")
            << ArchiveBuilder::zip({{abs, "x"}, {"C:\\Windows\\evil.txt", "x"}, {"ok.txt", "ok"}}) << roomy << 0
            << QStringList{"ok.txt"};
        QTest::newRow("symbolic link skipped, later file stays inside")
            << ArchiveBuilder::zip({{"lnk", "../../outside", false, 0120777}, {"lnk/payload.txt", "x"}}) << roomy << 0
            << QStringList{"lnk", "lnk/payload.txt"};
        QTest::newRow("hard link skipped")
            << ArchiveBuilder::tarWithHardLink("a.txt", "hl.txt", "../../outside/target.txt") << roomy << 0
            << QStringList{"a.txt"};
        QTest::newRow("folders kept") << ArchiveBuilder::zip(
                                             {{"vol/", {}, false, 040755}, {"vol/1.txt", "1"}, {"./2.txt", "2"}})
                                      << roomy << 0 << QStringList{"2.txt", "vol", "vol/1.txt"};
        QTest::newRow("gbk names without the unicode flag")
            << ArchiveBuilder::zip({{TestSupport::gb18030(u"第一卷/第1章.txt"_s), "x"}, {TestSupport::gb18030(u"说明.txt"_s), "y"}})
            << roomy << 0 << QStringList{"第一卷", "第一卷/第1章.txt", "说明.txt"};
        QTest::newRow("utf-8 names with the flag")
            << ArchiveBuilder::zip({{"作者/正文.txt", "x", true}}) << roomy << 0 << QStringList{"作者", "作者/正文.txt"};
        QTest::newRow("utf-8 names without the flag") << ArchiveBuilder::zip({{"剑来.txt", "x"}}) << roomy << 0 << QStringList{"剑来.txt"};
        const QList<ArchiveBuilder::RarEntry> gbkEntries{{TestSupport::gb18030(u"abc\\第一卷.txt"_s), "卷一"}, {"readme.txt", "readme"}};
        QTest::newRow("rar4 with gbk names and backslashes")
            << ArchiveBuilder::rar4(gbkEntries) << roomy << 0 << QStringList{"abc", "abc/第一卷.txt", "readme.txt"};
        QTest::newRow("rar5 with utf-8 names") << ArchiveBuilder::rar5({{"卷二/第2章.txt", "second"}}) << roomy << 0
                                               << QStringList{"卷二", "卷二/第2章.txt"};
        QTest::newRow("rar4 dot-dot skipped")
            << ArchiveBuilder::rar4({{"..\\..\\evil.txt", "x"}, {"ok.txt", "ok"}}) << roomy << 0 << QStringList{"ok.txt"};
        // A flipped byte in a file name breaks its header checksum.
        QByteArray damagedRar = ArchiveBuilder::rar4({{"a.txt", "a"}, {"b.txt", "b"}});
        damagedRar[damagedRar.indexOf("b.txt")] = 'c';
        QTest::newRow("rar4 damaged header") << damagedRar << roomy << 212 << QStringList{};
        QList<ZipEntry> many;
        for (int i = 0; i < 12; ++i)
            many.append({"f"_ba + QByteArray::number(i) + ".txt", "x"});
        QTest::newRow("too many entries") << ArchiveBuilder::zip(many) << limits(1 << 20, 10) << 230 << QStringList{};
        QTest::newRow("too large in total")
            << ArchiveBuilder::zip({{"a.txt", QByteArray(800, 'a')}, {"b.txt", QByteArray(800, 'b')}})
            << limits(1000, 100) << 230 << QStringList{};
        // 3 MB of zeros deflate to about 3 KB.
        const QByteArray zeros(3 << 20, '\0');
        const QByteArray bomb = ArchiveBuilder::zip({{"bomb.txt", zeros, false, 0100644, true}});
        const QByteArray understated = ArchiveBuilder::zip({{"bomb.txt", zeros, false, 0100644, true, 10}});
        const qint64 GiB = qint64(1) << 30;
        QTest::newRow("bomb over the floor, understating its size")
            << understated << limits(GiB, 100, 1 << 20, 4 << 20) << 230 << QStringList{};
        QTest::newRow("bomb within the floor")
            << bomb << limits(GiB, 100, 4 << 20, 4 << 20) << 0 << QStringList{"bomb.txt"};
        QTest::newRow("bomb within the ratio")
            << bomb << limits(GiB, 100, 1 << 20, 4 << 20, 2000) << 0 << QStringList{"bomb.txt"};
        QTest::newRow("file over its limit, understating its size")
            << understated << limits(GiB, 100, 4 << 20, 1 << 20) << 230 << QStringList{};
        const QByteArray longest = QString(85, u'长').toUtf8(); // 255 bytes, the most a name may have
        QTest::newRow("names over 255 bytes skipped")
            << ArchiveBuilder::zip({{longest + "长", "x"}, {"d/" + longest + "长/in.txt", "x"}, {longest, "x"}})
            << roomy << 0 << QStringList{QString(85, u'长')};
        QTest::newRow("not an archive") << "第一章 这是一本书\r\n"_ba << roomy << 113 << QStringList{};
        QByteArray corrupt = ArchiveBuilder::zip({{"a.txt", "good"}, {"b.txt", QByteArray(100, 'b')}});
        corrupt[corrupt.indexOf(QByteArray(100, 'b')) + 50] = 'X';
        QTest::newRow("damaged data") << corrupt << roomy << 212 << QStringList{};
    }
    void hostile()
    {
        QFETCH(QByteArray, archive);
        QFETCH(ExtractLimits, limits);
        QFETCH(int, code);
        QFETCH(QStringList, written);
        const QString path = m_dir.filePath(u"lib/book/book.zip"_s);
        QVERIFY(TestSupport::writeFile(path, archive));
        const QString dest = m_dir.filePath(u"lib/book"_s);
        const ExtractResult result = ExtractRar(ExtractMode::Extract, path, dest, {}, limits);
        QCOMPARE(result.code, code);
        QCOMPARE(result.reason.isEmpty(), code == 0);
        written << u"book.zip"_s;
        written.sort();
        QCOMPARE(tree(dest), written);
        QVERIFY(tree(outside()).isEmpty());
        QCOMPARE(tree(m_dir.filePath(u"lib"_s)).filter(u"evil"_s), QStringList{});
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"evil.txt"_s)));
    }

    void encryptedZip_addsNothing()
    {
        if (QStandardPaths::findExecutable(u"zip"_s).isEmpty())
            QSKIP("zip is not installed");
        const QString src = m_dir.filePath(u"src"_s);
        QVERIFY(TestSupport::writeFile(src + u"/secret.txt"_s, "secret text"));
        const QString path = m_dir.filePath(u"lib/book/enc.zip"_s);
        QProcess zip;
        zip.setWorkingDirectory(src);
        zip.start(u"zip"_s, {u"-q"_s, u"-P"_s, u"pw"_s, path, u"secret.txt"_s});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        const QString dest = m_dir.filePath(u"lib/book"_s);
        const ExtractResult result = ExtractRar(ExtractMode::Extract, path, dest);
        QCOMPARE(result.code, 222);
        QCOMPARE(result.reason, u"压缩包已加密，需要密码"_s);
        QCOMPARE(tree(dest), QStringList{"enc.zip"});
        // With the password it opens.
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest, u"pw"_s).code, 0);
        QCOMPARE(TestSupport::readFile(dest + u"/secret.txt"_s), "secret text"_ba);
    }

    // An extraction killed midway leaves its staging folder; the next extraction into the folder
    // removes it, and older leftovers without a lock, but never the folder of one still running.
    void staleStaging_removedBeforeTheNextExtraction()
    {
        const QString dest = m_dir.filePath(u"lib/book"_s);
        const QString path = m_dir.filePath(u"two.zip"_s);
        QVERIFY(TestSupport::writeFile(path, ArchiveBuilder::zip({{"1.txt", "one"}, {"2.txt", "two"}})));
        const pid_t child = ::fork();
        if (child == 0) { // ends without any clean-up while the second entry is due
            ExtractRar(ExtractMode::Extract, path, dest, {}, {},
                       [n = 0]() mutable { n == 1 ? ::_exit(0) : void(++n); });
            ::_exit(1);
        }
        QVERIFY(child > 0 && ::waitpid(child, nullptr, 0) == child);
        QCOMPARE(tree(dest).filter(u"/1.txt"_s).size(), 1);
        QVERIFY(TestSupport::writeFile(dest + u"/.unpack-old/a.txt"_s, "a"));
        QLockFile running(dest + u"/.unpack-running.lock"_s);
        QVERIFY(running.tryLock(0));
        QVERIFY(QDir(dest).mkdir(u".unpack-running"_s));

        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 0);
        QCOMPARE(tree(dest), (QStringList{".unpack-running", ".unpack-running.lock", "1.txt", "2.txt"}));
    }

    // However long the work takes, the calling thread (a window's) goes on answering.
    void runOffThread_keepsTheCallerAnswering()
    {
        QSemaphore answered;
        bool inTime = false;
        RunOffThread([&] {
            QMetaObject::invokeMethod(
                qApp, [&] { answered.release(); }, Qt::QueuedConnection);
            inTime = answered.tryAcquire(1, 10000);
        });
        QVERIFY(inTime);
    }

    void failureLeavesDestinationAsItWas()
    {
        const QString dest = m_dir.filePath(u"lib/book"_s);
        QVERIFY(TestSupport::writeFile(dest + u"/a.txt"_s, "old"));
        QByteArray corrupt = ArchiveBuilder::zip({{"a.txt", "new"}, {"b.txt", QByteArray(100, 'b')}});
        corrupt[corrupt.indexOf(QByteArray(100, 'b')) + 10] = 'X';
        const QString path = m_dir.filePath(u"c.zip"_s);
        QVERIFY(TestSupport::writeFile(path, corrupt));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 212);
        QCOMPARE(tree(dest), QStringList{"a.txt"});
        QCOMPARE(TestSupport::readFile(dest + u"/a.txt"_s), "old"_ba);

        // A good archive replaces the file (a download of a shelved book again), and a shorter
        // content leaves nothing of the old one.
        QVERIFY(TestSupport::writeFile(path, ArchiveBuilder::zip({{"a.txt", "n"}})));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 0);
        QCOMPARE(TestSupport::readFile(dest + u"/a.txt"_s), "n"_ba);

        QCOMPARE(ExtractRar(ExtractMode::Extract, m_dir.filePath(u"missing.zip"_s), dest).code, 115);
    }
};

QTEST_GUILESS_MAIN(TestArchiveExtract)
#include "tst_archiveextract.moc"
