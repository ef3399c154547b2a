#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "TinyHttpServer.h"
#include "account/AccountWidgets.h"
#include "account/AccountWindows.h"
#include "account/FormEncoding.h"
#include "account/LoginWindow.h"
#include "account/RegistrationWindow.h"
#include "account/UploadPanel.h"
#include "account/UserCentre.h"
#include "library/LibraryDb.h"
#include "net/RequestSlot.h"
#include "startup/AppContext.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QRadioButton>
#include <QTemporaryDir>
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

QByteArray BooksXml(const QByteArray &pageinfo)
{
    return "<booklist><bookinfo><id>5</id><name>书一</name><class>武侠仙侠</class><statue>连载</statue>"
           "<newchap>12</newchap><ftime>2009-3-5 10:20:00</ftime><checkif>0</checkif></bookinfo>"
           "<bookinfo><id>6</id><name>书二</name><class>其他分类</class><statue>全集</statue>"
           "<newchap>3</newchap><ftime>2009-3-6</ftime><checkif>2</checkif></bookinfo>"
           "<otherinfo><pageinfo>" +
           pageinfo + "</pageinfo></otherinfo></booklist>";
}

TinyHttpServer::Response Answer(const QByteArray &body, int status = 200, int delayMs = 0)
{
    TinyHttpServer::Response r;
    r.status = status;
    r.body = body;
    r.delayMs = delayMs;
    return r;
}

} // namespace

