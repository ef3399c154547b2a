#include "account/AccountOutcome.h"
#include "account/AccountReply.h"
#include "account/FormEncoding.h"

#include <QtTest>

namespace {

QByteArray Utf8(const char *text)
{
    return QByteArray(text);
}

} // namespace

class AccountReplyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data();
    void decode();
    void decode_readsTheProfileOfTheFirstUserbase();
    void decode_gb2312Document();
    void outcomes_data();
    void outcomes();
    void loginValidation();
    void addresses();
};

void AccountReplyTest::decode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("plain") << Utf8("<userbase><logininfo>1|登录成功</logininfo></userbase>") << true << "1"
                           << QStringLiteral("登录成功");
    QTest::newRow("nested deeper, declaration")
        << Utf8("<?xml version=\"1.0\" encoding=\"utf-8\"?><root><x><userbase><a><logininfo>0|请先登录</logininfo></a>"
                "</userbase></x></root>")
        << true << "0" << QStringLiteral("请先登录");
    QTest::newRow("only the first logininfo")
        << Utf8("<userbase><logininfo>2|ok</logininfo><logininfo>0|no</logininfo></userbase>") << true << "2" << "ok";
    QTest::newRow("logininfo outside the first userbase is ignored")
        << Utf8("<r><userbase/><userbase><logininfo>1|x</logininfo></userbase></r>") << false << "" << "";
    QTest::newRow("logininfo before userbase is ignored")
        << Utf8("<r><logininfo>1|x</logininfo><userbase/></r>") << false << "" << "";
    QTest::newRow("message is the second piece only")
        << Utf8("<userbase><logininfo>0|a|b</logininfo></userbase>") << true << "0" << "a";
    QTest::newRow("empty message") << Utf8("<userbase><logininfo>1|</logininfo></userbase>") << true << "1" << "";
    QTest::newRow("surrounding whitespace")
        << Utf8("<userbase><logininfo>\n  0|再见 \n</logininfo></userbase>") << true << "0" << QStringLiteral("再见");
    QTest::newRow("no bar") << Utf8("<userbase><logininfo>1</logininfo></userbase>") << false << "" << "";
    QTest::newRow("no logininfo") << Utf8("<userbase><uname>x</uname></userbase>") << false << "" << "";
    QTest::newRow("no userbase") << Utf8("<logininfo>1|x</logininfo>") << false << "" << "";
    QTest::newRow("html error page") << Utf8("<html><body>500 Internal Server Error<br></body></html>") << false << ""
                                     << "";
    QTest::newRow("not xml") << Utf8("1|ok") << false << "" << "";
    QTest::newRow("empty") << QByteArray() << false << "" << "";
    QTest::newRow("truncated after logininfo")
        << Utf8("<userbase><logininfo>1|x</logininfo><uname>ab") << false << "" << "";
    QTest::newRow("dtd refused")
        << Utf8("<!DOCTYPE userbase [<!ENTITY e \"1|x\">]><userbase><logininfo>&e;</logininfo></userbase>") << false
        << "" << "";
}

void AccountReplyTest::decode()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, valid);
    QFETCH(QString, code);
    QFETCH(QString, message);
    const AccountReply reply = DecodeAccountReply(body);
    QCOMPARE(reply.valid, valid);
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.message, message);
}

void AccountReplyTest::decode_readsTheProfileOfTheFirstUserbase()
{
    const QByteArray body = Utf8("<?xml version=\"1.0\"?><data><userbase>"
                                 "<logininfo>1|欢迎</logininfo>"
                                 "<purl>http://x/?u=7</purl><pinfo>推广</pinfo><uid>7</uid><uname>张三</uname>"
                                 "<userlogin>12</userlogin><lastdate>2024/3/7 9:05:33</lastdate>"
                                 "<userpoint>100</userpoint><usermoney>5</usermoney><usermail>a@b.c</usermail>"
                                 "<qq></qq><sex>女</sex><info><question>你的宠物叫什么?</question></info>"
                                 "<uname>second</uname>"
                                 "</userbase><userbase><qq>999</qq></userbase></data>");
    const AccountReply reply = DecodeAccountReply(body);
    QVERIFY(reply.valid);
    AccountProfile expected{QStringLiteral("http://x/?u=7"), QStringLiteral("推广"), QStringLiteral("7"),
                            QStringLiteral("张三"), QStringLiteral("12"), QStringLiteral("2024/3/7 9:05:33"),
                            QStringLiteral("100"), QStringLiteral("5"), QStringLiteral("a@b.c"), QString(),
                            QStringLiteral("女"), QStringLiteral("你的宠物叫什么?")};
    QCOMPARE(reply.profile, expected);
}

void AccountReplyTest::decode_gb2312Document()
{
    const QByteArray body = QByteArray("<?xml version=\"1.0\" encoding=\"gb2312\"?><userbase><logininfo>0|") +
                            ToGb18030(LogoutMessage()) + QByteArray("</logininfo></userbase>");
    const AccountReply reply = DecodeAccountReply(body);
    QVERIFY(reply.valid);
    QCOMPARE(reply.message, LogoutMessage());
}

Q_DECLARE_METATYPE(AccountOutcome)

