#pragma once

#include "account/AccountReply.h"
#include "platform/Prompter.h"

#include <optional>

// A message box to show: text, title and icon.
struct AccountMessage
{
    QString text;
    QString title;
    Prompter::Icon icon = Prompter::Icon::None;

    bool operator==(const AccountMessage &) const = default;
};

// What an account window does with a complete HTTP-200 answer. The windows only carry it out,
// in this order: message, profile, then opening and closing windows.
struct AccountOutcome
{
    std::optional<AccountMessage> message;
    bool fillProfile = false;    // user centre: take reply.profile as its AccountProfile
    bool showUserInfo = false;   // select "用户信息" and run its click (a new check) in the user centre
    bool openUserCentre = false; // login window: open the user centre, then showUserInfo there
    bool openLogin = false;
    bool closeWindow = false;   // the window that received the answer
    bool releaseRequest = true; // false while a newly started check must keep its slot

    bool operator==(const AccountOutcome &) const = default;
};

// Login ("确认登录"): empty name or password after trimming gives the refusal to show.
std::optional<AccountMessage> ValidateLogin(const QString &name, const QString &password);

// An invalid reply gives the empty outcome: the window re-enables itself and shows nothing but
// the reply's notice, when it has one.
AccountOutcome LoginWindowOutcome(const AccountReply &reply);
AccountOutcome UserCentreOutcome(const AccountReply &reply);
AccountOutcome RegistrationOutcome(const AccountReply &reply);