// The account windows driven through their widgets against a scripted responder: each test
// queues the answers the "server" gives, in order; a request with no queued answer stays open.
// What each answer means is decided in tst_account_reply; here the windows must act on it.
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

    QList<TinyHttpServer::Request> &requests() { return m_http->requests; }

    UserCentre *loggedInCentre(int node)
    {
        m_answers.enqueue(Answer(ProfileXml()));
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

    void expectMessage(const QString &text, const QString &title, Icon icon)
    {
        QCOMPARE(m_prompter.lastText(), text);
        QCOMPARE(m_prompter.last().title, title);
        QCOMPARE(m_prompter.last().icon, icon);
    }

private Q_SLOTS:
    void init()
    {
        m_answers.clear();
        m_http = std::make_unique<TinyHttpServer>([this](const TinyHttpServer::Request &) {
            TinyHttpServer::Response silent;
            silent.silent = true;
            return m_answers.isEmpty() ? silent : m_answers.dequeue();
        });
        m_db = std::make_unique<LibraryDb>(u"account-windows"_s);
        QFile::remove(m_dir.filePath(u"Data.db"_s));
        QVERIFY(m_db->open(m_dir.filePath(u"Data.db"_s)));
        m_ctx.db = m_db.get();
        m_ctx.config.serverBaseUrl = m_http->baseUrl();
        m_prompter.clear();
        m_prompter.fileNames.clear();
        m_windows = std::make_unique<AccountWindows>(m_ctx, m_prompter);
    }

    void cleanup()
    {
        m_windows.reset();
        m_db.reset();
        m_http.reset();
    }

    void loginRefusesEmptyInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::newRow("blank name") << u"   "_s << u"secret"_s;
        QTest::newRow("blank password") << u"reader"_s << u"  "_s;
    }
    void loginRefusesEmptyInput()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        LoginWindow *login = m_windows->showLogin();
        login->nameBox()->setText(name);
        login->passwordBox()->setText(password);
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        expectMessage(u"用户名或密码不能为空！"_s, u"登录失败"_s, Icon::Critical);
        QVERIFY(login->loginButton()->isEnabled());
        noNewRequest(0);
    }

    void loginSendsTrimmedValuesAndWaits()
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
        m_answers.enqueue(Answer(AccountXml("3|?"), 200, 200));
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QVERIFY(!login->loginButton()->isEnabled());
        QTRY_COMPARE(requests().size(), 1);
        QVERIFY2(requests()[0].target.startsWith("/readerserver/userinfo.asp?action=login&username=%E5%BC%A0%E4%B8%89"
                                                 "&password=a%26b%23c&cookies=0&rnt="),
                 requests()[0].target.constData());

        // An unknown code leaves the window as it was, ready for another try.
        QTRY_VERIFY(login->loginButton()->isEnabled());
        QVERIFY(m_prompter.shown.isEmpty());
        QVERIFY(login->isVisible());
    }

    // A refusal and a welcome come from the real server in tst_account_live; an answer that
    // cannot be used leaves the window as it was, without a message.
    void loginAnswer_unusable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("not xml") << 200 << "<html>oops"_ba;
        QTest::newRow("server error") << 500 << AccountXml("1|欢迎回来");
    }
    void loginAnswer_unusable()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        LoginWindow *login = m_windows->showLogin();
        login->nameBox()->setText(u"reader"_s);
        login->passwordBox()->setText(u"secret"_s);
        m_answers.enqueue(Answer(body, status));
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QTRY_VERIFY(login->loginButton()->isEnabled());
        QVERIFY(m_prompter.shown.isEmpty());
        QCOMPARE(m_windows->loginWindow(), login);
        QVERIFY(!m_windows->userCentre());
        QCOMPARE(login->nameBox()->text(), u"reader"_s);
    }

    // A refreshing "2" and the logout are answered by the real server in tst_account_live.
    void userCentreCheckAnswer_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("closesForTheLogin");
        QTest::newRow("not logged in") << AccountXml("0|请先登录！") << u"请先登录"_s << true;
        QTest::newRow("broken") << "not xml"_ba << QString() << false;
    }
    void userCentreCheckAnswer()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, closesForTheLogin);
        m_answers.enqueue(Answer(body));
        QPointer<UserCentre> centre = m_windows->openUserCentre(UserCentre::UploadNode);
        QSignalSpy answered(centre->accountSlot(), &RequestSlot::finished);
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(requests()[0].target.contains("action=check"));
        QTEST(m_prompter.last().title, "title");
        QTRY_COMPARE(centre.isNull(), closesForTheLogin);
        QCOMPARE(m_windows->loginWindow() != nullptr, closesForTheLogin);
        if (centre)
            QVERIFY(!centre->loadingPanel()->isVisible());
        noNewRequest(1);
    }

    void profileIsShownAndEdited()
    {
        UserCentre *centre = loggedInCentre(UserCentre::EditProfileNode);
        QVERIFY(centre);
        QCOMPARE(centre->userNameLabel()->text(), u"读者甲"_s);
        QCOMPARE(centre->goldLabel()->text(), u"35"_s);
        QCOMPARE(centre->lastLoginLabel()->text(), u"2024/3/7 9:05:33"_s);
        QCOMPARE(centre->editNameBox()->text(), u"读者甲"_s);
        QVERIFY(centre->femaleOption()->isChecked());
        QCOMPARE(centre->questionLabel()->text(), u"你的宠物叫什么?"_s);

        QTest::mouseClick(centre->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"http://example.test/?uid=7\n\n推广说明"_s);
        QCOMPARE(m_prompter.last().title, u"复制成功"_s);

        const qsizetype before = requests().size();
        centre->emailBox()->setText(u"@b.cn"_s);
        QTest::mouseClick(centre->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), u"你输入的Email地址不合法，请重新输入！"_s);
        noNewRequest(before);

        centre->emailBox()->setText(u" new@b.cn "_s);
        centre->newPasswordBox()->setText(u"pw1"_s);
        centre->maleOption()->setChecked(true);
        m_answers.enqueue(Answer(AccountXml("2|资料修改成功")));
        m_answers.enqueue(Answer(ProfileXml()));
        QTest::mouseClick(centre->saveButton(), Qt::LeftButton);
        QTRY_COMPARE(requests().size(), before + 2);
        const TinyHttpServer::Request edit = requests()[before];
        QCOMPARE(edit.method, "POST"_ba);
        QCOMPARE(edit.headers.value("content-type"), "application/x-www-form-urlencoded"_ba);
        QCOMPARE(edit.body, "action=edit&userid=7&userpass=pw%31&email=new%40b%2Ecn&sex=" + ToGb18030(u"男"_s) +
                                "&qq=%31%32%33%34%35&anwser=");
        QVERIFY(requests()[before + 1].target.contains("action=check"));
        // The new check refills every field but the two the user typed for the edit.
        QTRY_VERIFY(centre->femaleOption()->isChecked());
        QCOMPARE(centre->emailBox()->text(), u"a@b.cn"_s);
        QCOMPARE(centre->newPasswordBox()->text(), u"pw1"_s);
        QVERIFY(centre->panel(UserCentre::UserInfoNode)->isVisible());
    }

    void treeGroupsAndLogout()
    {
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        const QBrush uploadBackground = centre->node(UserCentre::UploadNode)->background(0);
        centre->selectNode(UserCentre::ControlPanelNode);
        centre->selectNode(UserCentre::BookManagementNode);
        QVERIFY(centre->panel(UserCentre::UploadNode)->isVisible());
        QCOMPARE(centre->node(UserCentre::UploadNode)->background(0), uploadBackground);
        QCOMPARE(centre->selectedNode(), int(UserCentre::UploadNode));

        m_answers.enqueue(Answer(AccountXml("0|已安全退出，欢迎下次光临！"), 200, 200));
        QPointer<UserCentre> guard = centre;
        centre->selectNode(UserCentre::LogoutNode);
        for (int node : {2, 3, 6, 7})
            QVERIFY(!centre->panel(node)->isVisible());
        QVERIFY(centre->loadingPanel()->isVisible());
        QTRY_VERIFY(guard.isNull());
        QVERIFY(requests().last().target.contains("action=loginout"));
        QCOMPARE(m_prompter.last().title, u"请先登录"_s);
        QVERIFY(!m_windows->loginWindow());
    }

    // The paging rules themselves are in tst_catalogueprotocol; here the labels, the box and the
    // page count taken from the answer.
    void uploadedBooksPaging_data()
    {
        QTest::addColumn<QString>("action"); // a paging label, or "go:" + the typed page
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("page"); // the page requested, when no message
        QTest::newRow("first on page 1") << u"首页"_s << u"当前已是第一页!"_s << QString();
        QTest::newRow("next") << u"下一页"_s << QString() << u"2"_s;
        QTest::newRow("go fraction") << u"go:2.7"_s << QString() << u"2"_s;
        QTest::newRow("go beyond") << u"go:4"_s << u"输入的页码有误,一共才3页,请重新输入!"_s << QString();
        QTest::newRow("go letters") << u"go:abc"_s << u"输入的页码有误,请重新输入!"_s << QString();
    }
    void uploadedBooksPaging()
    {
        QFETCH(QString, action);
        QFETCH(QString, message);
        QFETCH(QString, page);
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        m_answers.enqueue(Answer(BooksXml("3,20,1,1,2")));
        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE(centre->pageLabel()->text(), u"1/3"_s);
        QVERIFY(requests().last().target.startsWith("/readerserver/ListUserBook.asp?uname=%E8%AF%BB%E8%80%85%E7%94%B2"
                                                    "&rnt="));
        QTreeWidget *list = centre->bookList();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(3), u"连载：12.0 KB"_s);
        QCOMPARE(list->topLevelItem(0)->text(5), u"待审核"_s);
        QCOMPARE(list->topLevelItem(0)->foreground(5).color(), QColor(128, 128, 128));
        QCOMPARE(list->topLevelItem(1)->foreground(5).color(), QColor(255, 0, 0));
        QCOMPARE(list->topLevelItem(1)->foreground(2).color(), QColor(198, 79, 6));

        const qsizetype before = requests().size();
        if (action.startsWith(u"go:")) {
            centre->pageBox()->setText(action.mid(3));
            QTest::mouseClick(centre->goButton(), Qt::LeftButton);
            QVERIFY(centre->pageBox()->text().isEmpty());
        } else {
            for (ClickLabel *label : centre->findChildren<ClickLabel *>()) {
                if (label->text() == action)
                    QTest::mouseClick(label, Qt::LeftButton);
            }
        }
        if (!message.isEmpty()) {
            QCOMPARE(m_prompter.lastText(), message);
            QCOMPARE(m_prompter.last().icon, Icon::Exclamation);
            noNewRequest(before);
        } else {
            QTRY_COMPARE(requests().size(), before + 1);
            QVERIFY(requests().last().target.contains("&page=" + page.toLatin1() + "&rnt="));
        }
    }

    // Which check comes first is decided in tst_account_upload; here the message, the focus and
    // the chapter row.
    void uploadChecks_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<bool>("withPath");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("nothing") << -1 << false << -1 << u"电子类型不能为空，请选择该电子书对应的分类！"_s
                                 << u"category"_s;
        QTest::newRow("no path") << 0 << false << -1 << u"电子书路径不能为空，请重新选择！"_s << u"browse"_s;
        QTest::newRow("serial without chapter") << 0 << true << 0 << u"请添加电子书最新章节名称！"_s << u"newest"_s;
    }
    void uploadChecks()
    {
        QFETCH(int, category);
        QFETCH(bool, withPath);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        UploadPanel *panel = centre->uploadPanel();
        QVERIFY(panel->isVisible());
        QVERIFY(!panel->newestChapterRow()->isVisible());

        panel->categoryBox()->setCurrentIndex(category);
        panel->nameBox()->setText(u"书"_s);
        if (withPath) {
            m_prompter.fileNames.enqueue(m_dir.filePath(u"book.txt"_s));
            QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
            QCOMPARE(m_prompter.shown.size(), 0);
        }
        panel->statusList()->setCurrentIndex(status);
        panel->newestChapterBox()->setText(u" "_s);
        if (status == 0)
            panel->newestChapterRow()->hide(); // the check must bring it back
        const qsizetype before = requests().size();
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);

        expectMessage(message, u"数据有误"_s, Icon::Critical);
        const QHash<QString, QWidget *> targets{{u"category"_s, panel->categoryBox()},
                                                {u"browse"_s, panel->browseButton()},
                                                {u"newest"_s, panel->newestChapterBox()}};
        QCOMPARE(centre->focusWidget(), targets.value(focus));
        QCOMPARE(panel->newestChapterRow()->isVisible(), focus == u"newest");
        noNewRequest(before);
    }

    void uploadSendsMultipartAndClosesOnSuccess()
    {
        const QString book = m_dir.filePath(u"上传书.txt"_s);
        QVERIFY(TestSupport::writeFile(book, ToGb18030(u"第一章\r\n正文\r\n"_s)));
        const QString cover = m_dir.filePath(u"cover.jpg"_s);
        QImage image(40, 50, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(cover, "JPG"));

        const qint64 id = m_db->insertBook(u"玄幻修真"_s, u"书|名"_s, u"作者"_s, book);
        QVERIFY(id > 0);
        UserCentre *centre = loggedInCentre(UserCentre::UserInfoNode);
        QVERIFY(centre);
        QTRY_VERIFY(!centre->loadingPanel()->isVisible());
        const qsizetype before = requests().size();
        QVERIFY(m_windows->shareShelfBook(id));
        QCOMPARE(m_windows->userCentre(), centre);
        noNewRequest(before); // an open user centre is reused without a new check
        UploadPanel *panel = centre->uploadPanel();
        QCOMPARE(panel->categoryBox()->currentText(), u"玄幻修真"_s);
        QCOMPARE(panel->pathBox()->text(), book);

        m_prompter.fileNames.enqueue(cover);
        QTest::mouseClick(panel->coverButton(), Qt::LeftButton);
        QVERIFY(panel->coverOverlay()->isVisible());
        QCOMPARE(panel->coverOverlay()->toolTip(), u"删除封面"_s);
        QTest::mouseClick(panel->coverOverlay(), Qt::LeftButton);
        QVERIFY(!panel->coverOverlay()->isVisible());
        QVERIFY(panel->coverPath().isEmpty());
        m_prompter.fileNames.enqueue(cover);
        QTest::mouseClick(panel->coverButton(), Qt::LeftButton);

        panel->statusList()->setCurrentIndex(0);
        panel->newestChapterBox()->setText(u"第二章"_s);
        panel->statusList()->setCurrentIndex(1); // "全集" hides and empties the chapter row
        QVERIFY(!panel->newestChapterRow()->isVisible());
        QVERIFY(panel->newestChapterBox()->text().isEmpty());
        panel->summaryBox()->setPlainText(u"a|b=c"_s);

        m_answers.enqueue(Answer(ToGb18030(u"1|上传成功！"_s), 200, 200));
        QPointer<UserCentre> guard = centre;
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QVERIFY(!panel->uploadButton()->isEnabled());
        QVERIFY(panel->uploadingIndicator()->isVisible());
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(m_prompter.lastText(), u"上传成功！"_s);
        QCOMPARE(m_prompter.last().title, u"上传成功"_s);

        const TinyHttpServer::Request upload = requests().last();
        QCOMPARE(upload.target, "/readerserver/uploadbook.asp"_ba);
        QCOMPARE(upload.headers.value("content-type"), "multipart/form-data"_ba);
        QCOMPARE(upload.headers.value("content-length").toLongLong(), upload.body.size());
        const QByteArray body = upload.body;
        QVERIFY(body.contains("name=\"file1\";filename=\"" + ToGb18030(book) + "\""));
        QVERIFY(body.contains("name=\"file2\";filename=\"" + ToGb18030(cover) + "\""));
        QVERIFY(body.contains("name=\"sname\"\r\n\r\n" + ToGb18030(u"书｜名"_s) + "\r\n"));
        QVERIFY(body.contains("name=\"smemo\"\r\n\r\n" + ToGb18030(u"a｜b=c"_s) + "\r\n"));
        QVERIFY(body.contains("name=\"username\"\r\n\r\n" + ToGb18030(u"读者甲"_s) + "\r\n"));
        QVERIFY(body.contains("name=\"snewchap\"\r\n\r\n\r\n"));
    }

    void uploadRefusalAndUnreadableFile()
    {
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        UploadPanel *panel = centre->uploadPanel();
        panel->categoryBox()->setCurrentIndex(2);
        panel->nameBox()->setText(u"书"_s);
        panel->statusList()->setCurrentIndex(1);
        m_prompter.fileNames.enqueue(m_dir.filePath(u"gone.txt"_s));
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        const qsizetype before = requests().size();
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QVERIFY(m_prompter.lastText().contains(m_dir.filePath(u"gone.txt"_s)));
        QVERIFY(panel->uploadButton()->isEnabled());
        noNewRequest(before);

        const QString book = m_dir.filePath(u"here.txt"_s);
        QVERIFY(TestSupport::writeFile(book, "text"));
        m_prompter.fileNames.enqueue(book);
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        m_answers.enqueue(Answer(ToGb18030(u"0|文件格式不对"_s)));
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY(panel->uploadButton()->isEnabled());
        QCOMPARE(m_prompter.lastText(), u"文件格式不对"_s);
        QCOMPARE(m_prompter.last().title, u"上传失败"_s);
        QCOMPARE(m_windows->userCentre(), centre);
        QCOMPARE(panel->pathBox()->text(), book);
    }

    void shareUnknownBook_data()
    {
        QTest::addColumn<bool>("byPath");
        QTest::newRow("shelf id") << false;
        QTest::newRow("open book path") << true;
    }
    void shareUnknownBook()
    {
        QFETCH(bool, byPath);
        QVERIFY(!(byPath ? m_windows->shareOpenBook(u"/no/such.txt"_s) : m_windows->shareShelfBook(4242)));
        QCOMPARE(m_prompter.lastText(), u"没有找到该书的信息"_s);
        QCOMPARE(m_prompter.last().title, u"出错啦"_s);
        QVERIFY(!m_windows->userCentre());
        noNewRequest(0);
    }

    void shareOpenBookWithForeignCategory()
    {
        const QString path = m_dir.filePath(u"open.txt"_s);
        QVERIFY(m_db->insertBook(u"未知类别"_s, u"打开的书"_s, u"某人"_s, path) > 0);
        QVERIFY(m_windows->shareOpenBook(path));
        UploadPanel *panel = m_windows->userCentre()->uploadPanel();
        QCOMPARE(panel->categoryBox()->currentIndex(), -1);
        QCOMPARE(panel->nameBox()->text(), u"打开的书"_s);
        QCOMPARE(panel->authorBox()->text(), u"某人"_s);
        QTRY_COMPARE(requests().size(), 1); // the opening check of a new user centre
        QVERIFY(requests()[0].target.contains("action=check"));
    }

    // The order of the checks is decided in tst_account_forms; here the window's part: the
    // message, which boxes are emptied, and that nothing is sent.
    void registrationChecks_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("e-mail") << u"@x.cn"_s << u"你输入的Email地址不合法，请重新输入！"_s << false;
        QTest::newRow("mismatch") << u"ab@x.cn"_s << u"你两次输入密码有误，请重新输入！"_s << true;
    }
    void registrationChecks()
    {
        QFETCH(QString, email);
        QFETCH(bool, cleared);
        RegistrationWindow *reg = m_windows->showRegistration();
        reg->nameBox()->setText(u"张三_01"_s); // keyClicks types ASCII only
        QTest::keyClicks(reg->passwordBox(), u"123"_s);
        QTest::keyClicks(reg->repeatBox(), u"124"_s);
        QTest::keyClicks(reg->emailBox(), email);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QTEST(m_prompter.lastText(), "message");
        QCOMPARE(m_prompter.last().title, u"填写有误"_s);
        QCOMPARE(reg->passwordBox()->text().isEmpty(), cleared);
        QCOMPARE(reg->repeatBox()->text().isEmpty(), cleared);
        QCOMPARE(reg->emailBox()->text(), email);
        QVERIFY(reg->submitButton()->isEnabled());
        noNewRequest(0);
    }

    // The accepted registration handing over to the login window is in tst_account_live.
    void registrationSendsAndShowsARefusal()
    {
        LoginWindow *login = m_windows->showLogin();
        QTest::mouseClick(login->registerLink(), Qt::LeftButton);
        QTRY_VERIFY(!m_windows->loginWindow());
        RegistrationWindow *reg = m_windows->registrationWindow();
        QVERIFY(reg && reg->isVisible());

        reg->nameBox()->setText(u" 张三丰 "_s);
        reg->passwordBox()->setText(u"abc"_s);
        reg->repeatBox()->setText(u"abc"_s);
        reg->emailBox()->setText(u"z@x.cn"_s);
        reg->questionList()->setCurrentIndex(3);
        m_answers.enqueue(Answer(AccountXml("0|用户名已存在"), 200, 150));
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QVERIFY(!reg->submitButton()->isEnabled());
        QVERIFY(reg->loadingPanel()->isVisible());
        QTRY_VERIFY(reg->submitButton()->isEnabled());
        QVERIFY(!reg->loadingPanel()->isVisible());
        QCOMPARE(m_prompter.last().title, u"注册失败"_s);
        QCOMPARE(m_prompter.last().icon, Icon::Critical);
        QCOMPARE(requests()[0].body,
                 "action=reg&username=%D5%C5%C8%FD%B7%E1&userpass=abc&email=z%40x%2Ecn&sex=%B1%A3%C3%DC&qq=&anwser=" +
                     EncodeFormValue(u"你的宠物叫什么?"_s).toLatin1() + "&question=");
    }
};

QTEST_MAIN(TestAccountWindows)
#include "tst_account_windows.moc"
