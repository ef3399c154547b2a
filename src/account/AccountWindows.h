#pragma once

#include <QObject>
#include <QPointer>

class AccountSync;
class LoginWindow;
class QNetworkAccessManager;
class Prompter;
class RegistrationWindow;
class UserCentre;
struct AppContext;

// The account windows of the program, each a single instance: opening one that is already open
// brings it to the front. Owned by the main window; the other parts of the program reach the
// login, the user centre and the upload through it.
class AccountWindows : public QObject
{
    Q_OBJECT
public:
    // The reading sync goes through syncManager, the program's shared manager if null.
    AccountWindows(AppContext &ctx, Prompter &prompter, QObject *parent = nullptr,
                   QNetworkAccessManager *syncManager = nullptr);
    ~AccountWindows() override;

    LoginWindow *showLogin();
    RegistrationWindow *showRegistration();
    // Shows the user centre, selects the node (UserCentre::Node) and runs its click handling.
    // A user centre opened anew first asks the server whether the user is logged in.
    UserCentre *openUserCentre(int node);
    // The main toolbar's "用户中心" and a successful login.
    UserCentre *openUserInfo();
    // The catalogue's "上传共享".
    UserCentre *openUpload();

    // The book menu's "共享到网络服务器": the shelf book with this id, into the upload panel.
    // False (after a message) when the shelf has no such book.
    bool shareShelfBook(qint64 id);
    // The reading menu's "共享本书到网络": the book open in the reader, found by its path.
    bool shareOpenBook(const QString &path);

    // Reading sync, started and stopped by the user centre's answers; null without a library.
    AccountSync *sync() const { return m_sync; }
    // The sync indicator: the user centre at "同步状态".
    UserCentre *openSyncStatus();

    // The open windows, or null.
    LoginWindow *loginWindow() const;
    RegistrationWindow *registrationWindow() const;
    UserCentre *userCentre() const;

private:
    void notFound();

    AppContext &m_ctx;
    Prompter &m_prompter;
    QPointer<LoginWindow> m_login;
    QPointer<RegistrationWindow> m_registration;
    QPointer<UserCentre> m_userCentre;
    AccountSync *m_sync;
};
