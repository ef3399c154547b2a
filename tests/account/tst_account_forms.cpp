#include "account/FormEncoding.h"
#include "account/Registration.h"

#include <QtTest>

class AccountFormsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeFormValue_data();
    void encodeFormValue();
    void textRules_data();
    void textRules();
    void registrationChecks_data();
    void registrationChecks();
    void bodies();
};

void AccountFormsTest::encodeFormValue_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("letters kept") << "abcXYZ" << "abcXYZ";
    QTest::newRow("digit and underscore") << "a1_" << "a%31%5F";
    QTest::newRow("no leading zeros") << QStringLiteral("\t\n ") << "%9%A%20";
    QTest::newRow("chinese") << QStringLiteral("王") << "%CD%F5";
    QTest::newRow("accented letter not kept") << QStringLiteral("é") << "%A8%A6";
    QTest::newRow("four-byte character") << QStringLiteral("😀") << "%94%39%FC%36";
    // clang-format on
}

void AccountFormsTest::encodeFormValue()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(EncodeFormValue(text), encoded);
}

void AccountFormsTest::textRules_data()
{
    // clang-format off
    QTest::addColumn<bool>("isEmail"); // false: the user-name character rule
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passes");
    QTest::newRow("mail: @ 2nd, . 4th") << true << "a@b.c" << true;
    QTest::newRow("mail: starts with @") << true << "@bc.de" << false;
    QTest::newRow("mail: no dot") << true << "abc@de" << false;
    QTest::newRow("mail: ends with dot") << true << "ab@cd." << false;
    QTest::newRow("mail: dot 3rd before @") << true << "ab.c@d" << true;
    QTest::newRow("mail: only dot is 2nd") << true << "a.@bcd" << false;
    QTest::newRow("mail: later dot counts") << true << "a.b@c.d" << true;
    QTest::newRow("name: chinese, _, digits") << false << QStringLiteral("张三_01") << true;
    QTest::newRow("name: hyphen") << false << "ab-cd" << false;
    QTest::newRow("name: full-width comma") << false << QStringLiteral("ab，") << true;
    QTest::newRow("name: four-byte letter") << false << QStringLiteral("abÿ") << false;
    // clang-format on
}

void AccountFormsTest::textRules()
{
    QFETCH(bool, isEmail);
    QFETCH(QString, text);
    QFETCH(bool, passes);
    QCOMPARE(isEmail ? IsPlausibleEmail(text) : IsValidUserNameChars(text), passes);
}

void AccountFormsTest::registrationChecks_data()
{
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("message"); // empty: may be sent
    QTest::addColumn<int>("focus");

    const QString mail = QStringLiteral("你输入的Email地址不合法，请重新输入！");
    const QString length = QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！");
    const QString chars = QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意2至10位组合！");
    const QString shortPw = QStringLiteral("你输入的密码长度太短（至少3位），请重新输入！");
    const QString mismatch = QStringLiteral("你两次输入密码有误，请重新输入！");
    const int name = int(RegistrationField::UserName), pw = int(RegistrationField::Password);

    QTest::newRow("fine, spaces trimmed") << "abcdefghijklmn" << " 123" << "123 " << "a@b.c" << QString() << 0;
    QTest::newRow("e-mail first") << "a-" << "1" << "2" << "bad" << mail << int(RegistrationField::Email);
    QTest::newRow("two after trim") << "  ab  " << "123" << "123" << "a@b.c" << length << name;
    QTest::newRow("fifteen") << "abcdefghijklmno" << "123" << "123" << "a@b.c" << length << name;
    QTest::newRow("hyphen") << "ab-cd" << "123" << "123" << "a@b.c" << chars << name;
    QTest::newRow("password of blanks") << "reader" << "    " << "    " << "a@b.c" << shortPw << pw;
    QTest::newRow("mismatch") << "reader" << "123" << "124" << "a@b.c" << mismatch << pw;
    // clang-format on
}

void AccountFormsTest::registrationChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, repeat);
    QFETCH(QString, email);
    QFETCH(QString, message);
    QFETCH(int, focus);

    RegistrationForm form;
    form.userName = name;
    form.password = password;
    form.repeatPassword = repeat;
    form.email = email;
    const auto problem = ValidateRegistration(form);
    QCOMPARE(problem.has_value(), !message.isEmpty());
    if (!problem)
        return;
    QCOMPARE(problem->message.text, message);
    QCOMPARE(problem->message.title, QStringLiteral("填写有误"));
    QCOMPARE(int(problem->focus), focus);
    QCOMPARE(problem->clearPasswords, problem->focus == RegistrationField::Password);
}

void AccountFormsTest::bodies()
{
    RegistrationForm reg;
    reg.userName = QStringLiteral(" 王a ");
    reg.password = QStringLiteral("p1");
    reg.email = QStringLiteral("a@b.c");
    reg.question = QStringLiteral("Q?");
    reg.answer = QStringLiteral(" Mimi ");
    // The server's keys are swapped; neither sex chosen sends "保密", encoded.
    QCOMPARE(RegistrationBody(reg), QStringLiteral("action=reg&username=%CD%F5a&userpass=p%31&email=a%40b%2Ec"
                                                   "&sex=%B1%A3%C3%DC&qq=&anwser=Q%3F&question=Mimi"));

    ProfileEditForm edit{QStringLiteral("42"), {}, QStringLiteral("a@b.c"), QStringLiteral("10"), {}, Sex::Male};
    QCOMPARE(ProfileEditBody(edit),
             QStringLiteral("action=edit&userid=42&userpass=&email=a%40b%2Ec&sex=男&qq=%31%30&anwser="));
}

QTEST_GUILESS_MAIN(AccountFormsTest)
#include "tst_account_forms.moc"
