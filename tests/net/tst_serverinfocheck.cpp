#include "ScriptedPrompter.h"
#include "TinyHttpServer.h"
#include "net/NetworkService.h"
#include "startup/ServerInfoCheck.h"

#include <QTemporaryDir>

#include <QtTest>

namespace {

QByteArray infoXml(const QByteArray &version, const QByteArray &mustdown, const QByteArray &skip = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><root><infobase>";
    const QList<QPair<QByteArray, QByteArray>> fields = {{"reader_1", "http://ads.example/page"},
                                                         {"reader_2", "<![CDATA[<b>广告</b>]]>"},
                                                         {"reader_3", "前"},
                                                         {"reader_4", "后"},
                                                         {"version", version},
                                                         {"mustdown", mustdown},
                                                         {"verinfo", "修正错误"},
                                                         {"downloadlist", "d"},
                                                         {"savepathlist", "s"}};
    for (const auto &[name, value] : fields) {
        if (name != skip)
            xml += "<" + name + ">" + value + "</" + name + ">";
    }
    return xml + "</infobase></root>";
}

} // namespace

class TestServerInfoCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readAnswer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("reader2");
        QTest::addColumn<QString>("version");
        const QByteArray good = infoXml(" v1.2 ", "FALSE");
        QTest::newRow("text/xml") << 200 << "text/xml" << good << true << "<b>广告</b>"
                                  << "v1.2";
        QTest::newRow("partial content") << 206 << "text/xml" << good << true << "<b>广告</b>"
                                         << "v1.2";
        QTest::newRow("html with charset passes") << 200 << "text/html; charset=utf-8" << good << true << "<b>广告</b>"
                                                  << "v1.2";
        QTest::newRow("bare html refused") << 200 << "Text/HTML" << good << false << ""
                                           << "";
        QTest::newRow("no content type") << 200 << "" << good << true << "<b>广告</b>"
                                         << "v1.2";
        QTest::newRow("error status") << 404 << "text/xml" << good << false << ""
                                      << "";
        QTest::newRow("not xml") << 200 << "text/xml" << QByteArray("OK") << false << ""
                                 << "";
        QTest::newRow("no infobase") << 200 << "text/xml" << QByteArray("<root><version>v9</version></root>") << false
                                     << ""
                                     << "";
        QTest::newRow("missing reader_3 keeps the first two")
            << 200 << "text/xml" << infoXml("v2.0", "TRUE", "reader_3") << false << "<b>广告</b>"
            << "";
    }
    void readAnswer()
    {
        QFETCH(int, status);
        QFETCH(QString, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, accepted);
        QFETCH(QString, reader2);
        QFETCH(QString, version);
        ServerInfo info;
        QCOMPARE(ReadServerInfoAnswer(status, contentType, body, info), accepted);
        QCOMPARE(info.reader_2, reader2);
        QCOMPARE(info.version, version);
        if (accepted)
            QCOMPARE(info.savepathlist, QStringLiteral("s"));
    }

    void offerUpdate_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("mustdown");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question"); // empty: nothing asked
        QTest::addColumn<bool>("updaterStarted");
        QTest::addColumn<bool>("ends");
        const QString required = QStringLiteral(
            "系统检查到软件需要升级，你需要更新后才能继续使用，是否进行升级？\r\n\r\n更新内容：修正错误");
        const QString optional = QStringLiteral("系统检查到软件有更新，是否进行升级？\r\n\r\n更新内容：修正错误");
        QTest::newRow("same version") << "v1.2"
                                      << "TRUE" << true << QString() << false << false;
        QTest::newRow("letter case counts") << "V1.2"
                                            << "FALSE" << false << optional << false << false;
        QTest::newRow("empty version, required") << ""
                                                 << "TRUE" << true << required << true << true;
        QTest::newRow("required, no") << "v1.3"
                                      << "TRUE" << false << required << false << true;
        QTest::newRow("optional, yes") << "v1.3"
                                       << "FALSE" << true << optional << true << true;
        QTest::newRow("optional, no") << "v1.3"
                                      << "FALSE" << false << optional << false << false;
        QTest::newRow("other mustdown asks nothing") << "v1.3"
                                                     << "true" << true << QString() << false << false;
    }
    void offerUpdate()
    {
        QFETCH(QString, version);
        QFETCH(QString, mustdown);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(bool, updaterStarted);
        QFETCH(bool, ends);
        ServerInfo info;
        info.version = version;
        info.mustdown = mustdown;
        info.verinfo = QStringLiteral("修正错误");
        ScriptedPrompter prompter;
        prompter.answers.enqueue(answer);
        bool started = false;
        const StartDecision decision = OfferUpdate(info, prompter, [&] { return started = true; });
        QCOMPARE(decision, ends ? StartDecision::EndProgram : StartDecision::GoOn);
        QCOMPARE(started, updaterStarted);
        if (question.isEmpty()) {
            QVERIFY(prompter.shown.isEmpty());
        } else {
            QCOMPARE(prompter.shown.size(), 1);
            QVERIFY(prompter.last().isQuestion);
            QCOMPARE(prompter.lastText(), question);
            QCOMPARE(prompter.last().title, QStringLiteral("软件需更新"));
        }
    }

    void contactAtStart_usesContextAndKeepsCookies()
    {
        TinyHttpServer server([](const TinyHttpServer::Request &) {
            TinyHttpServer::Response r;
            r.body = infoXml("v1.2", "TRUE");
            r.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("id=7; Path=/; Max-Age=3600")));
            return r;
        });
        QTemporaryDir dir;
        AppContext ctx;
        ctx.programFolder = dir.path();
        ctx.machineId = QStringLiteral("AB CD");
        ctx.config.serverBaseUrl = server.baseUrl();
        ScriptedPrompter prompter;
        QCOMPARE(ContactServerAtStart(ctx, prompter, [] { return false; }), StartDecision::GoOn);
        QCOMPARE(ctx.serverInfo.version, QStringLiteral("v1.2"));
        const QByteArray target = server.requests.value(0).target;
        QVERIFY2(target.startsWith("/readerserver/getinfo.asp?desknum=ABCD&rnt=") && !target.contains(' ') &&
                     !target.contains("%20"),
                 target.constData());
        QVERIFY(QFile(dir.filePath(QStringLiteral("cookies.dat"))).size() > 0);
    }

    void run_deadServerDoesNotHoldUpStart_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("server never answers") << true;
        QTest::newRow("nothing listens") << false;
    }
    void run_deadServerDoesNotHoldUpStart()
    {
        QFETCH(bool, listening);
        TinyHttpServer server([](const TinyHttpServer::Request &) {
            TinyHttpServer::Response r;
            r.silent = true;
            return r;
        });
        QString address = server.baseUrl() + QStringLiteral("/readerserver/getinfo.asp?desknum=x&rnt=y");
        if (!listening) {
            QTcpServer closed;
            closed.listen(QHostAddress::LocalHost, 0);
            address = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
        }
        ServerInfo info;
        ScriptedPrompter prompter;
        ServerInfoCheckOptions options;
        options.timeoutMs = 400;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunServerInfoCheck(address, info, prompter, options), StartDecision::GoOn);
        QVERIFY(clock.elapsed() < 2500);
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(info.version.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestServerInfoCheck)
#include "tst_serverinfocheck.moc"
