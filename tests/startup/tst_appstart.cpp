#include "TestSupport.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real program the way a new user does: an empty home folder, no display.
class TestAppStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void freshHome_createsTheLibraryAndKeepsRunning()
    {
        QTemporaryDir home;
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(TestSupport::binDir() + QStringLiteral("/folioway"), {});
        QVERIFY(app.waitForStarted());

        const QString db = home.filePath(QStringLiteral(".local/share/Folioway/DataFile/Data.db"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(db), 20000);
        QTest::qWait(1500);
        QCOMPARE(app.state(), QProcess::Running);

        {
            QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            c.setDatabaseName(db);
            QVERIFY(c.open());
            QSqlQuery q(c);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next());
            QCOMPARE(q.value(0).toInt(), 1);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM BookList")) && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
