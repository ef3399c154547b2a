#pragma once

#include "account/Registration.h"

#include <QWidget>

struct AccountProfile;
class Prompter;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// The user centre's "用户信息" panel: the account's figures and the personal promotion address,
// which "复制" puts on the clipboard.
class UserInfoPanel : public QWidget
{
    Q_OBJECT
public:
    explicit UserInfoPanel(Prompter &prompter, QWidget *parent = nullptr);

    void showProfile(const AccountProfile &profile);

    QLabel *userNameLabel() const { return m_userName; }
    QLabel *lastLoginLabel() const { return m_lastLogin; }
    QLabel *loginCountLabel() const { return m_loginCount; }
    QLabel *pointLabel() const { return m_points; }
    QLabel *goldLabel() const { return m_gold; }
    QPlainTextEdit *promotionBox() const { return m_promotion; }
    QPushButton *copyButton() const { return m_copy; }

private:
    void copyPromotion();

    Prompter &m_prompter;
    QLabel *m_userName = nullptr;
    QLabel *m_lastLogin = nullptr;
    QLabel *m_loginCount = nullptr;
    QLabel *m_points = nullptr;
    QLabel *m_gold = nullptr;
    QPlainTextEdit *m_promotion = nullptr;
    QPushButton *m_copy = nullptr;
};

// The user centre's "修改资料" panel: the editable part of the profile. "确认修改" only signals;
// the user centre checks the form and sends it with its account request.
class ProfileEditPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ProfileEditPanel(QWidget *parent = nullptr);

    void showProfile(const AccountProfile &profile);
    // The boxes as typed; the user id is left for the sender to fill.
    ProfileEditForm form() const;

    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *newPasswordBox() const { return m_newPassword; }
    QLineEdit *emailBox() const { return m_email; }
    QLineEdit *qqBox() const { return m_qq; }
    QRadioButton *maleOption() const { return m_male; }
    QRadioButton *femaleOption() const { return m_female; }
    QRadioButton *undisclosedOption() const { return m_undisclosed; }
    QLabel *questionLabel() const { return m_question; }
    QLineEdit *answerBox() const { return m_answer; }
    QPushButton *saveButton() const { return m_save; }

Q_SIGNALS:
    void saveClicked();

private:
    QLineEdit *m_name = nullptr;
    QLineEdit *m_newPassword = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_qq = nullptr;
    QRadioButton *m_male = nullptr;
    QRadioButton *m_female = nullptr;
    QRadioButton *m_undisclosed = nullptr;
    QLabel *m_question = nullptr;
    QLineEdit *m_answer = nullptr;
    QPushButton *m_save = nullptr;
};
