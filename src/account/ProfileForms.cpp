#include "account/ProfileForms.h"

#include "account/AccountReply.h"
#include "account/AccountWidgets.h"
#include "platform/Prompter.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel *Value(const QString &designText, QWidget *parent)
{
    auto *label = new QLabel(designText, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel *Grey(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(pal);
    return label;
}

} // namespace

UserInfoPanel::UserInfoPanel(Prompter &prompter, QWidget *parent) : QWidget(parent), m_prompter(prompter)
{
    setObjectName(QStringLiteral("UserFrame2"));

    m_userName = Value(QStringLiteral("$UserName"), this);
    m_lastLogin = Value(QStringLiteral("$LastLogin"), this);
    m_loginCount = Value(QStringLiteral("$LoginCount"), this);
    m_points = Value(QStringLiteral("$PointCount"), this);
    m_gold = Value(QStringLiteral("$GoldCount"), this);

    auto *figures = new QGridLayout;
    const std::pair<const char *, QLabel *> rows[] = {{"账号名称：", m_userName},
                                                      {"上次登录时间：", m_lastLogin},
                                                      {"累计登录：", m_loginCount},
                                                      {"累计积分：", m_points},
                                                      {"金币余额：", m_gold}};
    int row = 0;
    for (const auto &[caption, value] : rows) {
        figures->addWidget(new QLabel(QString::fromUtf8(caption), this), row, 0, Qt::AlignRight);
        figures->addWidget(value, row++, 1);
    }
    figures->setColumnStretch(1, 1);

    auto *pointsBox = new QGroupBox(QStringLiteral("积分获取："), this);
    auto *pointsLayout = new QVBoxLayout(pointsBox);
    pointsLayout->addWidget(new QLabel(QStringLiteral("每日登录即可获取10积分!"), pointsBox));

    auto *goldBox = new QGroupBox(QStringLiteral("获取金币"), this);
    m_promotion = new QPlainTextEdit(goldBox);
    m_promotion->setReadOnly(true);
    m_promotion->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_promotion->setMaximumHeight(80);
    m_copy = new QPushButton(QStringLiteral("复制"), goldBox);
    auto *goldLayout = new QGridLayout(goldBox);
    goldLayout->addWidget(new QLabel(QStringLiteral("个人推广地址："), goldBox), 0, 0, 1, 2);
    goldLayout->addWidget(m_promotion, 1, 0);
    goldLayout->addWidget(m_copy, 1, 1, Qt::AlignTop);
    auto *rules = new QLabel(QStringLiteral("将你的个人推广地址发送给他人，只要有人点击进入网页即得\n"
                                            "1金币\n"
                                            "24小时只统计1次\n"
                                            "注意：每台电脑                 重复点击无效！不要作弊哦！"),
                             goldBox);
    goldLayout->addWidget(rules, 2, 0, 1, 2);
    goldLayout->addWidget(new QLabel(QStringLiteral("快速赚金币技巧："), goldBox), 3, 0, 1, 2);
    auto *tips =
        new QLabel(QStringLiteral("1. 把推广地址发给QQ、MSN等聊天工具里的好友和群，或贴到开心网、人人网等社区；\n"
                                  "2. 发到小说论坛、书评页面、问答网站和自己的博客，或用邮件群发给朋友。"),
                   goldBox);
    tips->setWordWrap(true);
    goldLayout->addWidget(tips, 4, 0, 1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(figures);
    layout->addWidget(pointsBox);
    layout->addWidget(goldBox, 1);

    connect(m_copy, &QPushButton::clicked, this, &UserInfoPanel::copyPromotion);
}

void UserInfoPanel::showProfile(const AccountProfile &profile)
{
    m_userName->setText(profile.uname);
    m_lastLogin->setText(profile.lastdate);
    m_loginCount->setText(profile.userlogin);
    m_points->setText(profile.userpoint);
    m_gold->setText(profile.usermoney);
    m_promotion->setPlainText(profile.purl + QStringLiteral("\n\n") + profile.pinfo);
}

void UserInfoPanel::copyPromotion()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(m_promotion->toPlainText());
    }
    m_prompter.message(QStringLiteral("复制成功!你可以使用 Ctrl+V 粘贴发送给好友分享了！"), Prompter::Icon::None,
                       QStringLiteral("复制成功"));
}

