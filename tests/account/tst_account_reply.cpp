#include "account/AccountOutcome.h"
#include "account/FormEncoding.h"
#include "catalogue/CatalogueProtocol.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class AccountReplyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code"); // empty: the answer is ignored
        QTest::addColumn<QString>("message");

        QTest::newRow("nested, declared gb2312") << "<?xml version=\"1.0\" encoding=\"gb2312\"?><r><userbase><a>"
                                                    "<logininfo>0|" +
                                                        ToGb18030(LogoutMessage()) + "</logininfo></a></userbase></r>"
                                                 << u"0"_s << LogoutMessage();
        QTest::newRow("first logininfo, second piece")
            << "<userbase><logininfo> 2|ok|x\n</logininfo><logininfo>0|no</logininfo></userbase>"_ba << u"2"_s
            << u"ok"_s;
        QTest::newRow("only the first userbase")
            << "<r><userbase/><userbase><logininfo>1|x</logininfo></userbase></r>"_ba << QString() << QString();
        QTest::newRow("no bar") << "<userbase><logininfo>1</logininfo></userbase>"_ba << QString() << QString();
        QTest::newRow("no userbase") << "<logininfo>1|x</logininfo>"_ba << QString() << QString();
        QTest::newRow("truncated") << "<userbase><logininfo>1|x</logininfo><uname>ab"_ba << QString() << QString();
    }
    void decode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        const AccountReply reply = DecodeAccountReply(body);
        QCOMPARE(reply.valid, !code.isEmpty());
        QCOMPARE(reply.code, code);
        QTEST(reply.message, "message");
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("window"); // 0 login, 1 user centre, 2 registration
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title"); // empty: no message box
        QTest::addColumn<int>("icon");
        // Flags in order: fillProfile showUserInfo openUserCentre openLogin closeWindow releaseRequest
        QTest::addColumn<QString>("flags");

        const int excl = int(Prompter::Icon::Exclamation), info = int(Prompter::Icon::Information);
        const int crit = int(Prompter::Icon::Critical);
        // clang-format off
        QTest::newRow("login 0") << 0 << u"0"_s << u"no"_s << u"请先登录"_s << excl << u"000001"_s;
        QTest::newRow("login 1") << 0 << u"1"_s << u"hi"_s << u"欢迎登录"_s << info << u"011011"_s;
        QTest::newRow("login 2") << 0 << u"2"_s << u"x"_s << QString() << 0 << u"000001"_s;
        QTest::newRow("centre 0") << 1 << u"0"_s << u"no"_s << u"请先登录"_s << excl << u"000111"_s;
        QTest::newRow("centre logout") << 1 << u"0"_s << LogoutMessage() << u"请先登录"_s << excl << u"000011"_s;
        QTest::newRow("centre 1") << 1 << u"1"_s << QString() << QString() << 0 << u"100001"_s;
        QTest::newRow("centre 2 keeps the new check") << 1 << u"2"_s << u"ok"_s << u"修改成功"_s << info << u"010000"_s;
        QTest::newRow("reg 0") << 2 << u"0"_s << u"taken"_s << u"注册失败"_s << crit << u"000001"_s;
        QTest::newRow("reg 1") << 2 << u"1"_s << u"made"_s << u"欢迎注册"_s << info << u"000111"_s;
        // clang-format on
    }
    void outcomes()
    {
        QFETCH(int, window);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(QString, title);
        const auto decide = window == 0 ? LoginWindowOutcome : window == 1 ? UserCentreOutcome : RegistrationOutcome;
        const AccountOutcome out = decide(AccountReply{true, code, message, {}});
        QCOMPARE(out.message.has_value(), !title.isEmpty());
        if (out.message) {
            QCOMPARE(out.message->text, message);
            QCOMPARE(out.message->title, title);
            QTEST(int(out.message->icon), "icon");
        }
        QString flags;
        for (bool flag : {out.fillProfile, out.showUserInfo, out.openUserCentre, out.openLogin, out.closeWindow,
                          out.releaseRequest})
            flags += QString::number(flag);
        QTEST(flags, "flags");
        // An unusable answer never makes a window act; the user centre says it has none.
        const AccountOutcome none = window == 1 ? AccountOutcome{AccountMessage{NoDataMessage(), {}, Prompter::Icon::Exclamation}}
                                                : AccountOutcome{};
        QVERIFY(decide(AccountReply{}) == none);
        // A busy server's word is only shown.
        const AccountOutcome busy = decide(DecodeAccountReply("<userbase><logininfo>忙</logininfo></userbase>"));
        QVERIFY(busy == (AccountOutcome{AccountMessage{u"忙"_s, u"提示"_s, Prompter::Icon::Exclamation}}));
    }
};

QTEST_GUILESS_MAIN(AccountReplyTest)
#include "tst_account_reply.moc"
