#pragma once

#include "account/AccountReply.h"
#include "catalogue/CatalogueProtocol.h"

#include <QWidget>

#include <array>

class ClickLabel;
class Prompter;
class QLabel;
struct PageStep;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class RequestSlot;
class UploadPanel;
struct HttpResult;

// "用户中心": a navigation tree on the left choosing one of four panels on the right. It holds
// the client's only copy of the profile (AccountProfile), filled by each accepted check, and
// three independent requests: the account request (check, logout, profile edit share one
// slot), the uploaded-books list, and the upload of its upload panel.
class UserCentre : public QWidget
{
    Q_OBJECT
public:
    // Node indexes, from 1 in the order the tree is built.
    enum Node
    {
        ControlPanelNode = 1,
        UserInfoNode = 2,
        EditProfileNode = 3,
        LogoutNode = 4,
        BookManagementNode = 5,
        MyBooksNode = 6,
        UploadNode = 7,
        NodeCount = 7
    };

    UserCentre(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent = nullptr);

    // The opening check every new user centre sends before anything else.
    void sendCheck();
    // Selects a node and runs its click handling (its panel and its request).
    void selectNode(int index);
    int selectedNode() const { return m_selected; }

    const AccountProfile &profile() const { return m_profile; }
    const CataloguePaging &paging() const { return m_paging; }

    QTreeWidget *tree() const { return m_tree; }
    QTreeWidgetItem *node(int index) const { return m_nodes[index]; }
    // Panels exist for the user information, profile edit, my-books and upload nodes only.
    QWidget *panel(int index) const { return m_panels[index]; }
    UploadPanel *uploadPanel() const { return m_upload; }
    QLabel *loadingPanel() const { return m_loading; }
    RequestSlot *accountSlot() const { return m_accountSlot; }
    RequestSlot *listSlot() const { return m_listSlot; }

    // User information panel.
    QLabel *userNameLabel() const { return m_userName; }
    QLabel *lastLoginLabel() const { return m_lastLogin; }
    QLabel *loginCountLabel() const { return m_loginCount; }
    QLabel *pointLabel() const { return m_points; }
    QLabel *goldLabel() const { return m_gold; }
    QPlainTextEdit *promotionBox() const { return m_promotion; }
    QPushButton *copyButton() const { return m_copy; }

    // Profile edit panel.
    QLineEdit *editNameBox() const { return m_editName; }
    QLineEdit *newPasswordBox() const { return m_newPassword; }
    QLineEdit *emailBox() const { return m_email; }
    QLineEdit *qqBox() const { return m_qq; }
    QRadioButton *maleOption() const { return m_male; }
    QRadioButton *femaleOption() const { return m_female; }
    QRadioButton *undisclosedOption() const { return m_undisclosed; }
    QLabel *questionLabel() const { return m_question; }
    QLineEdit *answerBox() const { return m_answer; }
    QPushButton *saveButton() const { return m_save; }

    // Uploaded-books panel.
    QTreeWidget *bookList() const { return m_books; }
    ClickLabel *firstPageLabel() const { return m_first; }
    ClickLabel *previousPageLabel() const { return m_previous; }
    ClickLabel *nextPageLabel() const { return m_next; }
    ClickLabel *lastPageLabel() const { return m_last; }
    QLabel *pageLabel() const { return m_pageLabel; }
    QLineEdit *pageBox() const { return m_pageBox; }
    QPushButton *goButton() const { return m_go; }

Q_SIGNALS:
    // A refused check or edit: the owner opens the login window; this window closes itself.
    void loginRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildTree();
    QWidget *buildUserInfoPanel();
    QWidget *buildEditPanel();
    QWidget *buildBooksPanel();
    void treeClicked(QTreeWidgetItem *item);
    void runNode(int index);
    void sendLogout();
    void sendProfileEdit();
    void copyPromotion();
    void requestBooks(const std::optional<QString> &page);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void goToPage();
    void followPageStep(const PageStep &step);
    void onAccountAnswer(bool answered, const AccountReply &reply);
    void onBooksAnswer(const UserBooksAnswer &answer);
    void showProfile();
    void updateLoading();
    void placePanels();

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    AccountProfile m_profile;
    CataloguePaging m_paging;
    int m_selected = 0;

    QTreeWidget *m_tree = nullptr;
    std::array<QTreeWidgetItem *, NodeCount + 1> m_nodes{};
    std::array<QWidget *, NodeCount + 1> m_panels{};
    UploadPanel *m_upload = nullptr;
    QLabel *m_loading = nullptr;
    RequestSlot *m_accountSlot = nullptr;
    RequestSlot *m_listSlot = nullptr;

    QLabel *m_userName = nullptr;
    QLabel *m_lastLogin = nullptr;
    QLabel *m_loginCount = nullptr;
    QLabel *m_points = nullptr;
    QLabel *m_gold = nullptr;
    QPlainTextEdit *m_promotion = nullptr;
    QPushButton *m_copy = nullptr;

    QLineEdit *m_editName = nullptr;
    QLineEdit *m_newPassword = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_qq = nullptr;
    QRadioButton *m_male = nullptr;
    QRadioButton *m_female = nullptr;
    QRadioButton *m_undisclosed = nullptr;
    QLabel *m_question = nullptr;
    QLineEdit *m_answer = nullptr;
    QPushButton *m_save = nullptr;

    QTreeWidget *m_books = nullptr;
    ClickLabel *m_first = nullptr;
    ClickLabel *m_previous = nullptr;
    ClickLabel *m_next = nullptr;
    ClickLabel *m_last = nullptr;
    QLabel *m_pageLabel = nullptr;
    QLineEdit *m_pageBox = nullptr;
    QPushButton *m_go = nullptr;
};
