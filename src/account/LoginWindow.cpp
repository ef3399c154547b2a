#include "account/LoginWindow.h"

#include "account/AccountOutcome.h"
#include "account/AccountReply.h"
#include "account/AccountWidgets.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "net/WebAddress.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

LoginWindow::LoginWindow(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter)
{
    setObjectName(QStringLiteral("LoginForm"));
    setWindowTitle(QStringLiteral("用户登录 - Folioway"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("UserName"));
    m_name->setMaxLength(14);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("UserPass"));
    m_password->setMaxLength(18);
    MaskWithAsterisks(m_password);
    m_remember = new QCheckBox(QStringLiteral("记住登录"), this);
    m_remember->setChecked(true);
    m_loginButton = new QPushButton(QStringLiteral("确认登录"), this);
    m_loginButton->setDefault(true);
    m_registerLink = new ClickLabel(QStringLiteral("点此免费注册"), this);
    auto *forgotten = new QLabel(QStringLiteral("忘记密码？"), this);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(24, 20, 24, 16);
    grid->setHorizontalSpacing(8);
    grid->addWidget(new QLabel(QStringLiteral("用户名："), this), 0, 0, Qt::AlignRight);
    grid->addWidget(m_name, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("用户密码："), this), 1, 0, Qt::AlignRight);
    grid->addWidget(m_password, 1, 1, 1, 2);
    grid->addWidget(m_remember, 2, 1);
    grid->addWidget(forgotten, 2, 2, Qt::AlignRight);
    auto *row = new QHBoxLayout;
    row->addWidget(m_registerLink);
    row->addStretch();
    row->addWidget(m_loginButton);
    grid->addLayout(row, 3, 0, 1, 3);
    resize(320, 170);

    m_slot = new RequestSlot(this);
    auto *answers = new AnswerReader(this); // reads the answer off the window's thread
    connect(m_slot, &RequestSlot::finished, answers, [this, answers](const HttpResult &result) {
        answers->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                      [this, ok = result.isOk()](const AccountReply &reply) { onAnswer(ok, reply); });
    });
    connect(m_loginButton, &QPushButton::clicked, this, &LoginWindow::login);
    connect(m_password, &QLineEdit::returnPressed, this, &LoginWindow::login);
    connect(m_registerLink, &ClickLabel::clicked, this, [this] {
        Q_EMIT registrationRequested();
        close();
    });
    CentreOnScreen(this);
}

void LoginWindow::login()
{
    if (!m_loginButton->isEnabled())
        return;
    const QString name = m_name->text().trimmed();
    const QString password = m_password->text().trimmed();
    if (const auto refusal = ValidateLogin(name, password)) {
        ShowAccountMessage(m_prompter, *refusal);
        return;
    }
    m_loginButton->setEnabled(false);
    // The values are percent-encoded so that "&", "#" or "%" in a password cannot change the query.
    m_slot->loginHTTP(
        LoginUrl(m_serverBaseUrl, EncodeQueryValue(name), EncodeQueryValue(password), m_remember->isChecked()));
}

void LoginWindow::onAnswer(bool answered, const AccountReply &reply)
{
    m_loginButton->setEnabled(true);
    if (!answered)
        return;
    const AccountOutcome outcome = LoginWindowOutcome(reply);
    if (outcome.message)
        ShowAccountMessage(m_prompter, *outcome.message);
    if (outcome.openUserCentre)
        Q_EMIT loggedIn();
    if (outcome.closeWindow)
        close();
}
