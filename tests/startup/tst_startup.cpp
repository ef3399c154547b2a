#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/LibraryDb.h"
#include "startup/ProgramFolder.h"
#include "startup/Startup.h"

#include <QTemporaryDir>
#include <QtTest>

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
    void ensureFolderPath_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("mustExist");
        QTest::newRow("nested") << "a/b/c" << "a/b/c";
        QTest::newRow("backslashes") << "d\\e\\f" << "d/e/f";
        QTest::newRow("trailing separator") << "g/h/" << "g/h";
        QTest::newRow("doubled separator") << "i//j" << "i/j";
        QTest::newRow("chinese and blanks") << "书 库/下 载" << "书 库/下 载";
    }
    void ensureFolderPath()
    {
        QFETCH(QString, relative);
        QFETCH(QString, mustExist);
        QTemporaryDir dir;
        const QString path = dir.path() + QLatin1Char('/') + relative;
        bool ok = false;
        QCOMPARE(EnsureFolderPath(path, &ok), path);
        QVERIFY(ok);
        QVERIFY(QFileInfo(dir.filePath(mustExist)).isDir());
    }

    void ensureFolderPath_emptyAndBlocked()
    {
        bool ok = false;
        QCOMPARE(EnsureFolderPath(QString(), &ok), QString());
        QVERIFY(ok);
        QTemporaryDir dir;
        QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("file")), "x"));
        QVERIFY(EnsureFolderPath(dir.filePath(QStringLiteral("file/sub")), &ok).endsWith(QStringLiteral("file/sub")));
        QVERIFY(!ok);
    }

    void firstStart_storesDefaultFolderAndNextStartCreatesIt()
    {
        QTemporaryDir dir;
        const QString expected = dir.path() + QStringLiteral("/TxtBook");
        {
            Run first(dir.path(), QStringLiteral("first"));
            QVERIFY(first.ok);
            QCOMPARE(first.ctx.downloadFolder, expected);
            QCOMPARE(first.db.downSavePath(), expected);
            QVERIFY(!QFileInfo::exists(expected));
            QVERIFY(QFileInfo(dir.filePath(QStringLiteral("DataFile/Data.db"))).isFile());
            QVERIFY(!first.ctx.machineId.isEmpty());
        }
        Run second(dir.path(), QStringLiteral("second"));
        QVERIFY(second.ok);
        QCOMPARE(second.ctx.downloadFolder, expected);
        QVERIFY(QFileInfo(expected).isDir());
    }

    void storedFolder_getsItsMissingParentsCreated()
    {
        QTemporaryDir dir;
        const QString stored = dir.path() + QStringLiteral("/x/y/z 下载");
        {
            LibraryDb db(QStringLiteral("seed"));
            QVERIFY(db.open(dir.filePath(QStringLiteral("DataFile/Data.db"))));
            QVERIFY(db.setDownSavePath(stored));
        }
        Run run(dir.path(), QStringLiteral("stored"));
        QVERIFY(run.ok);
        QCOMPARE(run.ctx.downloadFolder, stored);
        QVERIFY(QFileInfo(stored).isDir());
    }

    void damagedDatabase_isNamedInTheErrorAndNotTouched()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("DataFile/Data.db"));
        const QByteArray junk = QByteArray("PK\x03\x04 not a database ").repeated(100);
        QVERIFY(TestSupport::writeFile(path, junk));
        Run run(dir.path(), QStringLiteral("damaged"));
        QVERIFY(!run.ok);
        QVERIFY(run.exitCode != 0);
        QCOMPARE(run.prompter.shown.size(), 1);
        QCOMPARE(run.prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(run.prompter.lastText().contains(path));
        QCOMPARE(TestSupport::readFile(path), junk);
    }

    void machineId_isStable()
    {
        QTemporaryDir dir;
        const QString id = MachineId(dir.path());
        QCOMPARE(MachineId(dir.path()), id);
        QVERIFY(!id.contains(QLatin1Char(' ')));
        QCOMPARE(id.size(), 23);
    }

    void serverInfoUrl_hasNoBlanks_data()
    {
        QTest::addColumn<QString>("machineId");
        QTest::addColumn<QString>("expected");
        const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 33));
        QTest::newRow("plain") << "ABC" << "http://h:1/readerserver/getinfo.asp?desknum=ABC&rnt=2024/3/79:05:33";
        QTest::newRow("blank in id") << "A B C" << "http://h:1/readerserver/getinfo.asp?desknum=ABC&rnt=2024/3/79:05:33";
    }
    void serverInfoUrl_hasNoBlanks()
    {
        QFETCH(QString, machineId);
        QFETCH(QString, expected);
        const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 33));
        QCOMPARE(RequestTimeText(when), QStringLiteral("2024/3/7 9:05:33"));
        QCOMPARE(ServerInfoUrl(QStringLiteral("http://h:1"), machineId, when), expected);
    }

    void config_readsServerBaseUrlFromTheIniFile()
    {
        QTemporaryDir dir;
        QCOMPARE(AppConfig::load(dir.path()).serverBaseUrl, QStringLiteral("http://127.0.0.1:8080"));
        QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("Folioway.ini")),
                                       "[General]\nServerBaseUrl=http://books.example:9000/\n"));
        QCOMPARE(AppConfig::load(dir.path()).serverBaseUrl, QStringLiteral("http://books.example:9000"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
