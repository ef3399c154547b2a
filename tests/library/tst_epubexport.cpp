#include "EpubNav.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/BookMenu.h"
#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/ChineseScript.h"
#include "text/BookLineIndex.h"

#include <QtTest>


using namespace Qt::StringLiterals;

// "导出为EPUB…" in the book menu: one row to a file named in the save dialog, several rows into
// a folder, each book read with its own chapter rule and shown in its own 繁简 choice.
class TestEpubExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exportsFromMenu_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("one row: a file") << 1;
        QTest::newRow("several rows: a folder") << 3;
    }
    void exportsFromMenu()
    {
        QFETCH(int, rows);
        QTemporaryDir dir;
        LibraryDb db;
        QVERIFY(db.open(dir.filePath(u"Data.db"_s)));
        ScriptedPrompter prompter;
        BookMenu menu(db, prompter);

        // A Traditional book shown as Simplified; one whose volumes are its chapters by the
        // reader's own rule; one whose file is gone.
        const QString shown = dir.filePath(u"西遊.txt"_s), ruled = dir.filePath(u"卷書.txt"_s);
        QVERIFY(TestSupport::writeFile(shown, u"西遊\n第一回 靈根育孕\n內容。\n第二回 悟徹菩提\n內容。\n"_s.toUtf8()));
        QVERIFY(TestSupport::writeFile(ruled, u"卷書\n卷一\n甲\n卷二\n乙\n"_s.toUtf8()));
        db.setOption(BookOptionName(u"BookScript", shown), u"s"_s);
        db.setOption(BookOptionName(u"BookReading", ruled), BookReading{{}, false, u"^卷"_s}.toText());
        QList<BookRecord> books;
        for (const QString &path : {shown, ruled, dir.filePath(u"不在.txt"_s)}) {
            const qint64 id = db.insertBook(u"其他分类"_s, QFileInfo(path).completeBaseName(), u"佚名"_s, path);
            books << db.findById(id).value();
        }
        const bool simplified = ScriptConversionAvailable();
        const QStringList shownTitles = simplified ? QStringList{u"西游"_s, u"第一回 灵根育孕"_s, u"第二回 悟彻菩提"_s}
                                                   : QStringList{u"西遊"_s, u"第一回 靈根育孕"_s, u"第二回 悟徹菩提"_s};

        const QString out = dir.filePath(u"导出"_s);
        QVERIFY(QDir().mkpath(out));
        QStringList expected;
        if (rows == 1) {
            prompter.fileNames.enqueue(QDir(out).filePath(u"我的书"_s));
            expected << QDir(out).filePath(u"我的书.epub"_s);
        } else {
            QVERIFY(TestSupport::writeFile(QDir(out).filePath(u"西遊.epub"_s), "taken"));
            prompter.folderNames.enqueue(out);
            expected << QDir(out).filePath(u"西遊 (2).epub"_s) << QDir(out).filePath(u"卷書.epub"_s);
        }
        menu.setBook(books.first());
        menu.setSelection(books.mid(0, rows));
        menu.item(u"Menue_ExportEpub"_s)->trigger();
        QVERIFY(menu.epubExport());
        QSignalSpy done(menu.epubExport(), &EpubExport::finished);
        QVERIFY(done.wait(120000));
        QCOMPARE(done.first().first().toStringList(), expected);
        QCOMPARE(navTitles(expected.first()), shownTitles);
        if (rows > 1) {
            QCOMPARE(navTitles(expected.last()), (QStringList{u"卷書"_s, u"卷一"_s, u"卷二"_s}));
            QCOMPARE(TestSupport::readFile(QDir(out).filePath(u"西遊.epub"_s)), QByteArray("taken"));
            QCOMPARE(prompter.last().icon, Prompter::Icon::Critical);
            QVERIFY2(prompter.lastText().contains(u"《不在》"_s), qPrintable(prompter.lastText()));
            QVERIFY(!QFile::exists(QDir(out).filePath(u"不在.epub"_s)));
        } else {
            QVERIFY(prompter.shown.isEmpty());
        }
    }
};

QTEST_MAIN(TestEpubExport)
#include "tst_epubexport.moc"
