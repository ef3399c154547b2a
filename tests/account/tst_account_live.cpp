#include "LiveServer.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "account/AccountReply.h"
#include "account/AccountWidgets.h"
#include "account/AccountWindows.h"
#include "account/FormEncoding.h"
#include "account/LoginWindow.h"
#include "account/RegistrationWindow.h"
#include "account/UploadPanel.h"
#include "account/UserCentre.h"
#include "catalogue/CatalogueProtocol.h"
#include "library/LibraryDb.h"
#include "net/NetworkService.h"
#include "net/RequestSlot.h"
#include "startup/AppContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr int kWait = 20000;

} // namespace

// The whole account conversation against the real server: registration, login, profile and
// its edit, a shared shelf book uploaded with a cover, its review, the catalogue, logout, and
// the login kept across a restart through the cookie file in the program folder.
class TestAccountLive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LiveServer m_server;
    QString m_programFolder;
    QString m_dataDir;

    QString runServerCommand(const QStringList &command)
    {
        const LiveServer::Result r =
            LiveServer::run(TestSupport::binDir(), QStringList{QStringLiteral("--data"), m_dataDir} + command);
        return r.exitCode == 0 ? r.out : QString();
    }

    // A check through a manager with a jar read from the cookie file, as a new run would do.
    AccountReply checkAfterRestart()
    {
        QNetworkAccessManager manager;
        manager.setCookieJar(new PersistentCookieJar(QDir(m_programFolder).filePath(QStringLiteral("cookies.dat"))));
        RequestSlot slot(nullptr, &manager);
        QSignalSpy done(&slot, &RequestSlot::finished);
        slot.get(CheckUrl(m_server.baseUrl()));
        if (!done.wait(kWait))
            return {};
        return DecodeAccountReply(done[0][0].value<HttpResult>().body);
    }

    void login(AccountWindows &windows, const QString &name, const QString &password, bool remember)
    {
        LoginWindow *window = windows.showLogin();
        window->nameBox()->setText(name);
        window->passwordBox()->setText(password);
        window->rememberBox()->setChecked(remember);
        QTest::mouseClick(window->loginButton(), Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LiveServer::binary(TestSupport::binDir()).isEmpty())
            QSKIP("folioway-server is not built");
        m_programFolder = m_dir.filePath(QStringLiteral("program"));
        m_dataDir = m_dir.filePath(QStringLiteral("server"));
        QVERIFY(QDir().mkpath(m_programFolder));
        NetworkService::persistCookiesIn(m_programFolder);
        QVERIFY2(m_server.start(TestSupport::binDir(), {QStringLiteral("--data"), m_dataDir}),
                 qPrintable(m_server.output()));
    }

    void registerLoginEditUploadAndLogout()
    {
        const QString name = QStringLiteral("书友_01");
        const QString password = QStringLiteral("pass&word#1");

        LibraryDb db(QStringLiteral("account-live"));
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("program/DataFile/Data.db"))));
        const QString bookPath = m_dir.filePath(QStringLiteral("书架/江湖夜雨.txt"));
        QVERIFY(TestSupport::writeFile(bookPath, ToGb18030(QStringLiteral("第一章 夜雨\r\n江湖夜雨十年灯。\r\n"))));
        const qint64 bookId =
            db.insertBook(QStringLiteral("武侠仙侠"), QStringLiteral("江湖夜雨"), QStringLiteral("无名氏"), bookPath);
        QVERIFY(bookId > 0);
        const QString coverPath = m_dir.filePath(QStringLiteral("封面.jpg"));
        QImage cover(60, 80, QImage::Format_RGB32);
        cover.fill(QColor(30, 90, 160));
        QVERIFY(cover.save(coverPath, "JPG"));

        AppContext ctx;
        ctx.programFolder = m_programFolder;
        ctx.db = &db;
        ctx.config.serverBaseUrl = m_server.baseUrl();
        ScriptedPrompter prompter;
        AccountWindows windows(ctx, prompter);

        // Registration, reached from the login window.
        QTest::mouseClick(windows.showLogin()->registerLink(), Qt::LeftButton);
        RegistrationWindow *reg = windows.registrationWindow();
        QVERIFY(reg);
        reg->nameBox()->setText(name);
        QTest::keyClicks(reg->passwordBox(), password);
        QTest::keyClicks(reg->repeatBox(), password);
        QTest::keyClicks(reg->emailBox(), QStringLiteral("reader@example.cn"));
        reg->femaleOption()->setChecked(true);
        reg->answerBox()->setText(QStringLiteral("小白"));
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!windows.registrationWindow(), kWait);
        QCOMPARE(prompter.last().title, QStringLiteral("欢迎注册"));
        QVERIFY(windows.loginWindow());

        // A wrong password is refused and leaves the window for another try.
        login(windows, name, QStringLiteral("wrong"), true);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.last().title, QStringLiteral("请先登录"), kWait);
        QVERIFY(windows.loginWindow());

        login(windows, name, password, true);
        QTRY_VERIFY_WITH_TIMEOUT(windows.userCentre() && !windows.userCentre()->profile().uname.isEmpty(), kWait);
        QCOMPARE(prompter.last().title, QStringLiteral("欢迎登录"));
        QVERIFY(!windows.loginWindow());
        UserCentre *centre = windows.userCentre();
        QCOMPARE(centre->userNameLabel()->text(), name);
        QCOMPARE(centre->profile().usermail, QStringLiteral("reader@example.cn"));
        QCOMPARE(centre->profile().sex, QStringLiteral("女"));
        QCOMPARE(centre->profile().question, QStringLiteral("你初中是在哪个学校读的?"));
        QVERIFY(centre->promotionBox()->toPlainText().startsWith(centre->profile().purl));
        QVERIFY(centre->panel(UserCentre::UserInfoNode)->isVisible());

        // Profile edit: the unencoded sex must reach the server as the Chinese text.
        centre->selectNode(UserCentre::EditProfileNode);
        QCOMPARE(centre->emailBox()->text(), QStringLiteral("reader@example.cn"));
        centre->qqBox()->setText(QStringLiteral("908172"));
        centre->maleOption()->setChecked(true);
        prompter.clear();
        QTest::mouseClick(centre->saveButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.last().title, QStringLiteral("修改成功"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(centre->profile().qq, QStringLiteral("908172"), kWait);
        QCOMPARE(centre->profile().sex, QStringLiteral("男"));
        QVERIFY(centre->maleOption()->isChecked());

        // The login survives a restart: a new jar from the program folder still holds it.
        const AccountReply restarted = checkAfterRestart();
        QCOMPARE(restarted.code, QStringLiteral("1"));
        QCOMPARE(restarted.profile.uname, name);

        // Share the shelf book into the open user centre and upload it with a cover.
        QVERIFY(windows.shareShelfBook(bookId));
        QCOMPARE(windows.userCentre(), centre);
        UploadPanel *upload = centre->uploadPanel();
        QVERIFY(upload->isVisible());
        QCOMPARE(upload->categoryBox()->currentText(), QStringLiteral("武侠仙侠"));
        QCOMPARE(upload->nameBox()->text(), QStringLiteral("江湖夜雨"));
        upload->statusList()->setCurrentIndex(0);
        upload->newestChapterBox()->setText(QStringLiteral("第一章 夜雨"));
        prompter.fileNames.enqueue(coverPath);
        QTest::mouseClick(upload->coverButton(), Qt::LeftButton);
        QCOMPARE(upload->coverPath(), coverPath);
        QPointer<UserCentre> guard = centre;
        QTest::mouseClick(upload->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWait);
        QCOMPARE(prompter.last().title, QStringLiteral("上传成功"));

        // Pending in the list of uploaded books.
        centre = windows.openUserInfo();
        QTRY_VERIFY_WITH_TIMEOUT(!centre->profile().uname.isEmpty(), kWait);
        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE_WITH_TIMEOUT(centre->bookList()->topLevelItemCount(), 1, kWait);
        QTreeWidgetItem *row = centre->bookList()->topLevelItem(0);
        QCOMPARE(row->text(2), QStringLiteral("江湖夜雨"));
        QCOMPARE(row->text(5), QStringLiteral("待审核"));
        QVERIFY(row->text(3).startsWith(QStringLiteral("连载：")));
        QCOMPARE(centre->pageLabel()->text(), QStringLiteral("1/1"));

        // Approved by the server's operator, the book is in the catalogue and marked reviewed.
        const QString pending = runServerCommand({QStringLiteral("pending")});
        QString uploadedId;
        for (const QString &line : pending.split(QLatin1Char('\n'))) {
            if (line.contains(QStringLiteral("江湖夜雨")))
                uploadedId = line.section(QLatin1Char('\t'), 0, 0);
        }
        QVERIFY2(!uploadedId.isEmpty(), qPrintable(pending));
        QVERIFY(!runServerCommand({QStringLiteral("approve"), uploadedId}).isEmpty());

        CatalogueQuery query;
        query.search(QStringLiteral("江湖夜雨"));
        RequestSlot catalogue;
        QSignalSpy found(&catalogue, &RequestSlot::finished);
        catalogue.readHTTP(SearchUrl(m_server.baseUrl(), query));
        QVERIFY(found.wait(kWait));
        const CatalogueAnswer answer = ParseCatalogueAnswer(found[0][0].value<HttpResult>());
        QCOMPARE(answer.entries.size(), 1);
        QCOMPARE(answer.entries[0].id, uploadedId);
        QCOMPARE(answer.entries[0].author, QStringLiteral("无名氏"));

        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE_WITH_TIMEOUT(centre->bookList()->topLevelItem(0)->text(5), QStringLiteral("已审核"), kWait);
        QCOMPARE(centre->bookList()->topLevelItem(0)->foreground(5).color(), QColor(0, 128, 0));

        // Logout closes the user centre without offering the login window.
        guard = centre;
        centre->selectNode(UserCentre::LogoutNode);
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWait);
        QCOMPARE(prompter.lastText(), LogoutMessage());
        QVERIFY(!windows.loginWindow());
        QCOMPARE(checkAfterRestart().code, QStringLiteral("0"));

        // Without "记住登录" the login lasts only as long as this run.
        login(windows, name, password, false);
        QTRY_VERIFY_WITH_TIMEOUT(windows.userCentre() && !windows.userCentre()->profile().uname.isEmpty(), kWait);
        QCOMPARE(checkAfterRestart().code, QStringLiteral("0"));
    }
};

QTEST_MAIN(TestAccountLive)
#include "tst_account_live.moc"
