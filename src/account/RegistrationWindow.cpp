#include "account/RegistrationWindow.h"

#include "account/AccountReply.h"
#include "account/AccountWidgets.h"
#include "net/AnswerReader.h"
#include "account/FormEncoding.h"
#include "account/Registration.h"
#include "net/RequestSlot.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QLabel *Note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(pal);
    return label;
}

QLineEdit *Box(int maxLength, QWidget *parent)
{
    auto *box = new QLineEdit(parent);
    box->setMaxLength(maxLength);
    return box;
}

} // namespace

RegistrationWindow::RegistrationWindow(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter)
{
    setObjectName(QStringLiteral("RegForm"));
    setWindowTitle(QStringLiteral("用户注册 - Folioway"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_name = Box(14, this);
    m_password = Box(18, this);
    MaskWithAsterisks(m_password);
    m_repeat = Box(18, this);
    MaskWithAsterisks(m_repeat);
    m_email = Box(30, this);
    m_male = new QRadioButton(QStringLiteral("男"), this);
    m_female = new QRadioButton(QStringLiteral("女"), this);
    // Neither option is chosen at first; that registers the sex as undisclosed.
    auto *sexGroup = new QButtonGroup(this);
    sexGroup->addButton(m_male);
    sexGroup->addButton(m_female);
    m_qq = Box(10, this);
    m_question = new QComboBox(this);
    m_question->addItems(RegistrationQuestions());
    m_answer = Box(15, this);
    m_submit = new QPushButton(QStringLiteral("提交注册"), this);
    m_back = new QPushButton(QStringLiteral("返回"), this);

    const QString required = QStringLiteral("（必填项）");
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(20, 16, 20, 16);
    int row = 0;
    auto addRow = [&](const QString &caption, QWidget *field, const QString &note) {
        grid->addWidget(new QLabel(caption, this), row, 0, Qt::AlignRight);
        grid->addWidget(field, row, 1);
        grid->addWidget(Note(note, this), row, 2);
        ++row;
    };
    addRow(QStringLiteral("登录账号："), m_name,
           required + QStringLiteral("用户名由3到14位的中文字符、英文字母、数字组成"));
    addRow(QStringLiteral("密 码："), m_password, required + QStringLiteral("为了安全，请把密码设置得复杂一点"));
    addRow(QStringLiteral("重复密码："), m_repeat, required + QStringLiteral("确认上面输入的密码"));
    addRow(QStringLiteral("电子邮箱："), m_email,
           required + QStringLiteral("请准确填入您的邮箱. 在忘记密码, 可将密码发送到此邮箱"));
    auto *sexRow = new QWidget(this);
    auto *sexLayout = new QHBoxLayout(sexRow);
    sexLayout->setContentsMargins(0, 0, 0, 0);
    sexLayout->addWidget(m_male);
    sexLayout->addWidget(m_female);
    sexLayout->addStretch();
    addRow(QStringLiteral("性 别："), sexRow, QString());
    addRow(QStringLiteral("Q Q："), m_qq, QStringLiteral("（选填项）"));
    addRow(QStringLiteral("密码问题："), m_question, QStringLiteral("忘记密码的提示问题，用于忘记密码时方便取回密码!"));
    addRow(QStringLiteral("密码答案："), m_answer, QStringLiteral("在此输入上面问题的答案"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_submit);
    buttons->addWidget(m_back);
    buttons->addStretch();
    grid->addLayout(buttons, row, 0, 1, 3);

    m_loading = new QLabel(QStringLiteral("正在提交注册，请稍候..."), this);
    m_loading->setObjectName(QStringLiteral("LoadingDiv"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_loading->setAutoFillBackground(true);
    m_loading->setFrameShape(QFrame::Box);
    m_loading->resize(220, 40);
    m_loading->hide();

    resize(640, 360);
    m_loading->move((width() - m_loading->width()) / 2, (height() - m_loading->height()) / 2);

    m_slot = new RequestSlot(this);
    auto *answers = new AnswerReader(this); // reads the answer off the window's thread
    connect(m_slot, &RequestSlot::finished, answers, [this, answers](const HttpResult &result) {
        answers->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                      [this, ok = result.isOk()](const AccountReply &reply) { onAnswer(ok, reply); });
    });
    connect(m_submit, &QPushButton::clicked, this, &RegistrationWindow::submit);
    connect(m_back, &QPushButton::clicked, this, &QWidget::close);
    CentreOnScreen(this);
}

RegistrationForm RegistrationWindow::form() const
{
    RegistrationForm form;
    form.userName = m_name->text();
    form.password = m_password->text();
    form.repeatPassword = m_repeat->text();
    form.email = m_email->text();
    form.sex = m_male->isChecked() ? Sex::Male : m_female->isChecked() ? Sex::Female : Sex::Undisclosed;
    form.qq = m_qq->text();
    form.question = m_question->currentText();
    form.answer = m_answer->text();
    return form;
}

void RegistrationWindow::submit()
{
    const RegistrationForm input = form();
    if (const auto problem = ValidateRegistration(input)) {
        ShowAccountMessage(m_prompter, problem->message);
        if (problem->clearPasswords) {
            m_password->clear();
            m_repeat->clear();
        }
        QLineEdit *focus = problem->focus == RegistrationField::Email      ? m_email
                           : problem->focus == RegistrationField::Password ? m_password
                                                                           : m_name;
        focus->setFocus();
        return;
    }
    m_submit->setEnabled(false);
    m_slot->postForm(AccountEndpoint(m_serverBaseUrl), ToGb18030(RegistrationBody(input)));
    m_loading->raise();
    m_loading->show();
}

void RegistrationWindow::onAnswer(bool answered, const AccountReply &reply)
{
    m_submit->setEnabled(true);
    m_loading->hide();
    if (!answered)
        return;
    const AccountOutcome outcome = RegistrationOutcome(reply);
    if (outcome.message)
        ShowAccountMessage(m_prompter, *outcome.message);
    if (outcome.openLogin)
        Q_EMIT loginRequested();
    if (outcome.closeWindow)
        close();
}
