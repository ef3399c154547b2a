#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "catalogue/BookImport.h"
#include "catalogue/LocalImport.h"
#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"

#include <QtTest>

using namespace Qt::StringLiterals;

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
        entry.author = u"佚名"_s;
        entry.category = u"历史军事"_s;
        entry.downurl = downurl;
        return entry;
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        m_db = std::make_unique<LibraryDb>(u"import-test"_s);
        QVERIFY(m_db->open(path(u"DataFile/Data.db"_s)));
    }
    void cleanup() { m_db.reset(); }

    // Kind 0: the title and author a file name gives (the catalogue server names its imported
    // books by the same rule); 1: the file name at the end of a path or address; 2: a task's caption.
    void names_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("full-width colon") << 0 << u"斗破作者：天蚕.TXT"_s << u"斗破|天蚕"_s;
        QTest::newRow("half-width colon, marks") << 0 << u"《凡人》 作者: 忘语.rar"_s << u"凡人|忘语"_s;
        QTest::newRow("no author, 7z") << 0 << u"雪中.7z"_s << u"雪中|佚名"_s;
        QTest::newRow("only an author") << 0 << u"作者：某某.zip"_s << u"作者：某某|某某"_s;
        QTest::newRow("other dots kept") << 0 << u"a.b.txt"_s << u"a.b|佚名"_s;
        QTest::newRow("title-author") << 0 << u"斗破苍穹-天蚕土豆.txt"_s << u"斗破苍穹|天蚕土豆"_s;
        QTest::newRow("title_author, the last one") << 0 << u"a-b_忘语.zip"_s << u"a-b|忘语"_s;
        QTest::newRow("a colon goes first") << 0 << u"x-y作者：z.txt"_s << u"x-y|z"_s;
        QTest::newRow("a year is no author") << 0 << u"雪中_2023.txt"_s << u"雪中_2023|佚名"_s;
        QTest::newRow("a volume is no author") << 0 << u"雪中-上卷.txt"_s << u"雪中-上卷|佚名"_s;
        QTest::newRow("an edition is no author") << 0 << u"雪中_精校版.txt"_s << u"雪中_精校版|佚名"_s;
        QTest::newRow("no title before it") << 0 << u"-某某.txt"_s << u"-某某|佚名"_s;
        QTest::newRow("no separator") << 1 << u"abc.rar"_s << u""_s;
        QTest::newRow("mixed, last wins") << 1 << u"a\\b/c\\d.txt"_s << u"d.txt"_s;
        QTest::newRow("trailing separator") << 1 << u"/down/"_s << u""_s;
        QTest::newRow("archive caption") << 2 << u"abc.rar"_s << u"abc"_s;
        QTest::newRow("every occurrence removed") << 2 << u"a.txtb.txt"_s << u"ab"_s;
        QTest::newRow("nothing would be left") << 2 << u".zip"_s << u".zip"_s;
        QTest::newRow("short name") << 2 << u"ab"_s << u"ab"_s;
        QTest::newRow("7z loses its three") << 2 << u"99-七子之歌.7Z"_s << u"99-七子之歌"_s;
    }
    void names()
    {
        QFETCH(int, kind);
        QFETCH(QString, input);
        const TitleAuthor named = TitleAuthorFromFileName(input);
        QTEST(kind == 0 ? named.title + u'|' + named.author : kind == 1 ? FileNameFromPath(input) : TaskCaption(input),
              "expected");
    }

    // Files that are no book are marked when listed and never reach the shelf; a zip named ".txt"
    // is unpacked like any archive.
    void localBooks_markWhatIsNoBook()
    {
        QVERIFY(TestSupport::writeFile(path(u"l/书.txt"_s), TestSupport::gb18030(u"第一章\n"_s)));
        QVERIFY(TestSupport::writeFile(path(u"l/包.txt"_s), ArchiveBuilder::zip({{"包/第一卷.txt", "1"}})));
        QVERIFY(TestSupport::writeFile(path(u"l/空.txt"_s), {}));
        QVERIFY(TestSupport::writeFile(path(u"l/程序.txt"_s), "\x7F" "ELF\x02\x01\x01\0\0"_ba));
        QStringList marks;
        for (const LocalImportItem &item : CollectLocalBooks(*m_db, {path(u"l"_s)}, path(u"down"_s))) {
            marks << item.title + u':' + BookFileProblemShort(item.problem);
            QCOMPARE(ImportLocalBook(*m_db, item, path(u"down"_s)).outcome,
                     item.problem == BookFileProblem::None ? ImportResult::Outcome::Added : ImportResult::Outcome::Failed);
        }
        QCOMPARE(marks,
                 (QStringList{u"书:"_s, u"包:"_s, u"程序:是程序文件，不是电子书，跳过"_s, u"空:空文件，跳过"_s}));
        QCOMPARE(m_db->shelfPage({}, 1).total, 2);
        QVERIFY(m_db->findByPath(path(u"down/包/包/第一卷.txt"_s)));
    }

    void findFiles_filesBeforeSubfolders()
    {
        for (const char *name : {"b/2.txt", "b/1.TXT", "a/z/deep.txt", "a/x.txt", "readme.txt", "C.txt", "note.doc",
                                 ".hidden/h.txt", "b/.git/g.txt"})
            QVERIFY(TestSupport::writeFile(path(u"f/"_s + QLatin1String(name)), "x"));
        QVERIFY(QFile::link(path(u"f/a"_s), path(u"f/loop"_s)));
        const QString root = path(u"f"_s);
        QStringList found = FindFiles(root);
        for (QString &file : found)
            file = QDir(root).relativeFilePath(file);
        QCOMPARE(found, (QStringList{"C.txt", "readme.txt", "a/x.txt", "a/z/deep.txt", "b/1.TXT", "b/2.txt"}));
        QVERIFY(FindFiles(path(u"nowhere"_s)).isEmpty());
    }

    void importDownloadedFile_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ImportResult::Outcome>("outcome");
        QTest::addColumn<QString>("textFile");
        QTest::addColumn<bool>("downloadKept");
        QTest::addColumn<QString>("note");
        QTest::addColumn<int>("setup"); // 1: the file is shelved before; 2: the catalogue row names another file
        QTest::newRow("upper-case TXT used directly")
            << u"abc.TXT"_s << "第一章"_ba << ImportResult::Outcome::Added << u"abc.TXT"_s << true << QString() << 0;
        QTest::newRow("already on the shelf") << u"abc.TXT"_s << "第一章"_ba << ImportResult::Outcome::AlreadyOnShelf
                                              << u"abc.TXT"_s << true << QString() << 1;
        QTest::newRow("no row names the file") << u"abc.TXT"_s << "第一章"_ba << ImportResult::Outcome::NoCatalogueRow
                                               << u"abc.TXT"_s << true << QString() << 2;
        QTest::newRow("archive unpacked, top-level text first, archive deleted")
            << u"abc.rar"_s << ArchiveBuilder::zip({{"abc/第一卷.txt", "1", true}, {"readme.txt", "2"}})
            << ImportResult::Outcome::Added << u"readme.txt"_s << false << QString() << 0;
        QTest::newRow("archive without text")
            << u"abc.zip"_s << ArchiveBuilder::zip({{"cover.jpg", "j"}}) << ImportResult::Outcome::NoTextFile << u""_s
            << false << u"下载完成，但其中没有找到TXT文件"_s << 0;
        QTest::newRow("damaged archive stays")
            << u"abc.zip"_s << "PK\x03\x04 broken"_ba << ImportResult::Outcome::ExtractFailed << u""_s << true
            << u"下载完成，但无法解压：压缩包已损坏"_s << 0;
        QTest::newRow("ratio bomb stays")
            << u"abc.zip"_s << ArchiveBuilder::zip({{"a.txt", QByteArray(2 << 20, ' '), false, 0100644, true}})
            << ImportResult::Outcome::ExtractFailed << u""_s << true
            << u"下载完成，但无法解压：压缩包解压后超过 1 MB，与压缩包的大小不相称，已拒绝解压"_s << 0;
    }
    void importDownloadedFile()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(ImportResult::Outcome, outcome);
        QFETCH(QString, textFile);
        QFETCH(int, setup);
        const QString folder = path(u"TxtBook/abc"_s);
        const QString saveFile = folder + u'/' + fileName;
        QVERIFY(TestSupport::writeFile(saveFile, content));
        if (setup == 1)
            QVERIFY(m_db->insertBook(u"其他分类"_s, u"旧"_s, {}, saveFile) > 0);
        // Left by an extraction into another book's folder that was killed.
        const QString stale = path(u"TxtBook/other/.unpack-stale/a.txt"_s);
        QVERIFY(TestSupport::writeFile(stale, "a"));
        ExtractLimits limits;
        limits.ratioFloorBytes = 1 << 20;
        const QList<CatalogueEntry> rows{row(u"别的书"_s, u"/x/y.rar"_s),
                                         row(u"书"_s, u"/books/3/"_s + (setup == 2 ? u"other.txt"_s : fileName))};
        const ImportResult result = ImportDownloadedFile(*m_db, saveFile, rows, limits, QEventLoop::AllEvents);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.textFile, textFile.isEmpty() ? QString() : folder + u'/' + textFile);
        QTEST(QFileInfo::exists(saveFile), "downloadKept");
        QTEST(result.rowNote(), "note");
        const ShelfPage shelf = m_db->shelfPage(ShelfQuery{}, 1);
        QCOMPARE(shelf.total, qint64(outcome == ImportResult::Outcome::Added || setup == 1));
        if (outcome == ImportResult::Outcome::Added)
            QCOMPARE(shelf.rows[0].name, u"书"_s);
        QCOMPARE(QFileInfo::exists(stale), fileName.endsWith(u".TXT"_s));
    }
};

QTEST_GUILESS_MAIN(TestBookImport)
#include "tst_bookimport.moc"
