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

TinyHttpServer::Response Answer(const QByteArray &body, int status = 200)
{
    TinyHttpServer::Response r;
    r.status = status;
    r.body = body;
    return r;
}

} // namespace

// The account windows driven through their widgets against a scripted responder: each test
// queues the answers the "server" gives, in order; a request with no queued answer stays open.
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
        m_http = std::make_unique<TinyHttpServer>([this](const TinyHttpServer::Request &) {
            if (m_answers.isEmpty()) {
                TinyHttpServer::Response silent;
                silent.silent = true;
                return silent;
            }
            return m_answers.dequeue();
        });
        m_db = std::make_unique<LibraryDb>(QStringLiteral("account-windows"));
        QFile::remove(m_dir.filePath(QStringLiteral("Data.db")));
        QVERIFY(m_db->open(m_dir.filePath(QStringLiteral("Data.db"))));
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
        QTest::newRow("blank name") << "   "
                                    << "secret";
        QTest::newRow("blank password") << "reader"
                                        << "  ";
    }

    void loginRefusesEmptyInput()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        LoginWindow *login = m_windows->showLogin();
        login->nameBox()->setText(name);
        login->passwordBox()->setText(password);
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("用户名或密码不能为空！"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("登录失败"));
        QCOMPARE(m_prompter.last().icon, Icon::Critical);
        QVERIFY(login->loginButton()->isEnabled());
        noNewRequest(0);
    }

    void loginSendsTrimmedValuesAndWaits()
    {
        LoginWindow *login = m_windows->showLogin();
        QVERIFY(login->rememberBox()->isChecked());
        QTest::keyClicks(login->nameBox(), QStringLiteral("abcdefghijklmnop"));
        QCOMPARE(login->nameBox()->text().size(), 14);
        QTest::keyClicks(login->passwordBox(), QStringLiteral("0123456789abcdefghij"));
        QCOMPARE(login->passwordBox()->text().size(), 18);

        login->nameBox()->setText(QStringLiteral(" 张三 "));
        login->passwordBox()->setText(QStringLiteral(" a&b#c "));
        login->rememberBox()->setChecked(false);
        TinyHttpServer::Response late = Answer(AccountXml("3|?"));
        late.delayMs = 200;
        m_answers.enqueue(late);
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QVERIFY(!login->loginButton()->isEnabled());
        QTRY_COMPARE(requests().size(), 1);
        const QByteArray target = requests()[0].target;
        QVERIFY2(target.startsWith("/readerserver/userinfo.asp?action=login&username=%E5%BC%A0%E4%B8%89"
                                   "&password=a%26b%23c&cookies=0&rnt="),
                 target.constData());

        // An unknown code leaves the window as it was, ready for another try.
        QTRY_VERIFY(login->loginButton()->isEnabled());
        QVERIFY(m_prompter.shown.isEmpty());
        QVERIFY(login->isVisible());
    }

    void loginAnswer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title"); // empty: no message
        QTest::addColumn<bool>("loggedIn");

        QTest::newRow("refused") << 200 << AccountXml("0|密码错误") << "请先登录" << false;
        QTest::newRow("accepted") << 200 << AccountXml("1|欢迎回来") << "欢迎登录" << true;
        QTest::newRow("not xml") << 200 << QByteArray("<html>oops") << "" << false;
        QTest::newRow("no userbase") << 200 << QByteArray("<a><logininfo>1|x</logininfo></a>") << "" << false;
        QTest::newRow("no bar") << 200 << AccountXml("1 welcome") << "" << false;
        QTest::newRow("server error") << 500 << AccountXml("1|欢迎回来") << "" << false;
    }

    void loginAnswer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        QFETCH(bool, loggedIn);
        QPointer<LoginWindow> login = m_windows->showLogin();
        login->nameBox()->setText(QStringLiteral("reader"));
        login->passwordBox()->setText(QStringLiteral("secret"));
        m_answers.enqueue(Answer(body, status));
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
        QTRY_VERIFY(!login || login->loginButton()->isEnabled());

        QCOMPARE(m_prompter.last().title, title);
        QCOMPARE(login.isNull(), loggedIn);
        QCOMPARE(m_windows->userCentre() != nullptr, loggedIn);
        if (loggedIn) {
            QCOMPARE(m_prompter.last().icon, Icon::Information);
            QCOMPARE(m_prompter.lastText(), QStringLiteral("欢迎回来"));
            QCOMPARE(m_windows->userCentre()->selectedNode(), int(UserCentre::UserInfoNode));
            QTRY_VERIFY(requests().last().target.contains("action=check"));
        } else {
            QCOMPARE(login->nameBox()->text(), QStringLiteral("reader"));
        }
    }

    void userCentreCheckAnswer_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("opensLogin");
        QTest::addColumn<bool>("checksAgain");

        QTest::newRow("not logged in") << AccountXml("0|请先登录！") << "请先登录" << true << true << false;
        QTest::newRow("logged out") << AccountXml("0|已安全退出，欢迎下次光临！") << "请先登录" << true << false
                                    << false;
        QTest::newRow("edit stored") << AccountXml("2|资料修改成功") << "修改成功" << false << false << true;
        QTest::newRow("broken") << QByteArray("not xml") << "" << false << false << false;
    }

    void userCentreCheckAnswer()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        QFETCH(bool, closes);
        QFETCH(bool, opensLogin);
        QFETCH(bool, checksAgain);
        m_answers.enqueue(Answer(body));
        QPointer<UserCentre> centre = m_windows->openUserCentre(UserCentre::UploadNode);
        QSignalSpy answered(centre->accountSlot(), &RequestSlot::finished);
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(requests()[0].target.contains("action=check"));

        if (checksAgain)
            QTRY_COMPARE(requests().size(), 2);
        QCOMPARE(m_prompter.last().title, title);
        QTRY_COMPARE(centre.isNull(), closes);
        if (!closes)
            QCOMPARE(centre->loadingPanel()->isVisible(), checksAgain);
        QCOMPARE(m_windows->loginWindow() != nullptr, opensLogin);
        if (checksAgain) {
            QVERIFY(requests()[1].target.contains("action=check"));
            QCOMPARE(centre->selectedNode(), int(UserCentre::UserInfoNode));
        }
    }

    void profileIsShownAndEdited()
    {
        UserCentre *centre = loggedInCentre(UserCentre::EditProfileNode);
        QVERIFY(centre);
        QCOMPARE(centre->userNameLabel()->text(), QStringLiteral("读者甲"));
        QCOMPARE(centre->goldLabel()->text(), QStringLiteral("35"));
        QCOMPARE(centre->lastLoginLabel()->text(), QStringLiteral("2024/3/7 9:05:33"));
        QCOMPARE(centre->editNameBox()->text(), QStringLiteral("读者甲"));
        QVERIFY(centre->femaleOption()->isChecked());
        QCOMPARE(centre->questionLabel()->text(), QStringLiteral("你的宠物叫什么?"));

        QTest::mouseClick(centre->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://example.test/?uid=7\n\n推广说明"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("复制成功"));

        const qsizetype before = requests().size();
        centre->emailBox()->setText(QStringLiteral("@b.cn"));
        QTest::mouseClick(centre->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("你输入的Email地址不合法，请重新输入！"));
        noNewRequest(before);

        centre->emailBox()->setText(QStringLiteral(" new@b.cn "));
        centre->newPasswordBox()->setText(QStringLiteral("pw1"));
        centre->maleOption()->setChecked(true);
        m_answers.clear();
        m_answers.enqueue(Answer(AccountXml("2|资料修改成功")));
        m_answers.enqueue(Answer(ProfileXml()));
        QTest::mouseClick(centre->saveButton(), Qt::LeftButton);
        QTRY_COMPARE(requests().size(), before + 2);
        const TinyHttpServer::Request edit = requests()[before];
        QCOMPARE(edit.method, QByteArray("POST"));
        QCOMPARE(edit.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(edit.body, QByteArray("action=edit&userid=7&userpass=pw%31&email=new%40b%2Ecn&sex=") +
                                ToGb18030(QStringLiteral("男")) + "&qq=%31%32%33%34%35&anwser=");
        QVERIFY(requests()[before + 1].target.contains("action=check"));
        // The new check refills every field but the two the user typed for the edit.
        QTRY_VERIFY(centre->femaleOption()->isChecked());
        QCOMPARE(centre->emailBox()->text(), QStringLiteral("a@b.cn"));
        QCOMPARE(centre->newPasswordBox()->text(), QStringLiteral("pw1"));
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

        m_answers.clear();
        TinyHttpServer::Response bye = Answer(AccountXml("0|已安全退出，欢迎下次光临！"));
        bye.delayMs = 200;
        m_answers.enqueue(bye);
        QPointer<UserCentre> guard = centre;
        centre->selectNode(UserCentre::LogoutNode);
        for (int node : {2, 3, 6, 7})
            QVERIFY(!centre->panel(node)->isVisible());
        QVERIFY(centre->loadingPanel()->isVisible());
        QTRY_VERIFY(guard.isNull());
        QVERIFY(requests().last().target.contains("action=loginout"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("请先登录"));
        QVERIFY(!m_windows->loginWindow());
    }

    void uploadedBooksPaging_data()
    {
        QTest::addColumn<QString>("action"); // a paging label, or "go:" + the typed page
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("page"); // the page requested, when no message

        QTest::newRow("first on page 1") << "首页"
                                         << "当前已是第一页!"
                                         << "";
        QTest::newRow("next") << "下一页"
                              << ""
                              << "2";
        QTest::newRow("go fraction") << "go:2.7"
                                     << ""
                                     << "2";
        QTest::newRow("go negative") << "go:-1"
                                     << "输入的页码有误,一共才3页,请重新输入!"
                                     << "";
        QTest::newRow("go beyond") << "go:4"
                                   << "输入的页码有误,一共才3页,请重新输入!"
                                   << "";
        QTest::newRow("go letters") << "go:abc"
                                    << "输入的页码有误,请重新输入!"
                                    << "";
    }

    void uploadedBooksPaging()
    {
        QFETCH(QString, action);
        QFETCH(QString, message);
        QFETCH(QString, page);
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        m_answers.clear();
        m_answers.enqueue(Answer(BooksXml("3,20,1,1,2")));
        centre->selectNode(UserCentre::MyBooksNode);
        QTRY_COMPARE(centre->pageLabel()->text(), QStringLiteral("1/3"));
        QVERIFY(requests().last().target.startsWith("/readerserver/ListUserBook.asp?uname=%E8%AF%BB%E8%80%85%E7%94%B2"
                                                    "&rnt="));
        QTreeWidget *list = centre->bookList();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("连载：12.0 KB"));
        QCOMPARE(list->topLevelItem(0)->text(5), QStringLiteral("待审核"));
        QCOMPARE(list->topLevelItem(0)->foreground(5).color(), QColor(128, 128, 128));
        QCOMPARE(list->topLevelItem(1)->foreground(5).color(), QColor(255, 0, 0));
        QCOMPARE(list->topLevelItem(1)->foreground(2).color(), QColor(198, 79, 6));

        const qsizetype before = requests().size();
        if (action.startsWith(QLatin1String("go:"))) {
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

    void uploadChecksInOrder_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withPath");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("newest");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");

        QTest::newRow("nothing") << -1 << "" << false << -1 << ""
                                 << "电子类型不能为空，请选择该电子书对应的分类！"
                                 << "category";
        QTest::newRow("no name") << 0 << "  " << true << 0 << "一"
                                 << "你没有填写电子书名称，请重新填写！"
                                 << "name";
        QTest::newRow("no path") << 0 << "书" << false << -1 << ""
                                 << "电子书路径不能为空，请重新选择！"
                                 << "browse";
        QTest::newRow("no status") << 0 << "书" << true << -1 << ""
                                   << "电子书连载状态不能为空，请重新选择！"
                                   << "status";
        QTest::newRow("serial without chapter") << 0 << "书" << true << 0 << " "
                                                << "请添加电子书最新章节名称！"
                                                << "newest";
    }

    void uploadChecksInOrder()
    {
        QFETCH(int, category);
        QFETCH(QString, name);
        QFETCH(bool, withPath);
        QFETCH(int, status);
        QFETCH(QString, newest);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        UploadPanel *panel = centre->uploadPanel();
        QVERIFY(panel->isVisible());
        QVERIFY(!panel->newestChapterRow()->isVisible());

        panel->categoryBox()->setCurrentIndex(category);
        panel->nameBox()->setText(name);
        if (withPath) {
            m_prompter.fileNames.enqueue(m_dir.filePath(QStringLiteral("book.txt")));
            QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
            QCOMPARE(m_prompter.shown.size(), 0);
        }
        panel->statusList()->setCurrentIndex(status);
        panel->newestChapterBox()->setText(newest);
        if (status == 0)
            panel->newestChapterRow()->hide(); // the check must bring it back
        const qsizetype before = requests().size();
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);

        QCOMPARE(m_prompter.lastText(), message);
        QCOMPARE(m_prompter.last().title, QStringLiteral("数据有误"));
        QCOMPARE(m_prompter.last().icon, Icon::Critical);
        const QHash<QString, QWidget *> targets{{QStringLiteral("category"), panel->categoryBox()},
                                                {QStringLiteral("name"), panel->nameBox()},
                                                {QStringLiteral("browse"), panel->browseButton()},
                                                {QStringLiteral("status"), panel->statusList()},
                                                {QStringLiteral("newest"), panel->newestChapterBox()}};
        QCOMPARE(centre->focusWidget(), targets.value(focus));
        QCOMPARE(panel->newestChapterRow()->isVisible(), focus == QLatin1String("newest"));
        noNewRequest(before);
    }

    void uploadSendsMultipartAndClosesOnSuccess()
    {
        const QString book = m_dir.filePath(QStringLiteral("上传书.txt"));
        QVERIFY(TestSupport::writeFile(book, ToGb18030(QStringLiteral("第一章\r\n正文\r\n"))));
        const QString cover = m_dir.filePath(QStringLiteral("cover.jpg"));
        QImage image(40, 50, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(cover, "JPG"));

        const qint64 id =
            m_db->insertBook(QStringLiteral("玄幻修真"), QStringLiteral("书|名"), QStringLiteral("作者"), book);
        QVERIFY(id > 0);
        UserCentre *centre = loggedInCentre(UserCentre::UserInfoNode);
        QVERIFY(centre);
        QTRY_VERIFY(!centre->loadingPanel()->isVisible());
        const qsizetype before = requests().size();
        QVERIFY(m_windows->shareShelfBook(id));
        QCOMPARE(m_windows->userCentre(), centre);
        noNewRequest(before); // an open user centre is reused without a new check
        UploadPanel *panel = centre->uploadPanel();
        QCOMPARE(panel->categoryBox()->currentText(), QStringLiteral("玄幻修真"));
        QCOMPARE(panel->pathBox()->text(), book);

        m_prompter.fileNames.enqueue(cover);
        QTest::mouseClick(panel->coverButton(), Qt::LeftButton);
        QVERIFY(panel->coverOverlay()->isVisible());
        QCOMPARE(panel->coverOverlay()->toolTip(), QStringLiteral("删除封面"));
        QTest::mouseClick(panel->coverOverlay(), Qt::LeftButton);
        QVERIFY(!panel->coverOverlay()->isVisible());
        QVERIFY(panel->coverPath().isEmpty());
        m_prompter.fileNames.enqueue(cover);
        QTest::mouseClick(panel->coverButton(), Qt::LeftButton);

        panel->statusList()->setCurrentIndex(0);
        panel->newestChapterBox()->setText(QStringLiteral("第二章"));
        panel->statusList()->setCurrentIndex(1); // "全集" hides and empties the chapter row
        QVERIFY(!panel->newestChapterRow()->isVisible());
        QVERIFY(panel->newestChapterBox()->text().isEmpty());
        panel->summaryBox()->setPlainText(QStringLiteral("a|b=c"));

        m_answers.clear();
        TinyHttpServer::Response accepted = Answer(ToGb18030(QStringLiteral("1|上传成功！")));
        accepted.delayMs = 200;
        m_answers.enqueue(accepted);
        QPointer<UserCentre> guard = centre;
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QVERIFY(!panel->uploadButton()->isEnabled());
        QVERIFY(panel->uploadingIndicator()->isVisible());
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(m_prompter.lastText(), QStringLiteral("上传成功！"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("上传成功"));

        const TinyHttpServer::Request upload = requests().last();
        QCOMPARE(upload.target, QByteArray("/readerserver/uploadbook.asp"));
        QCOMPARE(upload.headers.value("content-type"), QByteArray("multipart/form-data"));
        QCOMPARE(upload.headers.value("content-length").toLongLong(), upload.body.size());
        const QByteArray body = upload.body;
        QVERIFY(body.contains("name=\"file1\";filename=\"" + ToGb18030(book) + "\""));
        QVERIFY(body.contains("name=\"file2\";filename=\"" + ToGb18030(cover) + "\""));
        QVERIFY(body.contains("name=\"sname\"\r\n\r\n" + ToGb18030(QStringLiteral("书｜名")) + "\r\n"));
        QVERIFY(body.contains("name=\"smemo\"\r\n\r\n" + ToGb18030(QStringLiteral("a｜b=c")) + "\r\n"));
        QVERIFY(body.contains("name=\"username\"\r\n\r\n" + ToGb18030(QStringLiteral("读者甲")) + "\r\n"));
        QVERIFY(body.contains("name=\"snewchap\"\r\n\r\n\r\n"));
    }

    void uploadRefusalAndUnreadableFile()
    {
        UserCentre *centre = loggedInCentre(UserCentre::UploadNode);
        QVERIFY(centre);
        UploadPanel *panel = centre->uploadPanel();
        panel->categoryBox()->setCurrentIndex(2);
        panel->nameBox()->setText(QStringLiteral("书"));
        panel->statusList()->setCurrentIndex(1);
        m_prompter.fileNames.enqueue(m_dir.filePath(QStringLiteral("gone.txt")));
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        const qsizetype before = requests().size();
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QVERIFY(m_prompter.lastText().contains(m_dir.filePath(QStringLiteral("gone.txt"))));
        QVERIFY(panel->uploadButton()->isEnabled());
        noNewRequest(before);

        const QString book = m_dir.filePath(QStringLiteral("here.txt"));
        QVERIFY(TestSupport::writeFile(book, "text"));
        m_prompter.fileNames.enqueue(book);
        QTest::mouseClick(panel->browseButton(), Qt::LeftButton);
        m_answers.clear();
        m_answers.enqueue(Answer(ToGb18030(QStringLiteral("0|文件格式不对"))));
        QTest::mouseClick(panel->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY(panel->uploadButton()->isEnabled());
        QCOMPARE(m_prompter.lastText(), QStringLiteral("文件格式不对"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("上传失败"));
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
        const bool shared =
            byPath ? m_windows->shareOpenBook(QStringLiteral("/no/such.txt")) : m_windows->shareShelfBook(4242);
        QVERIFY(!shared);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("没有找到该书的信息"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("出错啦"));
        QVERIFY(!m_windows->userCentre());
        noNewRequest(0);
    }

    void shareOpenBookWithForeignCategory()
    {
        const QString path = m_dir.filePath(QStringLiteral("open.txt"));
        QVERIFY(m_db->insertBook(QStringLiteral("未知类别"), QStringLiteral("打开的书"), QStringLiteral("某人"), path) >
                0);
        QVERIFY(m_windows->shareOpenBook(path));
        UploadPanel *panel = m_windows->userCentre()->uploadPanel();
        QCOMPARE(panel->categoryBox()->currentIndex(), -1);
        QCOMPARE(panel->nameBox()->text(), QStringLiteral("打开的书"));
        QCOMPARE(panel->authorBox()->text(), QStringLiteral("某人"));
        QTRY_COMPARE(requests().size(), 1); // the opening check of a new user centre
        QVERIFY(requests()[0].target.contains("action=check"));
    }

    void registrationChecksInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("cleared");

        QTest::newRow("e-mail first") << "a"
                                      << "1"
                                      << "2"
                                      << "@x.cn"
                                      << "你输入的Email地址不合法，请重新输入！" << false;
        QTest::newRow("name characters") << "ab-cd"
                                         << "1"
                                         << "2"
                                         << "ab@x.cn"
                                         << "用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意2至10位组合！"
                                         << false;
        QTest::newRow("password short") << "张三_01"
                                        << "12"
                                        << "12"
                                        << "ab@x.cn"
                                        << "你输入的密码长度太短（至少3位），请重新输入！" << true;
        QTest::newRow("mismatch") << "张三_01"
                                  << "123"
                                  << "124"
                                  << "ab@x.cn"
                                  << "你两次输入密码有误，请重新输入！" << true;
    }

    void registrationChecksInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, repeat);
        QFETCH(QString, email);
        QFETCH(QString, message);
        QFETCH(bool, cleared);
        RegistrationWindow *reg = m_windows->showRegistration();
        reg->nameBox()->setText(name); // keyClicks types ASCII only
        QTest::keyClicks(reg->passwordBox(), password);
        QTest::keyClicks(reg->repeatBox(), repeat);
        QTest::keyClicks(reg->emailBox(), email);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), message);
        QCOMPARE(m_prompter.last().title, QStringLiteral("填写有误"));
        QCOMPARE(reg->passwordBox()->text().isEmpty(), cleared);
        QCOMPARE(reg->repeatBox()->text().isEmpty(), cleared);
        QCOMPARE(reg->emailBox()->text(), email);
        QVERIFY(reg->submitButton()->isEnabled());
        noNewRequest(0);
    }

    void registrationSendsAndHandsOverToLogin()
    {
        LoginWindow *login = m_windows->showLogin();
        QTest::mouseClick(login->registerLink(), Qt::LeftButton);
        QTRY_VERIFY(!m_windows->loginWindow());
        RegistrationWindow *reg = m_windows->registrationWindow();
        QVERIFY(reg && reg->isVisible());

        reg->nameBox()->setText(QStringLiteral(" 张三丰 "));
        reg->passwordBox()->setText(QStringLiteral("abc"));
        reg->repeatBox()->setText(QStringLiteral("abc"));
        reg->emailBox()->setText(QStringLiteral("z@x.cn"));
        reg->questionList()->setCurrentIndex(3);
        TinyHttpServer::Response refused = Answer(AccountXml("0|用户名已存在"));
        refused.delayMs = 150;
        m_answers.enqueue(refused);
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QVERIFY(!reg->submitButton()->isEnabled());
        QVERIFY(reg->loadingPanel()->isVisible());
        QTRY_VERIFY(reg->submitButton()->isEnabled());
        QVERIFY(!reg->loadingPanel()->isVisible());
        QCOMPARE(m_prompter.last().title, QStringLiteral("注册失败"));
        QCOMPARE(m_prompter.last().icon, Icon::Critical);
        QCOMPARE(requests()[0].body,
                 QByteArray("action=reg&username=%D5%C5%C8%FD%B7%E1&userpass=abc&email=z%40x%2Ecn&sex=%B1%A3%C3%DC&qq="
                            "&anwser=") +
                     EncodeFormValue(QStringLiteral("你的宠物叫什么?")).toLatin1() + "&question=");

        QPointer<RegistrationWindow> guard = reg;
        m_answers.enqueue(Answer(AccountXml("1|注册成功")));
        QTest::mouseClick(reg->submitButton(), Qt::LeftButton);
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(m_prompter.last().title, QStringLiteral("欢迎注册"));
        QVERIFY(m_windows->loginWindow());
    }
};

QTEST_MAIN(TestAccountWindows)
#include "tst_account_windows.moc"
