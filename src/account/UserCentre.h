#pragma once

#include "account/AccountReply.h"

#include <QWidget>

#include <array>

class Prompter;
class ProfileEditPanel;
class AccountSync;
class QLabel;
class RemoteBooksPanel;
class SyncStatusPanel;
class QTreeWidget;
class QTreeWidgetItem;
class RequestSlot;
class UploadPanel;
class UserBooksList;
class UserInfoPanel;

// "用户中心": a navigation tree on the left choosing one of the panels on the right. It holds
// the client's only copy of the profile (AccountProfile), filled by each accepted check, and
// three independent requests: the account request (check, logout, profile edit share one
// slot), the uploaded-books list's own, and the upload of its upload panel.
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
        NodeCount = 7,
        // Reading sync, after the account's own nodes.
        SyncNode = 8,
        SyncStatusNode = 9,
        RemoteBooksNode = 10,
        LastNode = 10
    };

    UserCentre(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent = nullptr);

    // The opening check every new user centre sends before anything else.
    void sendCheck();
    // Selects a node and runs its click handling (its panel and its request).
    void selectNode(int index);
    int selectedNode() const { return m_selected; }

    const AccountProfile &profile() const { return m_profile; }

    // Gives the sync nodes their panels; without it they show nothing.
    void attachSync(AccountSync &sync);
    SyncStatusPanel *syncStatus() const { return m_syncStatus; }
    RemoteBooksPanel *remoteBooks() const { return m_remoteBooks; }

    QTreeWidget *tree() const { return m_tree; }
    QTreeWidgetItem *node(int index) const { return m_nodes[index]; }
    // Panels exist for the user information, profile edit, my-books and upload nodes, and for the
    // two sync nodes once attachSync() gave them.
    QWidget *panel(int index) const { return m_panels[index]; }
    UserInfoPanel *userInfo() const { return m_userInfo; }
    ProfileEditPanel *profileEdit() const { return m_profileEdit; }
    UserBooksList *booksList() const { return m_books; }
    UploadPanel *uploadPanel() const { return m_upload; }
    QLabel *loadingPanel() const { return m_loading; }
    RequestSlot *accountSlot() const { return m_accountSlot; }

Q_SIGNALS:
    // A refused check or edit: the owner opens the login window; this window closes itself.
    void loginRequested();
    // A check, edit or logout was answered: whether the user is logged in, and as whom.
    void accountAnswered(bool loggedIn, const QString &account);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildTree();
    void treeClicked(QTreeWidgetItem *item);
    void runNode(int index);
    void sendLogout();
    void sendProfileEdit();
    void onAccountAnswer(bool answered, const AccountReply &reply);
    void updateLoading();
    void placePanels();

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    AccountProfile m_profile;
    int m_selected = 0;

    QTreeWidget *m_tree = nullptr;
    std::array<QTreeWidgetItem *, LastNode + 1> m_nodes{};
    std::array<QWidget *, LastNode + 1> m_panels{};
    UserInfoPanel *m_userInfo = nullptr;
    ProfileEditPanel *m_profileEdit = nullptr;
    UserBooksList *m_books = nullptr;
    UploadPanel *m_upload = nullptr;
    SyncStatusPanel *m_syncStatus = nullptr;
    RemoteBooksPanel *m_remoteBooks = nullptr;
    QLabel *m_loading = nullptr;
    RequestSlot *m_accountSlot = nullptr;
};
