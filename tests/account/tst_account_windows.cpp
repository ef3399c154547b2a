#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "account/AccountWidgets.h"
#include "account/AccountWindows.h"
#include "account/FormEncoding.h"
#include "account/LoginWindow.h"
#include "account/ProfileForms.h"
#include "account/RegistrationWindow.h"
#include "account/UploadPanel.h"
#include "account/UserCentre.h"
#include "library/LibraryDb.h"
#include "net/RequestSlot.h"
#include "startup/AppContext.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;
using Icon = Prompter::Icon;

namespace {

QByteArray AccountXml(const QByteArray &logininfo, const QByteArray &extra = {})
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><root><userbase><logininfo>" + logininfo + "</logininfo>" +
           extra + "</userbase></root>";
}

QByteArray ProfileXml()
{
    return AccountXml("1|已登录", "<purl>http://example.test/?uid=7</purl><pinfo>推广说明</pinfo><uid>7</uid>"
                                  "<uname>读者甲</uname><userlogin>12</userlogin><lastdate>2024/3/7 9:05:33</lastdate>"
                                  "<userpoint>120</userpoint><usermoney>35</usermoney><usermail>a@b.cn</usermail>"
                                  "<qq>12345</qq><sex>女</sex><question>你的宠物叫什么?</question>");
}

} // namespace

// The account windows against a scripted responder: each test queues the server's answers in
// order; a request with no queued answer stays open. What the answers mean and which checks
// come first is decided in the core suites (tst_account_reply, _forms, _upload); the accepted
// conversation runs against the real server in tst_account_live. Here only what the windows
// add: waiting states, focus, emptied boxes, panels, and the refusals the live run never meets.
class TestAccountWindows : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QQueue<TinyHttpServer::Response> m_answers;
    std::unique_ptr<TinyHttpServer> m_http;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<AccountWindows> m_windows;

    // An accepted check starts the reading sync, whose requests are left unanswered here.
    static bool isSync(const TinyHttpServer::Request &r) { return r.target.startsWith("/folioway/sync/"); }
    QList<TinyHttpServer::Request> requests() const
    {
        QList<TinyHttpServer::Request> account = m_http->requests;
        account.removeIf(isSync);
        return account;
    }
    void answer(const QByteArray &body, int status = 200, int delayMs = 0)
    {
        m_answers.enqueue(TinyHttpServer::reply(body, status, delayMs));
    }

    UserCentre *loggedInCentre(int node)
    {
        answer(ProfileXml());
        UserCentre *centre = m_windows->openUserCentre(node);
        if (!QTest::qWaitFor([&] { return !centre->profile().uname.isEmpty(); }, 5000))
            return nullptr;
        m_answers.clear();
        return centre;
    }

    void noNewRequest(qsizetype before)
    {
        QTest::qWait(50);
        QCOMPARE(requests().size(), before);
    }

