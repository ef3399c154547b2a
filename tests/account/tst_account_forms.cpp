#include "account/AccountOutcome.h"
#include "account/FormEncoding.h"
#include "account/Registration.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class AccountFormsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeFormValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("letters kept") << u"abcXYZ"_s << u"abcXYZ"_s;
        QTest::newRow("digit and underscore") << u"a1_"_s << u"a%31%5F"_s;
        QTest::newRow("no leading zeros") << u"\t\n "_s << u"%9%A%20"_s;
        QTest::newRow("chinese") << u"王"_s << u"%CD%F5"_s;
        QTest::newRow("accented letter not kept") << u"é"_s << u"%A8%A6"_s;
        QTest::newRow("four-byte character") << u"😀"_s << u"%94%39%FC%36"_s;
    }
    void encodeFormValue()
    {
        QFETCH(QString, text);
        QTEST(EncodeFormValue(text), "encoded");
    }

    void textRules_data()
    {
        QTest::addColumn<bool>("isEmail"); // false: the user-name character rule
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("passes");
        QTest::newRow("mail: @ 2nd, . 4th") << true << u"a@b.c"_s << true;
        QTest::newRow("mail: starts with @") << true << u"@bc.de"_s << false;
        QTest::newRow("mail: no dot") << true << u"abc@de"_s << false;
        QTest::newRow("mail: ends with dot") << true << u"ab@cd."_s << false;
        QTest::newRow("mail: dot 3rd before @") << true << u"ab.c@d"_s << true;
        QTest::newRow("mail: only dot is 2nd") << true << u"a.@bcd"_s << false;
        QTest::newRow("mail: later dot counts") << true << u"a.b@c.d"_s << true;
        QTest::newRow("name: chinese, _, digits") << false << u"张三_01"_s << true;
        QTest::newRow("name: full-width comma") << false << u"ab，"_s << true;
        QTest::newRow("name: four-byte letter") << false << u"abÿ"_s << false;
    }
    void textRules()
    {
        QFETCH(bool, isEmail);
        QFETCH(QString, text);
        QTEST(isEmail ? IsPlausibleEmail(text) : IsValidUserNameChars(text), "passes");
    }

    void registrationChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message"); // empty: may be sent
        QTest::addColumn<int>("focus");

        const QString mail = u"你输入的Email地址不合法，请重新输入！"_s;
        const QString length = u"用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！"_s;
        const QString chars = u"用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意2至10位组合！"_s;
        const QString shortPw = u"你输入的密码长度太短（至少3位），请重新输入！"_s;
        const QString mismatch = u"你两次输入密码有误，请重新输入！"_s;
        const int name = int(RegistrationField::UserName), pw = int(RegistrationField::Password);
        // clang-format off
        QTest::newRow("fine, spaces trimmed") << u"abcdefghijklmn"_s << u" 123"_s << u"123 "_s << u"a@b.c"_s << QString() << 0;
        QTest::newRow("e-mail first") << u"a-"_s << u"1"_s << u"2"_s << u"bad"_s << mail << int(RegistrationField::Email);
        QTest::newRow("two after trim") << u"  ab  "_s << u"123"_s << u"123"_s << u"a@b.c"_s << length << name;
        QTest::newRow("fifteen") << u"abcdefghijklmno"_s << u"123"_s << u"123"_s << u"a@b.c"_s << length << name;
        QTest::newRow("hyphen") << u"ab-cd"_s << u"123"_s << u"123"_s << u"a@b.c"_s << chars << name;
        QTest::newRow("password of blanks") << u"reader"_s << u"    "_s << u"    "_s << u"a@b.c"_s << shortPw << pw;
        QTest::newRow("mismatch") << u"reader"_s << u"123"_s << u"124"_s << u"a@b.c"_s << mismatch << pw;
        // clang-format on
    }
    void registrationChecks()
    {
        QFETCH(QString, message);
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, repeat);
        QFETCH(QString, email);
        const auto problem = ValidateRegistration({.userName = name, .password = password, .repeatPassword = repeat, .email = email});
        QCOMPARE(problem.has_value(), !message.isEmpty());
        if (!problem)
            return;
        QCOMPARE(problem->message.text, message);
        QCOMPARE(problem->message.title, u"填写有误"_s);
        QTEST(int(problem->focus), "focus");
        QCOMPARE(problem->clearPasswords, problem->focus == RegistrationField::Password);
    }

    // The login and the profile edit have one check each before anything is sent.
    void loginAndProfileEditChecks()
    {
        const AccountMessage blank{u"用户名或密码不能为空！"_s, u"登录失败"_s, Prompter::Icon::Critical};
        QCOMPARE(ValidateLogin(u" "_s, u"pw"_s), std::optional(blank));
        QCOMPARE(ValidateLogin(u"name"_s, u"\t"_s), std::optional(blank));
        QCOMPARE(ValidateLogin(u"name"_s, u"pw"_s), std::nullopt);
        ProfileEditForm edit{u"7"_s, {}, u" @b.cn"_s, {}, {}, Sex::Female};
        QCOMPARE(ValidateProfileEdit(edit)->text, u"你输入的Email地址不合法，请重新输入！"_s);
        edit.email = u" a@b.cn "_s;
        QVERIFY(!ValidateProfileEdit(edit));
    }

    void bodies()
    {
        const RegistrationForm reg{
            .userName = u" 王a "_s, .password = u"p1"_s, .email = u"a@b.c"_s, .question = u"Q?"_s, .answer = u" Mimi "_s};
        // The server's keys are swapped; neither sex chosen sends "保密", encoded.
        QCOMPARE(RegistrationBody(reg), u"action=reg&username=%CD%F5a&userpass=p%31&email=a%40b%2Ec"
                                        "&sex=%B1%A3%C3%DC&qq=&anwser=Q%3F&question=Mimi"_s);

        ProfileEditForm edit{u"42"_s, {}, u"a@b.c"_s, u"10"_s, {}, Sex::Male};
        QCOMPARE(ProfileEditBody(edit), u"action=edit&userid=42&userpass=&email=a%40b%2Ec&sex=男&qq=%31%30&anwser="_s);
    }
};

QTEST_GUILESS_MAIN(AccountFormsTest)
#include "tst_account_forms.moc"
