#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "net/NetworkLimits.h"
#include "net/NetworkService.h"
#include "startup/ServerInfoCheck.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// An answer with every element.
QByteArray infoXml(const QByteArray &version, const QByteArray &mustdown)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><root><infobase><reader_1>http://ads.example/page</reader_1>"
           "<reader_2><![CDATA[<b>广告</b>]]></reader_2><reader_3>前</reader_3><reader_4>后</reader_4><version>" +
           version + "</version><mustdown>" + mustdown +
           "</mustdown><verinfo>修正错误</verinfo><downloadlist>d</downloadlist><savepathlist>s</savepathlist></infobase></root>";
}

} // namespace

class TestServerInfoCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The server page pane shows a web page of the catalogue server's own host, nothing else.
    void serverPageUrl_data()
    {
        QTest::addColumn<QString>("reader1");
        QTest::addColumn<bool>("shown");
        QTest::newRow("own server") << u" http://srv:8080/ads?id=1 "_s << true;
        QTest::newRow("own host, other port") << u"http://srv:9090/ads"_s << false;
        QTest::newRow("own host, scheme's own port") << u"http://srv/ads"_s << false;
        QTest::newRow("own host and port, other scheme") << u"https://srv:8080/ads"_s << false;
        QTest::newRow("local file") << u"file:///etc/passwd"_s << false;
        QTest::newRow("another host") << u"http://ads.example/page"_s << false;
        QTest::newRow("own host as a user name") << u"http://srv@ads.example/"_s << false;
        QTest::newRow("script") << u"javascript:alert(1)"_s << false;
    }
    void serverPageUrl()
    {
        QFETCH(QString, reader1);
        QTEST(!ServerPageUrl(reader1, u"http://srv:8080"_s).isEmpty(), "shown");
    }

    void offerUpdate_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("mustdown");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question"); // empty: nothing asked
        QTest::addColumn<bool>("updaterStarted");
        QTest::addColumn<bool>("ends");
        const QString required = QStringLiteral("系统检查到软件需要升级，你需要更新后才能继续使用，是否进行升级？\r\n\r\n更新内容：修正错误");
        const QString optional = u"系统检查到软件有更新，是否进行升级？\r\n\r\n更新内容：修正错误"_s;
        QTest::newRow("same version") << u"v1.2"_s << u"TRUE"_s << true << QString() << false << false;
        QTest::newRow("letter case counts, optional, no") << u"V1.2"_s << u"FALSE"_s << false << optional << false << false;
        QTest::newRow("empty version, required") << u""_s << u"TRUE"_s << true << required << true << true;
        QTest::newRow("required, no") << u"v1.3"_s << u"TRUE"_s << false << required << false << true;
        QTest::newRow("other mustdown asks nothing") << u"v1.3"_s << u"true"_s << true << QString() << false << false;
        // Notes as long as a server-info answer can hold are shown whole (the box scrolls); an
        // updater that is not there is named before the program ends.
        QTest::newRow("20,000-character notes") << u"v9.9"_s << u"FALSE"_s << false
                                                << optional.chopped(4) + QString(20000, u'章') << false << false;
        QTest::newRow("notes longer than an answer, no updater")
            << u"v9.9"_s << u"FALSE"_s << true
            << optional.chopped(4) + QString(int(NetworkLimits::ServerInfoBytes), u'新') + u"…"_s << false << true;
    }
    void offerUpdate()
    {
        QFETCH(QString, version);
        QFETCH(QString, mustdown);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(bool, ends);
        const bool missing = question.endsWith(u'…'); // the real updater, which is not there
        const qsizetype notes = question.count(u'章');
        const ServerInfo info{.version = version, .mustdown = mustdown,
                              .verinfo = missing ? QString(1000000, u'新') : notes ? QString(notes, u'章') : u"修正错误"_s};
        ScriptedPrompter prompter;
        prompter.answers.enqueue(answer);
        bool started = false;
        const std::function<bool()> updater = missing ? StartUpdater : std::function<bool()>([&] { return started = true; });
        const StartDecision decision = OfferUpdate(info, prompter, updater);
        QCOMPARE(decision, ends ? StartDecision::EndProgram : StartDecision::GoOn);
        QTEST(started, "updaterStarted");
        if (question.isEmpty()) {
            QVERIFY(prompter.shown.isEmpty());
        } else {
            QCOMPARE(prompter.shown.size(), missing ? 2 : 1);
            QVERIFY(prompter.shown[0].isQuestion);
            QCOMPARE(QStringList({prompter.shown[0].title, prompter.shown[0].text}), QStringList({u"软件需更新"_s, question}));
        }
        if (missing) {
            const QString path = QCoreApplication::applicationDirPath() + u"/update"_s;
            QVERIFY(!QFileInfo::exists(path));
            QCOMPARE(prompter.lastText(), u"无法启动升级程序，程序将退出。请确认以下文件存在并且可以运行：\r\n"_s + path);
            QCOMPARE(prompter.last().icon, Prompter::Icon::Critical);
        }
    }

    void contactAtStart_usesContextAndKeepsCookies()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &) {
            return TinyHttpServer::reply(infoXml("v1.2", "TRUE"))
                .header("Set-Cookie", "id=7; Path=/; Max-Age=3600")
                .header("Set-Cookie", "session=s1; Path=/")
                .header("Set-Cookie", "old=x; Path=/; Expires=Wed, 01 Jan 2020 00:00:00 GMT");
        });
        QTemporaryDir dir;
        AppContext ctx;
        ctx.programFolder = dir.path();
        ctx.machineId = u"AB CD"_s;
        ctx.config.serverBaseUrl = server.baseUrl();
        ScriptedPrompter prompter;
        QCOMPARE(ContactServerAtStart(ctx, prompter, [] { return false; }), StartDecision::GoOn);
        QCOMPARE(ctx.serverInfo.version, u"v1.2"_s);
        const QByteArray target = server.requests.value(0).target;
        QVERIFY2(target.startsWith("/readerserver/getinfo.asp?desknum=ABCD&rnt=") && !target.contains(' ') &&
                     !target.contains("%20"),
                 target.constData());
        // Only the persistent cookie is kept, readable by this user alone. That cookies are sent
        // back, also after a restart, is seen with the real server in tst_account_live.
        const QString file = dir.filePath(u"cookies.dat"_s);
        const QByteArray kept = TestSupport::readFile(file);
        QVERIFY2(kept.contains("id=7") && !kept.contains("session") && !kept.contains("old"), kept.constData());
        QVERIFY(!(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                                              QFileDevice::WriteOther)));
    }

    // A server that never answers, or answers without end, holds up the start no longer than
    // the check's own limit and costs the client next to no memory. A refused connection ends
    // at once (tst_requestslot).
    void run_hostileServerDoesNotHoldUpStart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("silent") << 0;
        QTest::newRow("3 GB announced") << 1;
        QTest::newRow("3 GB without a length") << 2;
    }
    void run_hostileServerDoesNotHoldUpStart()
    {
        QFETCH(int, mode);
        TinyHttpServer server([mode](const TinyHttpServer::Request &) {
            if (mode == 0)
                return TinyHttpServer::noAnswer();
            return TinyHttpServer::Response{
                .body = "<root><infobase><reader_1>", .sendLength = mode == 1, .streamBytes = qint64(3) << 30};
        });
        ServerInfo info;
        ScriptedPrompter prompter;
        const ServerInfoCheckOptions options{.timeoutMs = 2000};
        TestSupport::resetPeakMemory();
        const qint64 peakBefore = TestSupport::peakMemoryMB();
        QElapsedTimer clock;
        clock.start();
        const QString url = server.baseUrl() + u"/readerserver/getinfo.asp?desknum=x&rnt=y"_s;
        QCOMPARE(RunServerInfoCheck(url, info, prompter, options), StartDecision::GoOn);
        QVERIFY(clock.elapsed() < options.timeoutMs + 1000);
        QVERIFY2(TestSupport::peakMemoryMB() - peakBefore < 50, qPrintable(QString::number(TestSupport::peakMemoryMB())));
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(info.reader_1.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestServerInfoCheck)
#include "tst_serverinfocheck.moc"
