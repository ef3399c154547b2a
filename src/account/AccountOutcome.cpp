#include "account/AccountOutcome.h"

#include "catalogue/CatalogueProtocol.h"

std::optional<AccountMessage> ValidateLogin(const QString &name, const QString &password)
{
    if (name.trimmed().isEmpty() || password.trimmed().isEmpty())
        return AccountMessage{QStringLiteral("用户名或密码不能为空！"), QStringLiteral("登录失败"),
                              Prompter::Icon::Critical};
    return std::nullopt;
}

namespace {

// An answer without a code: its text, if any, is all there is to it.
AccountOutcome noticeOnly(const AccountReply &reply)
{
    AccountOutcome out;
    if (!reply.notice.isEmpty())
        out.message = AccountMessage{reply.notice, QStringLiteral("提示"), Prompter::Icon::Exclamation};
    return out;
}

} // namespace

AccountOutcome LoginWindowOutcome(const AccountReply &reply)
{
    AccountOutcome out;
    if (!reply.valid)
        return noticeOnly(reply);
    if (reply.code == QLatin1String("0")) {
        out.message = AccountMessage{reply.message, QStringLiteral("请先登录"), Prompter::Icon::Exclamation};
    } else if (reply.code == QLatin1String("1")) {
        out.message = AccountMessage{reply.message, QStringLiteral("欢迎登录"), Prompter::Icon::Information};
        out.openUserCentre = true;
        out.showUserInfo = true;
        out.closeWindow = true;
    }
    return out;
}

AccountOutcome UserCentreOutcome(const AccountReply &reply)
{
    AccountOutcome out;
    if (!reply.valid) {
        out = noticeOnly(reply);
        // Nothing readable in it: said as the catalogue says it.
        if (!out.message)
            out.message = AccountMessage{NoDataMessage(), QString(), Prompter::Icon::Exclamation};
        return out;
    }
    if (reply.code == QLatin1String("0")) {
        out.message = AccountMessage{reply.message, QStringLiteral("请先登录"), Prompter::Icon::Exclamation};
        out.openLogin = reply.message != LogoutMessage();
        out.closeWindow = true;
    } else if (reply.code == QLatin1String("1")) {
        out.fillProfile = true;
    } else if (reply.code == QLatin1String("2")) {
        out.message = AccountMessage{reply.message, QStringLiteral("修改成功"), Prompter::Icon::Information};
        out.showUserInfo = true;
        out.releaseRequest = false;
    }
    return out;
}

AccountOutcome RegistrationOutcome(const AccountReply &reply)
{
    AccountOutcome out;
    if (!reply.valid)
        return noticeOnly(reply);
    if (reply.code == QLatin1String("0")) {
        out.message = AccountMessage{reply.message, QStringLiteral("注册失败"), Prompter::Icon::Critical};
    } else if (reply.code == QLatin1String("1")) {
        out.message = AccountMessage{reply.message, QStringLiteral("欢迎注册"), Prompter::Icon::Information};
        out.openLogin = true;
        out.closeWindow = true;
    }
    return out;
}
