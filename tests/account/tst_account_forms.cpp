#include "account/FormEncoding.h"
#include "account/Registration.h"

#include <QtTest>

class AccountFormsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeFormValue_data();
    void encodeFormValue();
    void email_data();
    void email();
    void userNameChars_data();
    void userNameChars();
    void registrationChecks_data();
    void registrationChecks();
    void registrationBody_swapsQuestionAndAnswerKeys();
    void profileEditBody_leavesIdAndSexUnencoded();
};

void AccountFormsTest::encodeFormValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("letters kept") << "abcXYZ" << "abcXYZ";
    QTest::newRow("digit and underscore") << "a1_" << "a%31%5F";
    QTest::newRow("blank and at") << " @" << "%20%40";
    QTest::newRow("control chars lose leading zero") << QStringLiteral("\t\n") << "%9%A";
    QTest::newRow("nul") << QString(QChar(0)) << "%0";
    QTest::newRow("chinese two bytes") << QStringLiteral("王") << "%CD%F5";
    QTest::newRow("mixed") << QStringLiteral("保密") << "%B1%A3%C3%DC";
    QTest::newRow("full-width bar") << QStringLiteral("｜") << "%A3%FC";
    QTest::newRow("plus and percent") << "+%" << "%2B%25";
    QTest::newRow("accented letter is not kept") << QStringLiteral("é") << "%A8%A6";
    QTest::newRow("four-byte character") << QStringLiteral("😀") << "%94%39%FC%36";
    QTest::newRow("empty") << "" << "";
}

void AccountFormsTest::encodeFormValue()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(EncodeFormValue(text), encoded);
}

void AccountFormsTest::email_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plausible");
    QTest::newRow("at second, dot fourth, letter last") << "a@b.c" << true;
    QTest::newRow("ordinary") << "reader@example.com" << true;
    QTest::newRow("starts with at") << "@bc.de" << false;
    QTest::newRow("no dot") << "abc@de" << false;
    QTest::newRow("ends with dot") << "ab@cd." << false;
    QTest::newRow("dot third, at later") << "ab.c@d" << true;
    QTest::newRow("only dot is second") << "a.@bcd" << false;
    QTest::newRow("dot second and later one") << "a.b@c.d" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no at") << "abc.def" << false;
}

void AccountFormsTest::email()
{
    QFETCH(QString, text);
    QFETCH(bool, plausible);
    QCOMPARE(IsPlausibleEmail(text), plausible);
}

void AccountFormsTest::userNameChars_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("chinese, underscore, digits") << QStringLiteral("张三_01") << true;
    QTest::newRow("hyphen") << "ab-cd" << false;
    QTest::newRow("blank") << "ab cd" << false;
    QTest::newRow("full-width comma is double-byte") << QStringLiteral("ab，") << true;
    QTest::newRow("emoji is four-byte") << QStringLiteral("ab😀") << false;
    QTest::newRow("accented letter is double-byte") << QStringLiteral("café") << true;
    QTest::newRow("euro sign is double-byte") << QStringLiteral("ab€") << true;
    QTest::newRow("four-byte latin letter") << QStringLiteral("abÿ") << false;
}

void AccountFormsTest::userNameChars()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidUserNameChars(text), valid);
}