ProfileEditPanel::ProfileEditPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("UserFrame3"));

    m_name = new QLineEdit(this);
    m_name->setReadOnly(true);
    m_name->setEnabled(false); // grey: the account name cannot change
    m_newPassword = new QLineEdit(this);
    m_newPassword->setMaxLength(18);
    MaskWithAsterisks(m_newPassword);
    m_email = new QLineEdit(this);
    m_email->setMaxLength(50);
    m_qq = new QLineEdit(this);
    m_qq->setMaxLength(10);
    m_male = new QRadioButton(QStringLiteral("男"), this);
    m_female = new QRadioButton(QStringLiteral("女"), this);
    m_undisclosed = new QRadioButton(QStringLiteral("保密"), this);
    m_undisclosed->setChecked(true);
    auto *sexGroup = new QButtonGroup(this);
    for (QRadioButton *option : {m_male, m_female, m_undisclosed})
        sexGroup->addButton(option);
    m_question = Value(QStringLiteral("$Question"), this);
    m_answer = new QLineEdit(this);
    m_answer->setMaxLength(50);
    m_save = new QPushButton(QStringLiteral("确认修改"), this);

    auto *sexRow = new QHBoxLayout;
    sexRow->addWidget(m_male);
    sexRow->addWidget(m_female);
    sexRow->addWidget(m_undisclosed);
    sexRow->addStretch();

    auto *grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const QString &caption, QWidget *field, const QString &note) {
        grid->addWidget(new QLabel(caption, this), row, 0, Qt::AlignRight);
        grid->addWidget(field, row, 1);
        if (!note.isEmpty())
            grid->addWidget(Grey(note, this), row, 2);
        ++row;
    };
    addRow(QStringLiteral("用户名："), m_name, QStringLiteral("不可修改"));
    addRow(QStringLiteral("新密码："), m_newPassword, QStringLiteral("不修改 请留空"));
    addRow(QStringLiteral("电子邮箱："), m_email, QString());
    addRow(QStringLiteral("Q Q："), m_qq, QString());
    grid->addWidget(new QLabel(QStringLiteral("性 别："), this), row, 0, Qt::AlignRight);
    grid->addLayout(sexRow, row++, 1);
    addRow(QStringLiteral("密码问题："), m_question, QString());
    addRow(QStringLiteral("密码答案："), m_answer, QStringLiteral("不修改 请留空"));
    grid->addWidget(m_save, row++, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();

    connect(m_save, &QPushButton::clicked, this, &ProfileEditPanel::saveClicked);
}

void ProfileEditPanel::showProfile(const AccountProfile &profile)
{
    m_name->setText(profile.uname);
    m_email->setText(profile.usermail);
    m_qq->setText(profile.qq);
    switch (SexFromText(profile.sex)) {
    case Sex::Male:
        m_male->setChecked(true);
        break;
    case Sex::Female:
        m_female->setChecked(true);
        break;
    case Sex::Undisclosed:
        m_undisclosed->setChecked(true);
        break;
    }
    m_question->setText(profile.question);
}

ProfileEditForm ProfileEditPanel::form() const
{
    ProfileEditForm form;
    form.newPassword = m_newPassword->text();
    form.email = m_email->text();
    form.qq = m_qq->text();
    form.answer = m_answer->text();
    form.sex = m_male->isChecked() ? Sex::Male : m_female->isChecked() ? Sex::Female : Sex::Undisclosed;
    return form;
}
