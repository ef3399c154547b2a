#pragma once

#include <QWidget>

class Prompter;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct AccountReply;
class RequestSlot;
class ClickLabel;
struct HttpResult;

// "用户登录": sends the login and reacts to its answer. It keeps no login state of its own;
// the server's cookie in the shared jar is the login.
class LoginWindow : public QWidget
{
    Q_OBJECT
public:
    LoginWindow(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent = nullptr);

    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *passwordBox() const { return m_password; }
    QCheckBox *rememberBox() const { return m_remember; }
    QPushButton *loginButton() const { return m_loginButton; }
    ClickLabel *registerLink() const { return m_registerLink; }
    RequestSlot *requestSlot() const { return m_slot; }

Q_SIGNALS:
    // The owner opens the registration window; this window closes itself right after.
    void registrationRequested();
    // Code "1": the owner shows the user centre on "用户信息"; this window closes itself after.
    void loggedIn();

private:
    void login();
    void onAnswer(bool answered, const AccountReply &reply);

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    QLineEdit *m_name;
    QLineEdit *m_password;
    QCheckBox *m_remember;
    QPushButton *m_loginButton;
    ClickLabel *m_registerLink;
    RequestSlot *m_slot;
};