void AccountFormsTest::registrationChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("message"); // empty: no problem
    QTest::addColumn<int>("focus");
    QTest::addColumn<bool>("clearPasswords");

    const QString badEmail = QStringLiteral("你输入的Email地址不合法，请重新输入！");
    const QString length = QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！");
    const QString chars = QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意2至10位组合！");
    const QString shortPw = QStringLiteral("你输入的密码长度太短（至少3位），请重新输入！");
    const QString mismatch = QStringLiteral("你两次输入密码有误，请重新输入！");
    const int name = int(RegistrationField::UserName);
    const int pw = int(RegistrationField::Password);
    const int mail = int(RegistrationField::Email);

    QTest::newRow("all fine") << "reader" << "123" << "123" << "a@b.c" << QString() << 0 << false;
    QTest::newRow("e-mail checked before everything")
        << "a-" << "1" << "2" << "bad" << badEmail << mail << false;
    QTest::newRow("two characters") << "ab" << "123" << "123" << "a@b.c" << length << name << false;
    QTest::newRow("spaces trimmed before length")
        << "  ab  " << "123" << "123" << "a@b.c" << length << name << false;
    QTest::newRow("fourteen characters") << "abcdefghijklmn" << "123" << "123" << "a@b.c" << QString() << 0 << false;
    QTest::newRow("fifteen characters") << "abcdefghijklmno" << "123" << "123" << "a@b.c" << length << name << false;
    QTest::newRow("length before characters") << "a-" << "123" << "123" << "a@b.c" << length << name << false;
    QTest::newRow("hyphen") << "ab-cd" << "123" << "123" << "a@b.c" << chars << name << false;
    QTest::newRow("short password") << "reader" << "12" << "12" << "a@b.c" << shortPw << pw << true;
    QTest::newRow("spaces-only password") << "reader" << "     " << "     " << "a@b.c" << shortPw << pw << true;
    QTest::newRow("mismatch") << "reader" << "123" << "124" << "a@b.c" << mismatch << pw << true;
    QTest::newRow("surrounding spaces ignored in comparison")
        << "reader" << " 123" << "123 " << "a@b.c" << QString() << 0 << false;
}

void AccountFormsTest::registrationChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, repeat);
    QFETCH(QString, email);
    QFETCH(QString, message);
    QFETCH(int, focus);
    QFETCH(bool, clearPasswords);

    RegistrationForm form;
    form.userName = name;
    form.password = password;
    form.repeatPassword = repeat;
    form.email = email;
    const auto problem = ValidateRegistration(form);
    if (message.isEmpty()) {
        QVERIFY(!problem);
        return;
    }
    QVERIFY(problem);
    QCOMPARE(problem->message.text, message);
    QCOMPARE(problem->message.title, QStringLiteral("填写有误"));
    QCOMPARE(problem->message.icon, Prompter::Icon::Critical);
    QCOMPARE(int(problem->focus), focus);
    QCOMPARE(problem->clearPasswords, clearPasswords);
}

void AccountFormsTest::registrationBody_swapsQuestionAndAnswerKeys()
{
    RegistrationForm form;
    form.userName = QStringLiteral(" 王a ");
    form.password = QStringLiteral("p1");
    form.email = QStringLiteral("a@b.c");
    form.qq = QString();
    form.question = RegistrationQuestions().at(3);
    form.answer = QStringLiteral(" Mimi ");
    QCOMPARE(RegistrationBody(form),
             QStringLiteral("action=reg&username=%CD%F5a&userpass=p%31&email=a%40b%2Ec&sex=%B1%A3%C3%DC&qq="
                            "&anwser=") +
                 EncodeFormValue(QStringLiteral("你的宠物叫什么?")) + QStringLiteral("&question=Mimi"));

    form.sex = Sex::Female;
    QVERIFY(RegistrationBody(form).contains(QStringLiteral("&sex=%C5%AE&")));
}

void AccountFormsTest::profileEditBody_leavesIdAndSexUnencoded()
{
    ProfileEditForm form;
    form.userId = QStringLiteral("42");
    form.email = QStringLiteral("a@b.c");
    form.qq = QStringLiteral("10");
    form.sex = Sex::Male;
    QCOMPARE(ProfileEditBody(form),
             QStringLiteral("action=edit&userid=42&userpass=&email=a%40b%2Ec&sex=男&qq=%31%30&anwser="));

    form.email = QStringLiteral("@b.c");
    const auto problem = ValidateProfileEdit(form);
    QVERIFY(problem);
    QCOMPARE(problem->text, QStringLiteral("你输入的Email地址不合法，请重新输入！"));
    QCOMPARE(problem->title, QStringLiteral("填写有误"));
}

QTEST_GUILESS_MAIN(AccountFormsTest)
#include "tst_account_forms.moc"
