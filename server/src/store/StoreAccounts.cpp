#include "store/StoreAccounts.h"

#include "store/Store.h"
#include "store/StoreDialect.h"
#include "store/StoreSupport.h"

#include <QSqlQuery>
#include <QVariant>

using namespace StoreSupport;

namespace {

const auto kUserColumns = QStringLiteral("id, name, passhash, email, sex, qq, question, answerhash, logins, lastlogin, "
                                         "prevlogin, points, money, created, disabled");

UserRow userFrom(const QSqlQuery &q)
{
    UserRow u;
    u.id = q.value(0).toLongLong();
    u.name = q.value(1).toString();
    u.passHash = q.value(2).toString();
    u.email = q.value(3).toString();
    u.sex = q.value(4).toString();
    u.qq = q.value(5).toString();
    u.question = q.value(6).toString();
    u.answerHash = q.value(7).toString();
    u.logins = q.value(8).toLongLong();
    u.lastLogin = timeFrom(q.value(9));
    u.previousLogin = timeFrom(q.value(10));
    u.points = q.value(11).toLongLong();
    u.money = q.value(12).toLongLong();
    u.created = timeFrom(q.value(13));
    u.disabled = q.value(14).toInt() != 0;
    return u;
}

} // namespace

std::optional<UserRow> StoreAccounts::userByName(const QString &name)
{
    QSqlQuery &q = m_store.prepared(
        QStringLiteral("SELECT %1 FROM users WHERE %2").arg(kUserColumns, m_store.dialect().nameMatches()));
    q.addBindValue(name);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    UserRow u = userFrom(q);
    q.finish();
    return u;
}

std::optional<UserRow> StoreAccounts::userById(qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT %1 FROM users WHERE id = ?").arg(kUserColumns));
    q.addBindValue(id);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    UserRow u = userFrom(q);
    q.finish();
    return u;
}

qint64 StoreAccounts::insertUser(const UserRow &u)
{
    // The unique index on the name decides between two registrations racing past the look-up.
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("INSERT INTO users (name, passhash, email, sex, qq, question, answerhash, "
                                        "created) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                                        "ON CONFLICT DO NOTHING RETURNING id"));
    q.addBindValue(notNull(u.name));
    q.addBindValue(notNull(u.passHash));
    q.addBindValue(notNull(u.email));
    q.addBindValue(notNull(u.sex));
    q.addBindValue(notNull(u.qq));
    q.addBindValue(notNull(u.question));
    q.addBindValue(notNull(u.answerHash));
    q.addBindValue(timeText(u.created));
    if (!m_store.exec(q) || !q.next())
        return 0;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool StoreAccounts::updateProfile(const UserRow &u)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("UPDATE users SET passhash = ?, email = ?, sex = ?, qq = ?, answerhash = ? "
                                        "WHERE id = ?"));
    q.addBindValue(notNull(u.passHash));
    q.addBindValue(notNull(u.email));
    q.addBindValue(notNull(u.sex));
    q.addBindValue(notNull(u.qq));
    q.addBindValue(notNull(u.answerHash));
    q.addBindValue(u.id);
    return m_store.exec(q) && q.numRowsAffected() == 1;
}

bool StoreAccounts::recordLogin(qint64 userId, const QDateTime &now, int dailyPoints, bool firstOfDayOnly)
{
    // One statement, so two logins at once, through any process, pay the day's points once.
    const QString firstToday = QStringLiteral("substr(lastlogin, 1, 10) <> ?");
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("UPDATE users SET logins = logins + 1, "
                                        "prevlogin = CASE WHEN lastlogin = '' THEN created ELSE lastlogin END, "
                                        "lastlogin = ?, points = points + CASE WHEN %1 THEN ? ELSE 0 END "
                                        "WHERE id = ?%2")
                             .arg(firstToday, firstOfDayOnly ? QStringLiteral(" AND ") + firstToday : QString()));
    const QString today = now.date().toString(Qt::ISODate);
    q.addBindValue(timeText(now));
    q.addBindValue(today);
    q.addBindValue(dailyPoints);
    q.addBindValue(userId);
    if (firstOfDayOnly)
        q.addBindValue(today);
    return m_store.exec(q) && (firstOfDayOnly || q.numRowsAffected() == 1);
}

bool StoreAccounts::creditPromotion(qint64 userId, const QString &visitor, const QDate &day, int coins)
{
    bool paid = false;
    const QString dayText = day.toString(Qt::ISODate);
    m_store.transaction([&] {
        QSqlQuery &visit =
            m_store.prepared(QStringLiteral("INSERT INTO promotion_visits (userid, visitor, day) "
                                            "SELECT id, ?, ? FROM users WHERE id = ? ON CONFLICT DO NOTHING"));
        visit.addBindValue(visitor);
        visit.addBindValue(dayText);
        visit.addBindValue(userId);
        if (!m_store.exec(visit))
            return false;
        if (visit.numRowsAffected() != 1)
            return true;
        QSqlQuery &pay = m_store.prepared(QStringLiteral("UPDATE users SET money = money + ? WHERE id = ?"));
        pay.addBindValue(coins);
        pay.addBindValue(userId);
        // Earlier days' visits no longer decide anything.
        QSqlQuery &forget = m_store.prepared(QStringLiteral("DELETE FROM promotion_visits WHERE day < ?"));
        forget.addBindValue(dayText);
        paid = m_store.exec(pay) && m_store.exec(forget);
        return paid;
    });
    return paid;
}

