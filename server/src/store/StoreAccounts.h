#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class Store;

struct UserRow
{
    qint64 id = 0;
    QString name;
    QString passHash;
    QString email;
    QString sex;
    QString qq;
    QString question;
    QString answerHash;
    qint64 logins = 0;
    QDateTime lastLogin;     // the latest login (null before the first)
    QDateTime previousLogin; // the one before it, which the profile shows
    qint64 points = 0;
    qint64 money = 0;
    QDateTime created;
    bool disabled = false; // set by the host; such an account cannot log in or upload
};

// Failed logins under one key ("user:<name>" or "addr:<address>").
struct LoginFailures
{
    int count = 0;
    qint64 last = 0;  // seconds since the epoch
    qint64 until = 0; // no login attempt is considered before this
};

// Users, login sessions, the failed-login throttle and promotion visits.
class StoreAccounts
{
public:
    explicit StoreAccounts(Store &store) : m_store(store) {}
    StoreAccounts(const StoreAccounts &) = delete;
    StoreAccounts &operator=(const StoreAccounts &) = delete;

    std::optional<UserRow> userByName(const QString &name);
    std::optional<UserRow> userById(qint64 id);
    qint64 insertUser(const UserRow &user); // 0 when the name is taken or on error
    bool updateProfile(const UserRow &user);
    // Counts a login and awards the daily points the first time on a calendar day. With
    // firstOfDayOnly nothing changes when the user was already seen that day.
    bool recordLogin(qint64 userId, const QDateTime &now, int dailyPoints, bool firstOfDayOnly = false);
    // Pays coins for a visit of the user's promotion link, once per visitor and day; true
    // when paid.
    bool creditPromotion(qint64 userId, const QString &visitor, const QDate &day, int coins);

    struct UserSummary
    {
        UserRow user;
        int uploads = 0;
    };
    QList<UserSummary> users();
    bool setDisabled(qint64 userId, bool disabled);
    bool setPassword(qint64 userId, const QString &passHash);

    LoginFailures loginFailures(const QString &key);
    // Counts one failure in a single statement, so processes sharing the database never lose
    // one; the count restarts after forgiveSeconds without failures. Returns the new count
    // (0 on error).
    int countLoginFailure(const QString &key, qint64 now, qint64 forgiveSeconds);
    bool setLoginLock(const QString &key, qint64 until);
    bool clearLoginFailures(const QString &key);
    // Takes back one counted attempt that turned out right, with the lock it may have set.
    bool uncountLoginFailure(const QString &key, qint64 untilBefore);

    bool insertSession(const QByteArray &tokenHash, qint64 userId, qint64 expiresAt);
    std::optional<qint64> sessionUser(const QByteArray &tokenHash, qint64 now);
    bool deleteSession(const QByteArray &tokenHash);
    bool deleteOtherSessions(qint64 userId, const QByteArray &keepTokenHash);
    bool purgeSessions(qint64 now);

private:
    Store &m_store;
};
