#include "TestSupport.h"
#include "library/LibraryDb.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// Starts the real program the way a user does: a home folder of its own, no display.
class TestAppStart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcess m_app;

    QString dataFile() const { return m_home.filePath(u".local/share/Folioway/DataFile/Data.db"_s); }

    void start(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_home.path());
        env.remove(u"XDG_DATA_HOME"_s);
        env.remove(u"XDG_CONFIG_HOME"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        m_app.setProcessEnvironment(env);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(TestSupport::binDir() + u"/folioway"_s, arguments);
        QVERIFY(m_app.waitForStarted());
    }
    void stop()
    {
        m_app.terminate();
        QVERIFY(m_app.waitForFinished(10000));
    }

private Q_SLOTS:
    void freshHome_createsTheLibraryAndKeepsRunning()
    {
        // An unpack killed in an earlier run left its staging folder: the start removes it.
        const QString stale = m_home.filePath(u".local/share/Folioway/TxtBook/书/.unpack-killed"_s);
        QVERIFY(TestSupport::writeFile(stale + u"/第一章.txt"_s, "x"));
        start({});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dataFile()), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(stale), 20000);
        QTest::qWait(1500);
        QCOMPARE(m_app.state(), QProcess::Running);
        // What a new library holds is checked in tst_librarydb.
        stop();
    }

    // "Open with": a book on the shelf named on the command line is opened in the reader, which
    // marks it as just read.
    void bookOnTheCommandLine_isOpened()
    {
        const QString book = m_home.filePath(u"书/西游记.txt"_s);
        QVERIFY(TestSupport::writeFile(book, u"西游记\n第一回 灵根育孕源流出\n正文\n"_s.toUtf8()));
        LibraryDb db;
        QVERIFY(db.open(dataFile()));
        const QDateTime added(QDate(2020, 1, 1), QTime(8, 0));
        db.setClock([added] { return added; });
        QVERIFY(db.insertBook(u"其他分类"_s, u"西游记"_s, u"吴承恩"_s, book) > 0);

        start({book});
        QTRY_VERIFY_WITH_TIMEOUT(db.findByPath(book)->lastread > added, 20000);
        stop();
    }

    void informationOptions_needNoDisplay()
    {
        const TestSupport::ProgramRun version = TestSupport::runProgram(TestSupport::binDir() + u"/folioway"_s,
                                                                        {u"--version"_s});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, "folioway " FOLIOWAY_VERSION "\n");
    }
};

QTEST_GUILESS_MAIN(TestAppStart)
#include "tst_appstart.moc"
