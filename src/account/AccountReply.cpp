#include "account/AccountReply.h"

#include "net/NetworkLimits.h"
#include "net/WebAddress.h"
#include "net/XmlTree.h"

#include <QXmlStreamReader>

#include <array>

namespace {

struct ProfileSlot
{
    QLatin1StringView element;
    QString AccountProfile::*field;
};

const std::array<ProfileSlot, 12> kProfileSlots{{
    {QLatin1StringView("purl"), &AccountProfile::purl},
    {QLatin1StringView("pinfo"), &AccountProfile::pinfo},
    {QLatin1StringView("uid"), &AccountProfile::uid},
    {QLatin1StringView("uname"), &AccountProfile::uname},
    {QLatin1StringView("userlogin"), &AccountProfile::userlogin},
    {QLatin1StringView("lastdate"), &AccountProfile::lastdate},
    {QLatin1StringView("userpoint"), &AccountProfile::userpoint},
    {QLatin1StringView("usermoney"), &AccountProfile::usermoney},
    {QLatin1StringView("usermail"), &AccountProfile::usermail},
    {QLatin1StringView("qq"), &AccountProfile::qq},
    {QLatin1StringView("sex"), &AccountProfile::sex},
    {QLatin1StringView("question"), &AccountProfile::question},
}};

} // namespace

AccountReply DecodeAccountReply(const QByteArray &body)
{
    if (!XmlShapeProblem(body).isEmpty())
        return {};
    QXmlStreamReader xml(body);
    bool inUserbase = false;
    bool seenUserbase = false;
    int userbaseDepth = 0;
    int depth = 0;
    bool haveLogininfo = false;
    QString logininfo;
    AccountProfile profile;
    std::array<bool, 12> filled{};

    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            return {}; // no entity expansion from server documents
        if (token == QXmlStreamReader::EndElement) {
            if (inUserbase && depth == userbaseDepth)
                inUserbase = false;
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = xml.qualifiedName();
        if (!seenUserbase) {
            if (name == QLatin1StringView("userbase")) {
                seenUserbase = inUserbase = true;
                userbaseDepth = depth;
            }
            continue;
        }
        if (!inUserbase)
            continue;
        // Only the first element of each name counts; a later duplicate is skipped unread.
        if (name == QLatin1StringView("logininfo") && !haveLogininfo) {
            haveLogininfo = true;
            logininfo = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            --depth;
            continue;
        }
        for (std::size_t i = 0; i < kProfileSlots.size(); ++i) {
            if (!filled[i] && name == kProfileSlots[i].element) {
                filled[i] = true;
                // Every field ends up in a label or a text box.
                profile.*kProfileSlots[i].field =
                    BoundedServerText(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
                --depth;
                break;
            }
        }
    }
    if (xml.hasError() || !haveLogininfo)
        return {};
    const qsizetype bar = logininfo.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        AccountReply notice;
        notice.notice = BoundedServerText(logininfo.trimmed());
        return notice;
    }

    AccountReply reply;
    reply.valid = true;
    reply.code = logininfo.left(bar).trimmed();
    // Only the piece after the first "|": a second "|" ends the message.
    reply.message = logininfo.mid(bar + 1).section(QLatin1Char('|'), 0, 0).trimmed();
    reply.profile = profile;
    return reply;
}

QString LogoutMessage()
{
    return QStringLiteral("已安全退出，欢迎下次光临！");
}

QString AccountEndpoint(const QString &serverBaseUrl)
{
    return serverBaseUrl + QStringLiteral("/readerserver/userinfo.asp");
}

QString LoginUrl(const QString &serverBaseUrl, const QString &name, const QString &password, bool remember,
                 const QDateTime &when)
{
    return AccountEndpoint(serverBaseUrl) + QStringLiteral("?action=login&username=") + name +
           QStringLiteral("&password=") + password + QStringLiteral("&cookies=") +
           (remember ? QLatin1Char('1') : QLatin1Char('0')) + QStringLiteral("&rnt=") + RequestTimeText(when);
}

QString CheckUrl(const QString &serverBaseUrl, const QDateTime &when)
{
    return AccountEndpoint(serverBaseUrl) + QStringLiteral("?action=check&rnt=") + RequestTimeText(when);
}

QString LogoutUrl(const QString &serverBaseUrl, const QDateTime &when)
{
    return AccountEndpoint(serverBaseUrl) + QStringLiteral("?action=loginout&rnt=") + RequestTimeText(when);
}
