#pragma once

#include <QWidget>

class Prompter;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
struct AccountReply;
class RequestSlot;
struct HttpResult;
struct RegistrationForm;

// "用户注册": checks the input, posts "reg" and hands over to the login window on success.
class RegistrationWindow : public QWidget
{
    Q_OBJECT
public:
    RegistrationWindow(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent = nullptr);

    RegistrationForm form() const;

    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *passwordBox() const { return m_password; }
    QLineEdit *repeatBox() const { return m_repeat; }
    QLineEdit *emailBox() const { return m_email; }
    QRadioButton *maleOption() const { return m_male; }
    QRadioButton *femaleOption() const { return m_female; }
    QLineEdit *qqBox() const { return m_qq; }
    QComboBox *questionList() const { return m_question; }
    QLineEdit *answerBox() const { return m_answer; }
    QPushButton *submitButton() const { return m_submit; }
    QPushButton *backButton() const { return m_back; }
    QLabel *loadingPanel() const { return m_loading; }
    RequestSlot *requestSlot() const { return m_slot; }

Q_SIGNALS:
    // Account made: the owner shows the login window; this window closes itself after.
    void loginRequested();

private:
    void submit();
    void onAnswer(bool answered, const AccountReply &reply);

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    QLineEdit *m_name;
    QLineEdit *m_password;
    QLineEdit *m_repeat;
    QLineEdit *m_email;
    QRadioButton *m_male;
    QRadioButton *m_female;
    QLineEdit *m_qq;
    QComboBox *m_question;
    QLineEdit *m_answer;
    QPushButton *m_submit;
    QPushButton *m_back;
    QLabel *m_loading;
    RequestSlot *m_slot;
};
