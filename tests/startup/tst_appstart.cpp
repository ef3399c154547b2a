#include "TestSupport.h"
#include "library/LibraryDb.h"
#include "startup/ProgramInstance.h"

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

    // A second start on the same program folder hands its book to the running program, which
    // opens it, and ends without a window of its own.
    void secondStart_handsItsBookOver()
    {
        const QString book = m_home.filePath(u"书/水浒传.txt"_s);
        QVERIFY(TestSupport::writeFile(book, u"水浒传\n第一回 张天师祈禳瘟疫\n正文\n"_s.toUtf8()));
        // The socket is named after the program folder; one an earlier run was killed with is gone first.
        const QString socket =
            QDir::tempPath() + u'/' + ProgramInstance::socketName(m_home.filePath(u".local/share/Folioway"_s));
        QFile::remove(socket);
        start({});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dataFile()), 20000);
        LibraryDb db;
        QVERIFY(db.open(dataFile()));
        const QDateTime added(QDate(2020, 1, 1), QTime(8, 0));
        db.setClock([added] { return added; });
        QVERIFY(db.insertBook(u"其他分类"_s, u"水浒传"_s, u"施耐庵"_s, book) > 0);

        QProcess second;
        second.setProcessEnvironment(m_app.processEnvironment());
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(TestSupport::binDir() + u"/folioway"_s, {book});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(db.findByPath(book)->lastread > added, 20000);
        QCOMPARE(m_app.state(), QProcess::Running);
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
