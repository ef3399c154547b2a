#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/LibraryDb.h"
#include "startup/ProgramFolder.h"
#include "startup/Startup.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestStartup : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        LibraryDb db;
        AppContext ctx;
        ScriptedPrompter prompter;
        int exitCode = -1;
        bool ok = false;
        Run(const QString &folder, const QString &connection) : db(connection)
        {
            ctx.programFolder = folder;
            ctx.db = &db;
            ok = PrepareStartup(ctx, prompter, &exitCode);
        }
    };

private Q_SLOTS:

    void firstStart_storesDefaultFolderAndNextStartCreatesIt()
    {
        QTemporaryDir dir;
        const QString expected = dir.path() + u"/TxtBook"_s;
        QString id;
        {
            Run first(dir.path(), u"first"_s);
            QVERIFY(first.ok);
            QCOMPARE(first.ctx.downloadFolder, expected);
            QCOMPARE(first.db.downSavePath(), expected);
            QVERIFY(!QFileInfo::exists(expected));
            QVERIFY(QFileInfo(dir.filePath(u"DataFile/Data.db"_s)).isFile());
            id = first.ctx.machineId;
        }
        Run second(dir.path(), u"second"_s);
        QVERIFY(second.ok);
        QCOMPARE(second.ctx.machineId, id); // the same machine from one start to the next
        QVERIFY(!id.contains(u' '));
        QCOMPARE(id.size(), 23);
        QCOMPARE(second.ctx.downloadFolder, expected);
        QVERIFY(QFileInfo(expected).isDir());
    }

    void damagedDatabase_isNamedInTheErrorAndNotTouched()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"DataFile/Data.db"_s);
        const QByteArray junk = "PK\x03\x04 not a database "_ba.repeated(100);
        QVERIFY(TestSupport::writeFile(path, junk));
        Run run(dir.path(), u"damaged"_s);
        QVERIFY(!run.ok);
        QVERIFY(run.exitCode != 0);
        QCOMPARE(run.prompter.shown.size(), 1);
        QCOMPARE(run.prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(run.prompter.lastText().contains(path));
        QCOMPARE(TestSupport::readFile(path), junk);
    }

    void config_readsServerBaseUrlFromTheIniFile()
    {
        QTemporaryDir dir;
        QCOMPARE(AppConfig::load(dir.path()).serverBaseUrl, u"http://127.0.0.1:8080"_s);
        QVERIFY(TestSupport::writeFile(dir.filePath(u"Folioway.ini"_s),
                                       "[General]\nServerBaseUrl=http://books.example:9000/\n"));
        QCOMPARE(AppConfig::load(dir.path()).serverBaseUrl, u"http://books.example:9000"_s);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
