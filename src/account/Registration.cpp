#include "account/Registration.h"

#include "account/FormEncoding.h"

namespace {

AccountMessage FormError(const QString &text)
{
    return AccountMessage{text, QStringLiteral("填写有误"), Prompter::Icon::Critical};
}

QString BadEmailText()
{
    return QStringLiteral("你输入的Email地址不合法，请重新输入！");
}

} // namespace

QString SexText(Sex sex)
{
    switch (sex) {
    case Sex::Male:
        return QStringLiteral("男");
    case Sex::Female:
        return QStringLiteral("女");
    case Sex::Undisclosed:
        break;
    }
    return QStringLiteral("保密");
}

Sex SexFromText(const QString &text)
{
    if (text == QStringLiteral("男"))
        return Sex::Male;
    if (text == QStringLiteral("女"))
        return Sex::Female;
    return Sex::Undisclosed;
}

const QStringList &RegistrationQuestions()
{
    static const QStringList questions{QStringLiteral("你初中是在哪个学校读的?"),
                                       QStringLiteral("你最敬佩老师叫什么名字?"),
                                       QStringLiteral("你喜欢的他（她）的生日是多久?"),
                                       QStringLiteral("你的宠物叫什么?"), QStringLiteral("你最喜欢的明星是谁?")};
    return questions;
}

std::optional<RegistrationProblem> ValidateRegistration(const RegistrationForm &form)
{
    const QString name = form.userName.trimmed();
    const QString password = form.password.trimmed();

    if (!IsPlausibleEmail(form.email.trimmed()))
        return RegistrationProblem{FormError(BadEmailText()), RegistrationField::Email, false};
    // The two name messages really differ in the range they quote; the 3-to-14 limit is the one enforced.
    if (name.size() < 3 || name.size() > 14)
        return RegistrationProblem{
            FormError(QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！")),
            RegistrationField::UserName, false};
    if (!IsValidUserNameChars(name))
        return RegistrationProblem{
            FormError(QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意2至10位组合！")),
            RegistrationField::UserName, false};
    if (password.size() < 3)
        return RegistrationProblem{FormError(QStringLiteral("你输入的密码长度太短（至少3位），请重新输入！")),
                                   RegistrationField::Password, true};
    if (password != form.repeatPassword.trimmed())
        return RegistrationProblem{FormError(QStringLiteral("你两次输入密码有误，请重新输入！")),
                                   RegistrationField::Password, true};
    return std::nullopt;
}

QString RegistrationBody(const RegistrationForm &form)
{
    return QStringLiteral("action=reg&username=") + EncodeFormValue(form.userName.trimmed()) +
           QStringLiteral("&userpass=") + EncodeFormValue(form.password.trimmed()) + QStringLiteral("&email=") +
           EncodeFormValue(form.email.trimmed()) + QStringLiteral("&sex=") + EncodeFormValue(SexText(form.sex)) +
           QStringLiteral("&qq=") + EncodeFormValue(form.qq.trimmed()) + QStringLiteral("&anwser=") +
           EncodeFormValue(form.question) + QStringLiteral("&question=") + EncodeFormValue(form.answer.trimmed());
}

std::optional<AccountMessage> ValidateProfileEdit(const ProfileEditForm &form)
{
    if (!IsPlausibleEmail(form.email.trimmed()))
        return FormError(BadEmailText());
    return std::nullopt;
}

QString ProfileEditBody(const ProfileEditForm &form)
{
    return QStringLiteral("action=edit&userid=") + form.userId.trimmed() + QStringLiteral("&userpass=") +
           EncodeFormValue(form.newPassword.trimmed()) + QStringLiteral("&email=") +
           EncodeFormValue(form.email.trimmed()) + QStringLiteral("&sex=") + SexText(form.sex) +
           QStringLiteral("&qq=") + EncodeFormValue(form.qq.trimmed()) + QStringLiteral("&anwser=") +
           EncodeFormValue(form.answer.trimmed());
}
