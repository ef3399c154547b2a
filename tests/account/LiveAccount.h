#pragma once

#include "account/AccountReply.h"
#include "account/AccountWindows.h"
#include "account/FormEncoding.h"
#include "account/LoginWindow.h"
#include "account/UserCentre.h"
#include "net/RequestSlot.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The account steps the suites against a live folioway-server share: a reader signed up and
// logged in without a window, as the program's quiet requests do, or through the login window,
// as the user does. Every reader's password is "secret1" unless said otherwise.
namespace LiveAccount {

constexpr int kWait = 20000;

// The account answer to the request the spy waits for (code "1" is a yes); empty when none comes.
inline AccountReply answer(QSignalSpy &done)
{
    return done.wait(kWait) ? DecodeAccountReply(done.last()[0].value<HttpResult>().body) : AccountReply{};
}

inline bool signUp(const QString &server, const QString &name)
{
    RequestSlot slot;
    QSignalSpy done(&slot, &RequestSlot::finished);
    slot.postForm(AccountEndpoint(server), "action=reg&username=" + name.toLatin1() + "&userpass=secret1&email=r%40x%2Ecn");
    return answer(done).code == u"1";
}

// Through manager (the program's own when null), whose cookies then hold the login.
inline bool logIn(const QString &server, const QString &name, QNetworkAccessManager *manager = nullptr)
{
    RequestSlot slot(nullptr, manager);
    QSignalSpy done(&slot, &RequestSlot::finished);
    slot.loginHTTP(LoginUrl(server, name, QStringLiteral("secret1"), false));
    return answer(done).code == u"1";
}

// Fills the login window and presses its button; whatever the server says is left to the caller.
inline void submitLogin(AccountWindows &windows, const QString &name, const QString &password = QStringLiteral("secret1"),
                        bool remember = true)
{
    LoginWindow *window = windows.showLogin();
    window->nameBox()->setText(name);
    window->passwordBox()->setText(password);
    window->rememberBox()->setChecked(remember);
    QTest::mouseClick(window->loginButton(), Qt::LeftButton);
}

// A login through the window that succeeds: the user centre, open on "用户信息" with the
// account's profile, or null.
inline UserCentre *logInThroughWindow(AccountWindows &windows, const QString &name,
                                      const QString &password = QStringLiteral("secret1"), bool remember = true)
{
    submitLogin(windows, name, password, remember);
    if (!QTest::qWaitFor([&] { return windows.userCentre() && windows.userCentre()->profile().uname == name; }, kWait))
        return nullptr;
    return windows.userCentre();
}

} // namespace LiveAccount