private Q_SLOTS:
    void init()
    {
        m_answers.clear();
        m_http = std::make_unique<TinyHttpServer>([this](const TinyHttpServer::Request &r) {
            return m_answers.isEmpty() || isSync(r) ? TinyHttpServer::noAnswer() : m_answers.dequeue();
        });
        m_db = std::make_unique<LibraryDb>(u"account-windows"_s);
        QFile::remove(m_dir.filePath(u"Data.db"_s));
        QVERIFY(m_db->open(m_dir.filePath(u"Data.db"_s)));
        m_ctx.db = m_db.get();
        m_ctx.config.serverBaseUrl = m_http->baseUrl();
        m_prompter.reset();
        m_windows = std::make_unique<AccountWindows>(m_ctx, m_prompter);
    }

    void cleanup()
    {
        m_windows.reset();
        m_db.reset();
        m_http.reset();
    }

    void login_boxLengthsSendsEncodedAndSurvivesAServerError()
    {
        LoginWindow *login = m_windows->showLogin();
        QVERIFY(login->rememberBox()->isChecked());
        QTest::keyClicks(login->nameBox(), u"abcdefghijklmnop"_s);
        QCOMPARE(login->nameBox()->text().size(), 14);
        QTest::keyClicks(login->passwordBox(), u"0123456789abcdefghij"_s);
        QCOMPARE(login->passwordBox()->text().size(), 18);
        login->nameBox()->setText(u" 张三 "_s);
        login->passwordBox()->setText(u" a&b#c "_s);
        login->rememberBox()->setChecked(false);
        answer(AccountXml("1|欢迎回来"), 500, 200); // a welcome in an error page counts for nothing
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QVERIFY(!login->loginButton()->isEnabled());
        QTRY_COMPARE(requests().size(), 1);
        QVERIFY2(requests()[0].target.startsWith("/readerserver/userinfo.asp?action=login&username=%E5%BC%A0%E4%B8%89"
                                                 "&password=a%26b%23c&cookies=0&rnt="),
                 requests()[0].target.constData());
        QTRY_VERIFY(login->loginButton()->isEnabled());
        QVERIFY(m_prompter.shown.isEmpty());
        QCOMPARE(m_windows->loginWindow(), login);
        QVERIFY(!m_windows->userCentre());
    }

    // The edit and the refreshed profile are answered by the real server in tst_account_live.
    void centre_copiesTheInvitation()
    {
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        QTest::mouseClick(centre->userInfo()->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"http://example.test/?uid=7\n\n推广说明"_s);
        QCOMPARE(m_prompter.last().title, u"复制成功"_s);
    }

    // The accepted upload of a shared shelf book with a cover, and the order of the checks, are in
    // tst_account_live and tst_account_upload; here the cover taken off again, the focus, the
    // chapter row brought back or hidden, and a file that cannot be read or is refused leaving
    // the window as it was.
    void upload_coverCheckUnreadableFileAndRefusal_keepTheWindow()
    {
        const QString cover = m_dir.filePath(u"cover.jpg"_s);
        QImage image(40, 50, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(cover, "JPG"));
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        UploadPanel *panel = centre->uploadPanel();
        QVERIFY(panel->isVisible());
        m_prompter.fileNames.enqueue(cover);
        QTest::mouseClick(panel->coverButton(), Qt::LeftButton);
        QCOMPARE(panel->coverOverlay()->toolTip(), u"删除封面"_s);
        QTest::mouseClick(panel->coverOverlay(), Qt::LeftButton);
        QVERIFY(!panel->coverOverlay()->isVisible());
        QVERIFY(panel->coverPath().isEmpty());

        panel->categoryBox()->setCurrentIndex(2);
        panel->nameBox()->setText(u"书"_s);
        m_prompter.fileNames.enqueue(m_dir.filePath(u"gone.txt"_s));
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        panel->statusList()->setCurrentIndex(0);
        panel->newestChapterBox()->setText(u" "_s);
        panel->newestChapterRow()->hide();
        const qsizetype before = requests().size();
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), u"请添加电子书最新章节名称！"_s);
        QCOMPARE(centre->focusWidget(), panel->newestChapterBox());
        QVERIFY(panel->newestChapterRow()->isVisible());

        panel->statusList()->setCurrentIndex(1); // "全集" hides and empties the chapter row
        QVERIFY(!panel->newestChapterRow()->isVisible());
        QVERIFY(panel->newestChapterBox()->text().isEmpty());
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QVERIFY(m_prompter.lastText().contains(m_dir.filePath(u"gone.txt"_s)));
        QVERIFY(panel->uploadButton()->isEnabled());
        noNewRequest(before);

        const QString book = m_dir.filePath(u"here.txt"_s);
        QVERIFY(TestSupport::writeFile(book, "text"));
        m_prompter.fileNames.enqueue(book);
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        answer(ToGb18030(u"0|文件格式不对"_s));
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY(panel->uploadButton()->isEnabled());
        QCOMPARE(m_prompter.lastText(), u"文件格式不对"_s);
        QCOMPARE(m_windows->userCentre(), centre);
        QCOMPARE(panel->pathBox()->text(), book);
    }

    void share_unknownBookOrForeignCategory()
    {
        QVERIFY(!m_windows->shareShelfBook(4242));
        QVERIFY(!m_windows->shareOpenBook(u"/no/such.txt"_s));
        QCOMPARE(m_prompter.shown.size(), 2);
        QCOMPARE(m_prompter.lastText(), u"没有找到该书的信息"_s);
        QCOMPARE(m_prompter.last().title, u"出错啦"_s);
        QVERIFY(!m_windows->userCentre());
        noNewRequest(0);

        const QString path = m_dir.filePath(u"open.txt"_s);
        QVERIFY(m_db->insertBook(u"未知类别"_s, u"打开的书"_s, u"某人"_s, path) > 0);
        QVERIFY(m_windows->shareOpenBook(path));
        UploadPanel *panel = m_windows->userCentre()->uploadPanel();
        QCOMPARE(panel->categoryBox()->currentIndex(), -1);
        QCOMPARE(panel->nameBox()->text(), u"打开的书"_s);
        QCOMPARE(panel->authorBox()->text(), u"某人"_s);
        QTRY_COMPARE(requests().size(), 1); // the opening check of a new user centre
    }

    // The accepted registration handing over to the login window, and the body it sends, are in
    // tst_account_live and tst_account_forms.
    void registration_mismatchEmptiesPasswords_refusalReenables()
    {
        LoginWindow *login = m_windows->showLogin();
        QTest::mouseClick(login->registerLink(), Qt::LeftButton);
        QTRY_VERIFY(!m_windows->loginWindow());
        RegistrationWindow *reg = m_windows->registrationWindow();
        QVERIFY(reg && reg->isVisible());

        reg->nameBox()->setText(u" 张三丰 "_s);
        QTest::keyClicks(reg->passwordBox(), u"abc"_s);
        QTest::keyClicks(reg->repeatBox(), u"abd"_s);
        QTest::keyClicks(reg->emailBox(), u"z@x.cn"_s);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), u"你两次输入密码有误，请重新输入！"_s);
        QVERIFY(reg->passwordBox()->text().isEmpty() && reg->repeatBox()->text().isEmpty());
        QCOMPARE(reg->emailBox()->text(), u"z@x.cn"_s);
        noNewRequest(0);

        reg->passwordBox()->setText(u"abc"_s);
        reg->repeatBox()->setText(u"abc"_s);
        answer(AccountXml("0|用户名已存在"), 200, 150);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QVERIFY(!reg->submitButton()->isEnabled());
        QVERIFY(reg->loadingPanel()->isVisible());
        QTRY_VERIFY(reg->submitButton()->isEnabled());
        QVERIFY(!reg->loadingPanel()->isVisible());
        QCOMPARE(m_prompter.last().title, u"注册失败"_s);
    }
};

QTEST_MAIN(TestAccountWindows)
#include "tst_account_windows.moc"
