#include "account/AccountOutcome.h"
#include "account/FormEncoding.h"

#include <QtTest>

class AccountReplyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data();
    void decode();
    void decode_profile();
    void outcomes_data();
    void outcomes();
};

void AccountReplyTest::decode_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("code"); // empty: the answer is ignored
    QTest::addColumn<QString>("message");

    QTest::newRow("nested, declared gb2312")
        << QByteArray("<?xml version=\"1.0\" encoding=\"gb2312\"?><r><userbase><a><logininfo>0|") +
               ToGb18030(LogoutMessage()) + "</logininfo></a></userbase></r>"
        << "0" << LogoutMessage();
    QTest::newRow("first logininfo, second piece")
        << QByteArray("<userbase><logininfo> 2|ok|x\n</logininfo><logininfo>0|no</logininfo></userbase>") << "2"
        << "ok";
    QTest::newRow("only the first userbase")
        << QByteArray("<r><userbase/><userbase><logininfo>1|x</logininfo></userbase></r>") << "" << "";
    QTest::newRow("no bar") << QByteArray("<userbase><logininfo>1</logininfo></userbase>") << "" << "";
    QTest::newRow("no userbase") << QByteArray("<logininfo>1|x</logininfo>") << "" << "";
    QTest::newRow("not xml") << QByteArray("1|ok") << "" << "";
    QTest::newRow("truncated") << QByteArray("<userbase><logininfo>1|x</logininfo><uname>ab") << "" << "";
    QTest::newRow("dtd") << QByteArray("<!DOCTYPE u [<!ENTITY e \"1|x\">]><userbase><logininfo>&e;</logininfo></userbase>")
                         << "" << "";
    // clang-format on
}

void AccountReplyTest::decode()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, code);
    QFETCH(QString, message);
    const AccountReply reply = DecodeAccountReply(body);
    QCOMPARE(reply.valid, !code.isEmpty());
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.message, message);
}

void AccountReplyTest::decode_profile()
{
    const QByteArray body =
        QStringLiteral("<data><userbase><logininfo>1|欢迎</logininfo><purl>http://x/?u=7</purl>"
                       "<pinfo>推广</pinfo><uid>7</uid><uname>张三</uname><userlogin>12</userlogin>"
                       "<lastdate>2024/3/7 9:05:33</lastdate><userpoint>100</userpoint><usermoney>5</usermoney>"
                       "<usermail>a@b.c</usermail><qq/><sex>女</sex><i><question>Q?</question></i>"
                       "<uname>second</uname></userbase><userbase><qq>999</qq></userbase></data>")
            .toUtf8();
    const AccountProfile expected{QStringLiteral("http://x/?u=7"),
                                  QStringLiteral("推广"),
                                  QStringLiteral("7"),
                                  QStringLiteral("张三"),
                                  QStringLiteral("12"),
                                  QStringLiteral("2024/3/7 9:05:33"),
                                  QStringLiteral("100"),
                                  QStringLiteral("5"),
                                  QStringLiteral("a@b.c"),
                                  QString(),
                                  QStringLiteral("女"),
                                  QStringLiteral("Q?")};
    QCOMPARE(DecodeAccountReply(body).profile, expected);
}

void AccountReplyTest::outcomes_data()
{
    // clang-format off
    QTest::addColumn<int>("window"); // 0 login, 1 user centre, 2 registration
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title"); // empty: no message box
    QTest::addColumn<int>("icon");
    // Flags in order: fillProfile showUserInfo openUserCentre openLogin closeWindow releaseRequest
    QTest::addColumn<QString>("flags");

    const int excl = int(Prompter::Icon::Exclamation), info = int(Prompter::Icon::Information);
    const int crit = int(Prompter::Icon::Critical);
    QTest::newRow("login 0") << 0 << "0" << "no" << QStringLiteral("请先登录") << excl << "000001";
    QTest::newRow("login 1") << 0 << "1" << "hi" << QStringLiteral("欢迎登录") << info << "011011";
    QTest::newRow("login 2") << 0 << "2" << "x" << QString() << 0 << "000001";
    QTest::newRow("centre 0") << 1 << "0" << "no" << QStringLiteral("请先登录") << excl << "000111";
    QTest::newRow("centre logout") << 1 << "0" << LogoutMessage() << QStringLiteral("请先登录") << excl << "000011";
    QTest::newRow("centre 1") << 1 << "1" << "" << QString() << 0 << "100001";
    QTest::newRow("centre 2 keeps the new check") << 1 << "2" << "ok" << QStringLiteral("修改成功") << info << "010000";
    QTest::newRow("reg 0") << 2 << "0" << "taken" << QStringLiteral("注册失败") << crit << "000001";
    QTest::newRow("reg 1") << 2 << "1" << "made" << QStringLiteral("欢迎注册") << info << "000111";
    // clang-format on
}

void AccountReplyTest::outcomes()
{
    QFETCH(int, window);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(QString, flags);

    const auto decide = window == 0 ? LoginWindowOutcome : window == 1 ? UserCentreOutcome : RegistrationOutcome;
    const AccountOutcome out = decide(AccountReply{true, code, message, {}});
    QCOMPARE(out.message.has_value(), !title.isEmpty());
    if (out.message) {
        QCOMPARE(out.message->text, message);
        QCOMPARE(out.message->title, title);
        QCOMPARE(int(out.message->icon), icon);
    }
    const QString actual = QString::number(out.fillProfile) + QString::number(out.showUserInfo) +
                           QString::number(out.openUserCentre) + QString::number(out.openLogin) +
                           QString::number(out.closeWindow) + QString::number(out.releaseRequest);
    QCOMPARE(actual, flags);
    // An unusable answer never makes a window act.
    QVERIFY(decide(AccountReply{}) == AccountOutcome{});
}

QTEST_GUILESS_MAIN(AccountReplyTest)
#include "tst_account_reply.moc"