void AccountReplyTest::outcomes_data()
{
    QTest::addColumn<int>("window"); // 0 login, 1 user centre, 2 registration
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<AccountOutcome>("expected");

    const auto msg = [](const QString &text, const char *title, Prompter::Icon icon) {
        return std::optional<AccountMessage>(AccountMessage{text, QString::fromUtf8(title), icon});
    };
    using I = Prompter::Icon;

    AccountOutcome loginRefused;
    loginRefused.message = msg("密码错误", "请先登录", I::Exclamation);
    QTest::newRow("login 0 stays open") << 0 << "0" << QStringLiteral("密码错误") << loginRefused;

    AccountOutcome loginOk;
    loginOk.message = msg("欢迎", "欢迎登录", I::Information);
    loginOk.openUserCentre = loginOk.showUserInfo = loginOk.closeWindow = true;
    QTest::newRow("login 1 hands over to the user centre") << 0 << "1" << QStringLiteral("欢迎") << loginOk;
    QTest::newRow("login 2 does nothing") << 0 << "2" << QStringLiteral("x") << AccountOutcome{};

    AccountOutcome refusedCheck;
    refusedCheck.message = msg("请先登录！", "请先登录", I::Exclamation);
    refusedCheck.openLogin = refusedCheck.closeWindow = true;
    QTest::newRow("check 0 opens the login") << 1 << "0" << QStringLiteral("请先登录！") << refusedCheck;

    AccountOutcome loggedOut;
    loggedOut.message = msg(LogoutMessage(), "请先登录", I::Exclamation);
    loggedOut.closeWindow = true;
    QTest::newRow("logout message closes only") << 1 << "0" << LogoutMessage() << loggedOut;

    AccountOutcome profile;
    profile.fillProfile = true;
    QTest::newRow("check 1 fills the profile") << 1 << "1" << QString() << profile;

    AccountOutcome edited;
    edited.message = msg("修改成功！", "修改成功", I::Information);
    edited.showUserInfo = true;
    edited.releaseRequest = false;
    QTest::newRow("edit 2 rechecks") << 1 << "2" << QStringLiteral("修改成功！") << edited;
    QTest::newRow("user centre 3 ignored") << 1 << "3" << QStringLiteral("x") << AccountOutcome{};

    AccountOutcome regRefused;
    regRefused.message = msg("用户名已存在", "注册失败", I::Critical);
    QTest::newRow("reg 0 stays open") << 2 << "0" << QStringLiteral("用户名已存在") << regRefused;

    AccountOutcome regOk;
    regOk.message = msg("注册成功", "欢迎注册", I::Information);
    regOk.openLogin = regOk.closeWindow = true;
    QTest::newRow("reg 1 opens the login") << 2 << "1" << QStringLiteral("注册成功") << regOk;
}

void AccountReplyTest::outcomes()
{
    QFETCH(int, window);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(AccountOutcome, expected);

    const QByteArray body = (QStringLiteral("<userbase><logininfo>") + code + QLatin1Char('|') + message +
                             QStringLiteral("</logininfo></userbase>"))
                                .toUtf8();
    const AccountReply reply = DecodeAccountReply(body);
    QVERIFY(reply.valid);
    const auto decide = window == 0 ? LoginWindowOutcome : window == 1 ? UserCentreOutcome : RegistrationOutcome;
    const AccountOutcome actual = decide(reply);
    QCOMPARE(actual.message.has_value(), expected.message.has_value());
    if (expected.message) {
        QCOMPARE(actual.message->text, expected.message->text);
        QCOMPARE(actual.message->title, expected.message->title);
        QCOMPARE(actual.message->icon, expected.message->icon);
    }
    QVERIFY(actual == expected);

    // An unusable answer never makes any window act.
    QVERIFY(decide(AccountReply{}) == AccountOutcome{});
}

void AccountReplyTest::loginValidation()
{
    QVERIFY(!ValidateLogin(QStringLiteral(" a "), QStringLiteral("b")));
    const auto problem = ValidateLogin(QStringLiteral("a"), QStringLiteral("   "));
    QVERIFY(problem);
    QCOMPARE(problem->text, QStringLiteral("用户名或密码不能为空！"));
    QCOMPARE(problem->title, QStringLiteral("登录失败"));
    QCOMPARE(problem->icon, Prompter::Icon::Critical);
}

void AccountReplyTest::addresses()
{
    const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 33));
    const QString base = QStringLiteral("http://h");
    QCOMPARE(LoginUrl(base, QStringLiteral("张三"), QStringLiteral("p w"), true, when),
             QStringLiteral("http://h/readerserver/userinfo.asp?action=login&username=张三&password=p w&cookies=1"
                            "&rnt=2024/3/7 9:05:33"));
    QVERIFY(LoginUrl(base, QStringLiteral("a"), QStringLiteral("b"), false, when).contains(QStringLiteral("&cookies=0&")));
    QCOMPARE(CheckUrl(base, when), QStringLiteral("http://h/readerserver/userinfo.asp?action=check&rnt=2024/3/7 9:05:33"));
    QCOMPARE(LogoutUrl(base, when),
             QStringLiteral("http://h/readerserver/userinfo.asp?action=loginout&rnt=2024/3/7 9:05:33"));
}

QTEST_GUILESS_MAIN(AccountReplyTest)
#include "tst_account_reply.moc"
