#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "catalogue/ArchiveExtract.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using ArchiveBuilder::ZipEntry;

namespace {

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// Every file and folder under a folder, relative, sorted.
QStringList tree(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        found.append(QDir(folder).relativeFilePath(it.filePath()) +
                     (it.fileInfo().isSymLink() ? QStringLiteral("@") : QString()));
    }
    found.sort();
    return found;
}

} // namespace

class TestArchiveExtract : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString outside() const { return m_dir.filePath(QStringLiteral("outside")); }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.filePath(QStringLiteral("lib/book")));
        QDir().mkpath(outside());
    }

    void hostile_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("maxEntries");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("written");

        const QByteArray abs = QDir(outside()).filePath(QStringLiteral("abs.txt")).toUtf8();
        QTest::newRow("dot-dot entries skipped")
            << ArchiveBuilder::zip(
                   {{"../evil.txt", "x"}, {"a/../../evil.txt", "x"}, {"..\\evil.txt", "x"}, {"ok.txt", "ok"}})
            << 100 << qint64(1 << 20) << 0 << QStringList{"ok.txt"};
        QTest::newRow("absolute paths skipped")
            << ArchiveBuilder::zip({{abs, "x"}, {"C:\\Windows\\evil.txt", "x"}, {"ok.txt", "ok"}}) << 100
            << qint64(1 << 20) << 0 << QStringList{"ok.txt"};
        QTest::newRow("symbolic link skipped, later file stays inside")
            << ArchiveBuilder::zip({{"lnk", "../../outside", false, 0120777}, {"lnk/payload.txt", "x"}}) << 100
            << qint64(1 << 20) << 0 << QStringList{"lnk", "lnk/payload.txt"};
        QTest::newRow("hard link skipped")
            << ArchiveBuilder::tarWithHardLink("a.txt", "hl.txt", "../../outside/target.txt") << 100 << qint64(1 << 20)
            << 0 << QStringList{"a.txt"};
        QTest::newRow("folders kept") << ArchiveBuilder::zip(
                                             {{"vol/", {}, false, 040755}, {"vol/1.txt", "1"}, {"./2.txt", "2"}})
                                      << 100 << qint64(1 << 20) << 0 << QStringList{"2.txt", "vol", "vol/1.txt"};
        QList<ZipEntry> many;
        for (int i = 0; i < 12; ++i)
            many.append({QByteArray("f") + QByteArray::number(i) + ".txt", "x"});
        QTest::newRow("too many entries") << ArchiveBuilder::zip(many) << 10 << qint64(1 << 20) << 230 << QStringList{};
        QTest::newRow("too large in total")
            << ArchiveBuilder::zip({{"a.txt", QByteArray(800, 'a')}, {"b.txt", QByteArray(800, 'b')}}) << 100
            << qint64(1000) << 230 << QStringList{};
        QTest::newRow("not an archive") << QByteArray("第一章 这是一本书\r\n") << 100 << qint64(1 << 20) << 113
                                        << QStringList{};
        QByteArray corrupt = ArchiveBuilder::zip({{"a.txt", "good"}, {"b.txt", QByteArray(100, 'b')}});
        corrupt[corrupt.indexOf(QByteArray(100, 'b')) + 50] = 'X';
        QTest::newRow("damaged data") << corrupt << 100 << qint64(1 << 20) << 212 << QStringList{};
        QTest::newRow("empty file") << QByteArray() << 100 << qint64(1 << 20) << 113 << QStringList{};
    }
    void hostile()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, maxEntries);
        QFETCH(qint64, maxBytes);
        QFETCH(int, code);
        QFETCH(QStringList, written);
        const QString path = m_dir.filePath(QStringLiteral("lib/book/book.zip"));
        QVERIFY(TestSupport::writeFile(path, archive));
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        const ExtractResult result = ExtractRar(ExtractMode::Extract, path, dest, {}, {maxBytes, maxEntries});
        QCOMPARE(result.code, code);
        QCOMPARE(result.reason.isEmpty(), code == 0);
        written << QStringLiteral("book.zip");
        written.sort();
        QCOMPARE(tree(dest), written);
        QVERIFY(tree(outside()).isEmpty());
        QCOMPARE(tree(m_dir.filePath(QStringLiteral("lib"))).filter(QStringLiteral("evil")), QStringList{});
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("evil.txt"))));
    }

    void chineseNames_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("gbk names without the unicode flag")
            << ArchiveBuilder::zip(
                   {{gbk(QStringLiteral("第一卷/第1章.txt")), "x"}, {gbk(QStringLiteral("说明.txt")), "y"}})
            << QStringList{"第一卷", "第一卷/第1章.txt", "说明.txt"};
        QTest::newRow("utf-8 names with the flag")
            << ArchiveBuilder::zip({{"作者/正文.txt", "x", true}}) << QStringList{"作者", "作者/正文.txt"};
        QTest::newRow("utf-8 names without the flag")
            << ArchiveBuilder::zip({{"剑来.txt", "x"}}) << QStringList{"剑来.txt"};
    }
    void chineseNames()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QStringList, written);
        const QString path = m_dir.filePath(QStringLiteral("a.zip"));
        QVERIFY(TestSupport::writeFile(path, archive));
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 0);
        QCOMPARE(tree(dest), written);
    }

    void rarFormats_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("written");
        const QList<ArchiveBuilder::RarEntry> gbkEntries{{gbk(QStringLiteral("abc\\第一卷.txt")), "卷一"},
                                                         {"readme.txt", "readme"}};
        QTest::newRow("rar4 with gbk names and backslashes")
            << ArchiveBuilder::rar4(gbkEntries) << 0 << QStringList{"abc", "abc/第一卷.txt", "readme.txt"};
        QTest::newRow("rar5 with utf-8 names")
            << ArchiveBuilder::rar5({{"卷二/第2章.txt", "second"}, {"readme.txt", "readme"}}) << 0
            << QStringList{"readme.txt", "卷二", "卷二/第2章.txt"};
        QTest::newRow("rar4 dot-dot skipped")
            << ArchiveBuilder::rar4({{"..\\..\\evil.txt", "x"}, {"ok.txt", "ok"}}) << 0 << QStringList{"ok.txt"};
        // A flipped byte in a file name breaks its header checksum.
        QByteArray damaged = ArchiveBuilder::rar4({{"a.txt", "a"}, {"b.txt", "b"}});
        damaged[damaged.indexOf("b.txt")] = 'c';
        QTest::newRow("rar4 damaged header") << damaged << 212 << QStringList{};
        QByteArray damaged5 = ArchiveBuilder::rar5({{"a.txt", "a"}, {"b.txt", "b"}});
        damaged5[damaged5.indexOf("b.txt")] = 'c';
        QTest::newRow("rar5 damaged header") << damaged5 << 212 << QStringList{};
        QTest::newRow("rar4 truncated") << ArchiveBuilder::rar4({{"a.txt", QByteArray(200, 'a')}}).left(60) << 212
                                        << QStringList{};
    }
    void rarFormats()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, code);
        QFETCH(QStringList, written);
        const QString path = m_dir.filePath(QStringLiteral("book.rar"));
        QVERIFY(TestSupport::writeFile(path, archive));
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        const ExtractResult result = ExtractRar(ExtractMode::Extract, path, dest);
        QCOMPARE(result.code, code);
        QCOMPARE(tree(dest), written);
        QVERIFY(tree(outside()).isEmpty());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("evil.txt"))));
        if (written.contains(QStringLiteral("readme.txt")))
            QCOMPARE(TestSupport::readFile(dest + QStringLiteral("/readme.txt")), QByteArray("readme"));
    }

    void encryptedZip_addsNothing()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("zip")).isEmpty())
            QSKIP("zip is not installed");
        const QString src = m_dir.filePath(QStringLiteral("src"));
        QVERIFY(TestSupport::writeFile(src + QStringLiteral("/secret.txt"), "secret text"));
        const QString path = m_dir.filePath(QStringLiteral("lib/book/enc.zip"));
        QProcess zip;
        zip.setWorkingDirectory(src);
        zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("pw"), path,
                                          QStringLiteral("secret.txt")});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        const ExtractResult result = ExtractRar(ExtractMode::Extract, path, dest);
        QCOMPARE(result.code, 222);
        QCOMPARE(result.reason, QStringLiteral("压缩包已加密，需要密码"));
        QCOMPARE(tree(dest), QStringList{"enc.zip"});
        // With the password it opens.
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest, QStringLiteral("pw")).code, 0);
        QCOMPARE(TestSupport::readFile(dest + QStringLiteral("/secret.txt")), QByteArray("secret text"));
    }

    void sevenZip_isRead()
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("7z"));
        if (tool.isEmpty())
            QSKIP("7z is not installed");
        const QString src = m_dir.filePath(QStringLiteral("src"));
        QVERIFY(TestSupport::writeFile(src + QStringLiteral("/卷一/第1章.txt"), "text"));
        const QString path = m_dir.filePath(QStringLiteral("book.7z"));
        QProcess p;
        p.setWorkingDirectory(src);
        p.start(tool, {QStringLiteral("a"), QStringLiteral("-bd"), path, QStringLiteral("卷一")});
        QVERIFY(p.waitForFinished() && p.exitCode() == 0);
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 0);
        QCOMPARE(TestSupport::readFile(dest + QStringLiteral("/卷一/第1章.txt")), QByteArray("text"));
    }

    void failureLeavesDestinationAsItWas()
    {
        const QString dest = m_dir.filePath(QStringLiteral("lib/book"));
        QVERIFY(TestSupport::writeFile(dest + QStringLiteral("/a.txt"), "old"));
        QByteArray corrupt = ArchiveBuilder::zip({{"a.txt", "new"}, {"b.txt", QByteArray(100, 'b')}});
        corrupt[corrupt.indexOf(QByteArray(100, 'b')) + 10] = 'X';
        const QString path = m_dir.filePath(QStringLiteral("c.zip"));
        QVERIFY(TestSupport::writeFile(path, corrupt));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 212);
        QCOMPARE(tree(dest), QStringList{"a.txt"});
        QCOMPARE(TestSupport::readFile(dest + QStringLiteral("/a.txt")), QByteArray("old"));

        // A good archive replaces the file, and a shorter content leaves nothing of the old one.
        QVERIFY(TestSupport::writeFile(path, ArchiveBuilder::zip({{"a.txt", "n"}})));
        QCOMPARE(ExtractRar(ExtractMode::Extract, path, dest).code, 0);
        QCOMPARE(TestSupport::readFile(dest + QStringLiteral("/a.txt")), QByteArray("n"));
        QCOMPARE(ExtractRar(ExtractMode::Extract, m_dir.filePath(QStringLiteral("missing.zip")), dest).code, 115);
    }
};

QTEST_GUILESS_MAIN(TestArchiveExtract)
#include "tst_archiveextract.moc"