QList<StoreAccounts::UserSummary> StoreAccounts::users()
{
    QList<UserSummary> out;
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT %1, (SELECT count(*) FROM books WHERE uploader = users.id) "
                                                   "FROM users ORDER BY id")
                                        .arg(kUserColumns));
    if (!m_store.exec(q))
        return out;
    while (q.next())
        out.append({userFrom(q), q.value(15).toInt()});
    q.finish();
    return out;
}

bool StoreAccounts::setDisabled(qint64 userId, bool disabled)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("UPDATE users SET disabled = ? WHERE id = ?"));
    q.addBindValue(disabled ? 1 : 0);
    q.addBindValue(userId);
    return m_store.exec(q) && q.numRowsAffected() == 1;
}

bool StoreAccounts::setPassword(qint64 userId, const QString &passHash)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("UPDATE users SET passhash = ? WHERE id = ?"));
    q.addBindValue(passHash);
    q.addBindValue(userId);
    if (!m_store.exec(q) || q.numRowsAffected() != 1)
        return false;
    QSqlQuery &end = m_store.prepared(QStringLiteral("DELETE FROM sessions WHERE userid = ?"));
    end.addBindValue(userId);
    return m_store.exec(end);
}

LoginFailures StoreAccounts::loginFailures(const QString &key)
{
    LoginFailures f;
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT count, last, until FROM login_failures WHERE key = ?"));
    q.addBindValue(key);
    if (!m_store.exec(q) || !q.next())
        return f;
    f.count = q.value(0).toInt();
    f.last = q.value(1).toLongLong();
    f.until = q.value(2).toLongLong();
    q.finish();
    return f;
}

int StoreAccounts::countLoginFailure(const QString &key, qint64 now, qint64 forgiveSeconds)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("INSERT INTO login_failures (key, count, last, until) VALUES (?, 1, ?, 0) "
                                        "ON CONFLICT (key) DO UPDATE SET count = CASE WHEN excluded.last - "
                                        "login_failures.last >= ? THEN 1 ELSE login_failures.count + 1 END, "
                                        "last = excluded.last RETURNING count"));
    q.addBindValue(key);
    q.addBindValue(now);
    q.addBindValue(forgiveSeconds);
    if (!m_store.exec(q) || !q.next())
        return 0;
    const int count = q.value(0).toInt();
    q.finish();
    return count;
}

bool StoreAccounts::setLoginLock(const QString &key, qint64 until)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("UPDATE login_failures SET until = ? WHERE key = ? AND until < ?"));
    q.addBindValue(until);
    q.addBindValue(key);
    q.addBindValue(until);
    return m_store.exec(q);
}

bool StoreAccounts::clearLoginFailures(const QString &key)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM login_failures WHERE key = ?"));
    q.addBindValue(key);
    return m_store.exec(q);
}

bool StoreAccounts::uncountLoginFailure(const QString &key, qint64 untilBefore)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("UPDATE login_failures SET count = CASE WHEN count > 0 THEN count - 1 ELSE 0 "
                                        "END, until = CASE WHEN until > ? THEN ? ELSE until END WHERE key = ?"));
    q.addBindValue(untilBefore);
    q.addBindValue(untilBefore);
    q.addBindValue(key);
    return m_store.exec(q);
}

bool StoreAccounts::insertSession(const QByteArray &tokenHash, qint64 userId, qint64 expiresAt)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("INSERT INTO sessions (token, userid, expires) VALUES (?, ?, ?)"));
    q.addBindValue(tokenHash);
    q.addBindValue(userId);
    q.addBindValue(expiresAt);
    return m_store.exec(q);
}

std::optional<qint64> StoreAccounts::sessionUser(const QByteArray &tokenHash, qint64 now)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT userid FROM sessions WHERE token = ? AND expires > ?"));
    q.addBindValue(tokenHash);
    q.addBindValue(now);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool StoreAccounts::deleteSession(const QByteArray &tokenHash)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM sessions WHERE token = ?"));
    q.addBindValue(tokenHash);
    return m_store.exec(q);
}

bool StoreAccounts::deleteOtherSessions(qint64 userId, const QByteArray &keepTokenHash)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM sessions WHERE userid = ? AND token <> ?"));
    q.addBindValue(userId);
    q.addBindValue(keepTokenHash);
    return m_store.exec(q);
}

bool StoreAccounts::purgeSessions(qint64 now)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM sessions WHERE expires <= ?"));
    q.addBindValue(now);
    return m_store.exec(q);
}

