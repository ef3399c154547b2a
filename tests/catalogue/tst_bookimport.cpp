#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "catalogue/BookImport.h"
#include "library/LibraryDb.h"

#include <QTemporaryDir>
#include <QtTest>

class TestBookImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    static CatalogueEntry row(const QString &name, const QString &downurl)
    {
        CatalogueEntry entry;
        entry.name = name;
        entry.author = QStringLiteral("佚名");
        entry.category = QStringLiteral("历史军事");
        entry.downurl = downurl;
        return entry;
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        m_db = std::make_unique<LibraryDb>(QStringLiteral("import-test"));
        QVERIFY(m_db->open(path(QStringLiteral("DataFile/Data.db"))));
    }
    void cleanup() { m_db.reset(); }

    void fileNameFromPath_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("name");
        QTest::newRow("windows path") << "C:\\books\\a.txt"
                                      << "a.txt";
        QTest::newRow("address path") << "/down/abc.rar"
                                      << "abc.rar";
        QTest::newRow("no separator") << "abc.rar"
                                      << "";
        QTest::newRow("mixed, last wins") << "a\\b/c\\d.txt"
                                          << "d.txt";
        QTest::newRow("trailing separator") << "/down/"
                                            << "";
    }
    void fileNameFromPath()
    {
        QFETCH(QString, input);
        QFETCH(QString, name);
        QCOMPARE(FileNameFromPath(input), name);
    }

    void taskCaption_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("caption");
        QTest::newRow("archive") << "abc.rar"
                                 << "abc";
        QTest::newRow("every occurrence removed") << "a.txtb.txt"
                                                  << "ab";
        QTest::newRow("nothing would be left") << ".zip"
                                               << ".zip";
        QTest::newRow("short name") << "ab"
                                    << "ab";
    }
    void taskCaption()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, caption);
        QCOMPARE(TaskCaption(fileName), caption);
    }

    void findFiles_filesBeforeSubfolders()
    {
        for (const char *name : {"b/2.txt", "b/1.TXT", "a/z/deep.txt", "a/x.txt", "readme.txt", "C.txt", "note.doc",
                                 ".hidden/h.txt", "b/.git/g.txt"})
            QVERIFY(TestSupport::writeFile(path(QStringLiteral("f/") + QLatin1String(name)), "x"));
        QVERIFY(QFile::link(path(QStringLiteral("f/a")), path(QStringLiteral("f/loop"))));
        const QString root = path(QStringLiteral("f"));
        QStringList found = FindFiles(root);
        for (QString &file : found)
            file = QDir(root).relativeFilePath(file);
        QCOMPARE(found, (QStringList{"C.txt", "readme.txt", "a/x.txt", "a/z/deep.txt", "b/1.TXT", "b/2.txt"}));
        QVERIFY(FindFiles(path(QStringLiteral("nowhere"))).isEmpty());
    }

    void findTxtAndSave_data()
    {
        QTest::addColumn<QString>("downurl");
        QTest::addColumn<bool>("registeredBefore");
        QTest::addColumn<ImportResult::Outcome>("outcome");
        QTest::newRow("added") << "/books/1/abc.txt" << false << ImportResult::Outcome::Added;
        QTest::newRow("already on the shelf") << "/books/1/abc.txt" << true << ImportResult::Outcome::AlreadyOnShelf;
        QTest::newRow("no row names the file")
            << "/books/1/other.txt" << false << ImportResult::Outcome::NoCatalogueRow;
    }
    void findTxtAndSave()
    {
        QFETCH(QString, downurl);
        QFETCH(bool, registeredBefore);
        QFETCH(ImportResult::Outcome, outcome);
        const QString saveFile = path(QStringLiteral("TxtBook/abc/abc.txt"));
        QVERIFY(TestSupport::writeFile(saveFile, "text"));
        if (registeredBefore)
            QVERIFY(m_db->insertBook(QStringLiteral("其他分类"), QStringLiteral("旧"), {}, saveFile) > 0);
        const ImportResult result = FindTxtAndSave(
            *m_db, path(QStringLiteral("TxtBook/abc")), saveFile,
            {row(QStringLiteral("别的书"), QStringLiteral("/x/y.rar")), row(QStringLiteral("书"), downurl)});
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.textFile, saveFile);
        const ShelfPage page = m_db->shelfPage(ShelfQuery{}, 1);
        QCOMPARE(page.total, qint64(registeredBefore || outcome == ImportResult::Outcome::Added ? 1 : 0));
        if (outcome == ImportResult::Outcome::Added)
            QCOMPARE(page.rows[0].name, QStringLiteral("书"));
    }

    void importDownloadedFile_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ImportResult::Outcome>("outcome");
        QTest::addColumn<QString>("textFile");
        QTest::addColumn<bool>("downloadKept");
        QTest::newRow("upper-case TXT used directly")
            << "abc.TXT" << QByteArray("第一章") << ImportResult::Outcome::Added << "abc.TXT" << true;
        QTest::newRow("archive unpacked, top-level text first, archive deleted")
            << "abc.rar" << ArchiveBuilder::zip({{"abc/第一卷.txt", "1", true}, {"readme.txt", "2"}})
            << ImportResult::Outcome::Added << "readme.txt" << false;
        QTest::newRow("archive without text") << "abc.zip" << ArchiveBuilder::zip({{"cover.jpg", "j"}})
                                              << ImportResult::Outcome::NoTextFile << "" << false;
        QTest::newRow("damaged archive stays")
            << "abc.zip" << QByteArray("PK\x03\x04 broken") << ImportResult::Outcome::ExtractFailed << "" << true;
    }
    void importDownloadedFile()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(ImportResult::Outcome, outcome);
        QFETCH(QString, textFile);
        QFETCH(bool, downloadKept);
        const QString folder = path(QStringLiteral("TxtBook/abc"));
        const QString saveFile = folder + QLatin1Char('/') + fileName;
        QVERIFY(TestSupport::writeFile(saveFile, content));
        const ImportResult result =
            ImportDownloadedFile(*m_db, saveFile, {row(QStringLiteral("书"), QStringLiteral("/books/3/") + fileName)});
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.textFile, textFile.isEmpty() ? QString() : folder + QLatin1Char('/') + textFile);
        QCOMPARE(QFileInfo::exists(saveFile), downloadKept);
        QCOMPARE(result.rowNote().isEmpty(), outcome == ImportResult::Outcome::Added);
        if (outcome == ImportResult::Outcome::ExtractFailed)
            QCOMPARE(result.rowNote(), QStringLiteral("下载完成，但无法解压：压缩包已损坏"));
    }

    void redownload_replacesFileWithoutSecondRow()
    {
        const QString saveFile = path(QStringLiteral("TxtBook/abc/abc.rar"));
        const QList<CatalogueEntry> rows{row(QStringLiteral("书"), QStringLiteral("/b/abc.rar"))};
        QVERIFY(TestSupport::writeFile(saveFile, ArchiveBuilder::zip({{"abc.txt", "first edition, long"}})));
        QCOMPARE(ImportDownloadedFile(*m_db, saveFile, rows).outcome, ImportResult::Outcome::Added);
        QVERIFY(TestSupport::writeFile(saveFile, ArchiveBuilder::zip({{"abc.txt", "second"}})));
        QCOMPARE(ImportDownloadedFile(*m_db, saveFile, rows).outcome, ImportResult::Outcome::AlreadyOnShelf);
        QCOMPARE(TestSupport::readFile(path(QStringLiteral("TxtBook/abc/abc.txt"))), QByteArray("second"));
        QCOMPARE(m_db->shelfPage(ShelfQuery{}, 1).total, qint64(1));
    }
};

QTEST_GUILESS_MAIN(TestBookImport)
#include "tst_bookimport.moc"
