#include "TestSupport.h"

#include <QProcess>
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
        // What a new library holds is checked in tst_librarydb.

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
