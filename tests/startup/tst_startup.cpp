#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/LibraryDb.h"
#include "startup/ProgramInstance.h"
#include "startup/Startup.h"

#include <QLocalServer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

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

    // One program per program folder: a later start hands its book to the one running and
    // ends; a socket left by a crash, or another folder's program, never stops a start.
    void programInstance_data()
    {
        QTest::addColumn<QString>("before"); // what holds the folder's socket
        QTest::addColumn<bool>("claimed");
        QTest::newRow("nothing") << u"none"_s << true;
        QTest::newRow("a running program") << u"running"_s << false;
        QTest::newRow("a crashed program's socket") << u"stale"_s << true;
        QTest::newRow("another folder's program") << u"other"_s << true;
    }
    void programInstance()
    {
        QFETCH(QString, before);
        QFETCH(bool, claimed);
        QTemporaryDir folder;
        ProgramInstance running(before == u"other" ? folder.filePath(u"other"_s) : folder.path());
        if (before == u"running" || before == u"other")
            QVERIFY(running.claim({}));
        if (before == u"stale") {
#ifdef Q_OS_UNIX
            const QByteArray path = QFile::encodeName(QDir::tempPath() + u'/' + ProgramInstance::socketName(folder.path()));
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
            ::close(fd); // bound, never listening, left behind
            QVERIFY(QFileInfo::exists(QFile::decodeName(path)));
#else
            QSKIP("a left-behind socket file is a Unix thing");
#endif
        }
        QSignalSpy handed(&running, &ProgramInstance::bookHandedOver);
        ProgramInstance second(folder.path() + u"/."_s); // the same folder, spelt otherwise
        const QString book = folder.filePath(u"书 名.txt"_s);
        QCOMPARE(second.claim(book), claimed);
        if (!claimed) {
            QVERIFY(handed.wait(10000));
            QCOMPARE(handed.first().first().toString(), book);
        }
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
