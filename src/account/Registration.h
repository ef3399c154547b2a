#pragma once

#include "account/AccountOutcome.h"

#include <QStringList>

#include <optional>

enum class Sex
{
    Undisclosed,
    Male,
    Female
};

// "男", "女" or "保密".
QString SexText(Sex sex);
// The profile's sex text back to the option: anything but "男" or "女" is undisclosed.
Sex SexFromText(const QString &text);

// The password questions of the registration window, in their order.
const QStringList &RegistrationQuestions();

// The registration window's input, texts as typed (the rules trim them).
struct RegistrationForm
{
    QString userName;
    QString password;
    QString repeatPassword;
    QString email;
    Sex sex = Sex::Undisclosed;
    QString qq;
    QString question; // sent as chosen, untrimmed
    QString answer;
};

enum class RegistrationField
{
    UserName,
    Password,
    Email
};

struct RegistrationProblem
{
    AccountMessage message;
    RegistrationField focus = RegistrationField::UserName;
    bool clearPasswords = false; // empty both password boxes
};

// "提交注册": the first failing check, or nothing when the form may be sent.
std::optional<RegistrationProblem> ValidateRegistration(const RegistrationForm &form);

// The "reg" form body. The server's keys are swapped: "anwser" carries the question and
// "question" the answer.
QString RegistrationBody(const RegistrationForm &form);

// The user centre's profile edit ("确认修改").
struct ProfileEditForm
{
    QString userId; // AccountProfile::uid
    QString newPassword;
    QString email;
    QString qq;
    QString answer;
    Sex sex = Sex::Undisclosed;
};

std::optional<AccountMessage> ValidateProfileEdit(const ProfileEditForm &form);

// The "edit" body: user id and sex go unencoded, unlike in the registration body.
QString ProfileEditBody(const ProfileEditForm &form);
