#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The logged-in user's profile as the last successful check answer gave it. Every value is
// shown as received; the client does no arithmetic on any of them.
struct AccountProfile
{
    QString purl;      // personal promotion address
    QString pinfo;     // promotion text shown under the address
    QString uid;       // sent back as "userid" by the profile edit
    QString uname;     // account name; also the user of list and upload requests
    QString userlogin; // number of logins
    QString lastdate;  // time of the previous login
    QString userpoint;
    QString usermoney;
    QString usermail;
    QString qq;
    QString sex;      // "男", "女", anything else means undisclosed
    QString question; // password question

    bool operator==(const AccountProfile &) const = default;
};

// The answer of every account action: code and message from userbase/logininfo, plus the
// profile elements found in the same userbase (only meaningful on a code-"1" check).
struct AccountReply
{
    bool valid = false; // false: not XML, beyond XmlLimits, has a DTD, or lacks userbase, logininfo or "|"
    QString code;
    QString message;
    AccountProfile profile;
};

AccountReply DecodeAccountReply(const QByteArray &body);

// The server's logout answer is recognised only by this exact message.
QString LogoutMessage();

// Account addresses. Name and password go in as typed (trimmed by the caller); making the
// address valid for the wire is the request layer's job.
QString AccountEndpoint(const QString &serverBaseUrl);
QString LoginUrl(const QString &serverBaseUrl, const QString &name, const QString &password, bool remember,
                 const QDateTime &when = QDateTime::currentDateTime());
QString CheckUrl(const QString &serverBaseUrl, const QDateTime &when = QDateTime::currentDateTime());
QString LogoutUrl(const QString &serverBaseUrl, const QDateTime &when = QDateTime::currentDateTime());
