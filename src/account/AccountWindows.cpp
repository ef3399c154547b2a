#include "account/AccountWindows.h"

#include "account/AccountSync.h"
#include "account/LoginWindow.h"
#include "account/RegistrationWindow.h"
#include "account/UploadPanel.h"
#include "account/UserCentre.h"
#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "platform/WindowPlacement.h"
#include "startup/AppContext.h"

namespace {

void BringToFront(QWidget *window)
{
    ShowCentred(window);
}

} // namespace

AccountWindows::AccountWindows(AppContext &ctx, Prompter &prompter, QObject *parent,
                               QNetworkAccessManager *syncManager)
    : QObject(parent), m_ctx(ctx), m_prompter(prompter),
      m_sync(ctx.db ? new AccountSync(ctx, this, syncManager) : nullptr)
{}

AccountWindows::~AccountWindows()
{
    // The windows are top-level and have no parent: they go with their owner.
    delete m_login.data();
    delete m_registration.data();
    delete m_userCentre.data();
}

LoginWindow *AccountWindows::loginWindow() const
{
    return m_login;
}

RegistrationWindow *AccountWindows::registrationWindow() const
{
    return m_registration;
}

UserCentre *AccountWindows::userCentre() const
{
    return m_userCentre;
}

LoginWindow *AccountWindows::showLogin()
{
    if (!m_login) {
        m_login = new LoginWindow(m_ctx.config.serverBaseUrl, m_prompter);
        connect(m_login, &LoginWindow::registrationRequested, this, &AccountWindows::showRegistration);
        connect(m_login, &LoginWindow::loggedIn, this, &AccountWindows::openUserInfo);
    }
    BringToFront(m_login);
    return m_login;
}

RegistrationWindow *AccountWindows::showRegistration()
{
    if (!m_registration) {
        m_registration = new RegistrationWindow(m_ctx.config.serverBaseUrl, m_prompter);
        connect(m_registration, &RegistrationWindow::loginRequested, this, &AccountWindows::showLogin);
    }
    BringToFront(m_registration);
    return m_registration;
}

UserCentre *AccountWindows::openUserCentre(int node)
{
    if (!m_userCentre) {
        m_userCentre = new UserCentre(m_ctx.config.serverBaseUrl, m_prompter);
        connect(m_userCentre, &UserCentre::loginRequested, this, &AccountWindows::showLogin);
        if (m_sync) {
            connect(m_userCentre, &UserCentre::accountAnswered, m_sync, &AccountSync::accountAnswered);
            m_userCentre->attachSync(*m_sync);
        }
        BringToFront(m_userCentre);
        // "用户信息" sends the check itself; a second one would only replace the first.
        if (node != UserCentre::UserInfoNode)
            m_userCentre->sendCheck();
    } else {
        BringToFront(m_userCentre);
    }
    m_userCentre->selectNode(node);
    return m_userCentre;
}

UserCentre *AccountWindows::openUserInfo()
{
    return openUserCentre(UserCentre::UserInfoNode);
}

UserCentre *AccountWindows::openSyncStatus()
{
    return openUserCentre(UserCentre::SyncStatusNode);
}

UserCentre *AccountWindows::openUpload()
{
    return openUserCentre(UserCentre::UploadNode);
}

bool AccountWindows::shareShelfBook(qint64 id)
{
    const std::optional<BookRecord> book = m_ctx.db ? m_ctx.db->findById(id) : std::nullopt;
    if (!book) {
        notFound();
        return false;
    }
    openUpload()->uploadPanel()->fillFromBook(*book);
    return true;
}

bool AccountWindows::shareOpenBook(const QString &path)
{
    const std::optional<BookRecord> book = m_ctx.db && !path.isEmpty() ? m_ctx.db->findByPath(path) : std::nullopt;
    if (!book) {
        notFound();
        return false;
    }
    openUpload()->uploadPanel()->fillFromBook(*book);
    return true;
}

void AccountWindows::notFound()
{
    m_prompter.message(QStringLiteral("没有找到该书的信息"), Prompter::Icon::Critical, QStringLiteral("出错啦"));
}
