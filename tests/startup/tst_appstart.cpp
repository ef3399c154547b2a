#include "TestSupport.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

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
        env.insert(u"HOME"_s, home.path());
        env.remove(u"XDG_DATA_HOME"_s);
        env.remove(u"XDG_CONFIG_HOME"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(TestSupport::binDir() + u"/folioway"_s, {});
        QVERIFY(app.waitForStarted());

        const QString db = home.filePath(u".local/share/Folioway/DataFile/Data.db"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(db), 20000);
        QTest::qWait(1500);
        QCOMPARE(app.state(), QProcess::Running);

        {
            QSqlDatabase c = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
            c.setDatabaseName(db);
            QVERIFY(c.open());
            QSqlQuery q(c);
            QVERIFY(q.exec(u"SELECT count(*) FROM SysSet"_s) && q.next());
            QCOMPARE(q.value(0).toInt(), 1);
            QVERIFY(q.exec(u"SELECT count(*) FROM BookList"_s) && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
        }
        QSqlDatabase::removeDatabase(u"check"_s);

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
