#include "routes/Router.h"

#include "routes/RouterSupport.h"
#include "routes/Secrets.h"
#include "store/Store.h"

#include <limits>

using namespace RouterSupport;

namespace {

QString failureKey(QStringView kind, const QString &value)
{
    return value.isEmpty() ? QString() : kind.toString() + value.toLower();
}

// The row whose last moment is the latest right login of an account from an address.
QString successKey(const QString &name, const QByteArray &peer)
{
    const QString address = QString::fromLatin1(clientGroup(peer));
    return address.isEmpty() ? QString() : failureKey(u"ok:", name + u'@' + address);
}

// How long a right login lets its address go first, and past the account-wide lock.
constexpr qint64 kKnownAddressSeconds = 30 * 24 * 3600;

// Hashing work goes to the transport's slow queue; this answer stands when the queue is full.
Response slowly(std::function<Response()> work)
{
    Response busy = busyReply();
    busy.deferred = std::move(work);
    return busy;
}

} // namespace

namespace AccountRules {

bool emailPlausible(const QString &email)
{
    const qsizetype at = email.indexOf(u'@');
    const qsizetype dot = email.indexOf(u'.', 2);
    return at >= 1 && dot >= 2 && !email.endsWith(u'.');
}

bool userNameCharacters(const QString &name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_')
            continue;
        // The client accepts any double-byte character of the Chinese code page.
        const QByteArray gb = FormCodec::toGb18030(QString(c));
        if (c.isSurrogate() || gb.size() != 2 || static_cast<unsigned char>(gb[0]) < 0x81)
            return false;
    }
    return true;
}

QString userNameProblem(const QString &name)
{
    if (name.size() < 3 || name.size() > 14)
        return QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！");
    if (!userNameCharacters(name))
        return QStringLiteral("用户名不能带有特殊符号！\r\n可由汉字、字母、数字和下划线任意3至14位组合！");
    return {};
}

QString passwordProblem(const QString &password)
{
    if (password.size() < 3)
        return QStringLiteral("你输入的密码长度太短（至少3位），请重新输入！");
    if (password.size() > 18)
        return QStringLiteral("你输入的密码太长（最多18位），请重新输入！");
    return {};
}

} // namespace AccountRules

std::optional<Router::Session> Router::session(const Request &request) const
{
    const QByteArray token = request.cookie(kSessionCookie);
    if (token.isEmpty() || token.size() > 256)
        return std::nullopt;
    Session s;
    s.tokenHash = Secrets::tokenDigest(token);
    const auto user = store().accounts().sessionUser(s.tokenHash, now().toSecsSinceEpoch());
    if (!user)
        return std::nullopt;
    s.userId = *user;
    return s;
}

Response Router::userInfo(const Request &request, const FormCodec::Fields &query) const
{
    if (request.method == "POST") {
        const bool utf8 = request.header("content-type").toLower().contains("charset=utf-8");
        const auto form = FormCodec::parseForm(request.body, utf8);
        if (!form)
            return badRequest("form encoding");
        QString action = FormCodec::value(*form, u"action");
        if (action.isEmpty())
            action = FormCodec::value(query, u"action");
        // Account writes stop with uploads and sync when the disk is nearly full; logins go on.
        if ((action == u"reg" || action == u"edit") && m_freeDisk() < m_config.limits.diskFloorBytes)
            return accountReply(QStringLiteral("0"), QStringLiteral("服务器存储空间不足，请稍后再试！"));
        if (action == u"reg") {
            if (!admitSignup(request.peer))
                return accountReply(QStringLiteral("0"), QStringLiteral("注册太频繁，请稍后再试！"));
            Response r = slowly([this, form = *form, peer = request.peer] { return registerUser(form, peer); });
            r.deferredCanWait = true; // logins go first
            return r;
        }
        if (action == u"edit")
            return slowly([this, request, form = *form] { return editProfile(request, form); });
        if (action == u"login")
            return login(*form, request);
        return badRequest("action");
    }
    const QString action = FormCodec::value(query, u"action");
    if (action == u"login")
        return login(query, request);
    if (action == u"check")
        return check(request);
    if (action == u"loginout" || action == u"logout")
        return logout(request);
    if (action == u"reg" || action == u"edit")
        return methodNotAllowed("POST");
    return badRequest("action");
}

Response Router::login(const FormCodec::Fields &fields, const Request &request) const
{
    const QString name = FormCodec::value(fields, u"username").trimmed();
    const QString password = FormCodec::value(fields, u"password").trimmed();
    const bool remember = FormCodec::value(fields, u"cookies").trimmed() == u"1";
    if (name.isEmpty() || password.isEmpty())
        return accountReply(QStringLiteral("0"), QStringLiteral("用户名或密码不能为空！"));
    return throttledLogin(
        name, request, busyReply(), [](const QString &why) { return accountReply(QStringLiteral("0"), why); },
        [this, name, password, remember, peer = request.peer](const QList<Throttle> &throttles) {
            return verifiedLogin(name, password, remember, throttles, peer);
        });
}

Response Router::throttledLogin(const QString &name, const Request &request, Response busy,
                                const std::function<Response(const QString &)> &refusal,
                                std::function<Response(const QList<Throttle> &)> check) const
{
    // Refused before any hashing, so guessing and floods cost the server next to nothing.
    const int rank = loginRank(name, request.peer);
    QList<Throttle> throttles = loginThrottles(name, request);
    if (const QString why = admitLogin(throttles); !why.isEmpty())
        return refusal(why);
    Response r = std::move(busy);
    r.deferred = [check = std::move(check), throttles] { return check(throttles); };
    r.deferredRank = rank;
    // A try the server had no time to check does not count against the account, but it does
    // against its address: guesses the queue turns away are not free.
    r.turnedAway = [this, throttles] {
        for (const Throttle &t : throttles) {
            if (!t.keptWhenBusy)
                store().accounts().uncountLoginFailure(t.key, t.untilBefore);
        }
    };
    return r;
}

std::optional<UserRow> Router::checkedPassword(const QString &name, const QString &password,
                                               const QList<Throttle> &throttles, const QByteArray &peer,
                                               QString *why) const
{
    *why = QStringLiteral("用户名或密码错误，请重新输入！");
    const auto user = name.size() <= 14 ? store().accounts().userByName(name) : std::nullopt;
    if (!user) {
        Secrets::verifyDummy(password);
        return std::nullopt;
    }
    if (!Secrets::verifyPassword(user->passHash, password))
        return std::nullopt;
    // The attempt was right: it no longer counts, and this address's misses of the account are forgiven.
    for (const Throttle &t : throttles) {
        if (t.clearedByLogin)
            store().accounts().clearLoginFailures(t.key);
        else
            store().accounts().uncountLoginFailure(t.key, t.untilBefore);
    }
    if (user->disabled) {
        *why = QStringLiteral("你的账号已被停用，请与网站管理员联系！");
        return std::nullopt;
    }
    // The address goes first with this account from now on; the row's last moment says when.
    if (const QString known = successKey(name, peer); !known.isEmpty())
        store().accounts().countLoginFailure(known, now().toSecsSinceEpoch(), 0);
    return user;
}

Response Router::verifiedLogin(const QString &name, const QString &password, bool remember,
                               const QList<Throttle> &throttles, const QByteArray &peer) const
{
    QString why;
    const auto user = checkedPassword(name, password, throttles, peer, &why);
    if (!user)
        return accountReply(QStringLiteral("0"), why);
    const QByteArray token = Secrets::newSessionToken();
    const qint64 nowSecs = now().toSecsSinceEpoch();
    store().accounts().purgeSessions(nowSecs);
    if (!store().accounts().insertSession(Secrets::tokenDigest(token), user->id,
                                          nowSecs + (remember ? kRememberSeconds : kSessionSeconds)) ||
        !store().accounts().recordLogin(user->id, now(), m_config.dailyLoginPoints)) {
        return Response::text(500, "500 Internal Server Error\n");
    }
    Response r = accountReply(QStringLiteral("1"), QStringLiteral("登录成功，欢迎回来，%1！").arg(user->name));
    r.addHeader("Set-Cookie", sessionCookie(token, remember ? kRememberSeconds : -1));
    return r;
}

QList<Router::Throttle> Router::loginThrottles(const QString &name, const Request &request) const
{
    const ServerConfig::Limits &limits = m_config.limits;
    const QString address = QString::fromLatin1(clientGroup(request.peer));
    QList<Throttle> out;
    if (!address.isEmpty()) {
        // Guesses from elsewhere never lock the account for this address.
        out.append({failureKey(u"user:", name + u'@' + address), limits.accountLockTries, true, true});
        out.append({failureKey(u"addr:", address), limits.addressLockTries, true, false, true});
    }
    // Only counted, for the order of the password queue.
    if (const QByteArray near = clientNeighbourhood(request.peer); !near.isEmpty())
        out.append({failureKey(u"near:", QString::fromLatin1(near)), std::numeric_limits<int>::max(), false, false, true});
    // Guesses from many addresses at once stop too, except for a client that holds a login of
    // the account already or whose address logged in to it lately.
    const auto s = session(request);
    const auto holder = s ? store().accounts().userById(s->userId) : std::nullopt;
    if ((!holder || holder->name.compare(name, Qt::CaseInsensitive) != 0) && loginRank(name, request.peer) >= 0)
        out.append({failureKey(u"user:", name), limits.accountWideLockTries, false, false});
    return out;
}

int Router::loginRank(const QString &name, const QByteArray &peer) const
{
    const QString known = successKey(name, peer);
    if (known.isEmpty())
        return 0;
    const qint64 nowSecs = now().toSecsSinceEpoch();
    if (store().accounts().loginFailures(known).last > nowSecs - kKnownAddressSeconds)
        return -1;
    // Failures forgiven after a quiet spell as long as a lock no longer count.
    const auto recent = [&](QStringView kind, const QByteArray &where) {
        const LoginFailures f = store().accounts().loginFailures(failureKey(kind, QString::fromLatin1(where)));
        return f.last > nowSecs - qint64(m_config.limits.lockMinutes) * 60 ? f.count : 0;
    };
    return std::min(recent(u"addr:", clientGroup(peer)), 9999) * 100000 +
           std::min(recent(u"near:", clientNeighbourhood(peer)), 99999);
}

QString Router::admitLogin(QList<Throttle> &throttles) const
{
    const ServerConfig::Limits &limits = m_config.limits;
    const qint64 nowSecs = now().toSecsSinceEpoch();
    const qint64 lockSeconds = qint64(limits.lockMinutes) * 60;
    std::lock_guard lock(m_loginMutex);
    qint64 until = 0;
    for (Throttle &t : throttles) {
        t.untilBefore = store().accounts().loginFailures(t.key).until;
        until = std::max(until, t.untilBefore);
    }
    if (const qint64 wait = until - nowSecs; wait > 0) {
        if (wait < 60)
            return QStringLiteral("登录失败次数过多，请%1秒后再试！").arg(wait);
        return QStringLiteral("登录失败次数过多，已暂时锁定，请%1分钟后再试！").arg((wait + 59) / 60);
    }
    for (const Throttle &t : throttles) {
        // A quiet spell as long as a lock forgives the earlier failures.
        const int count = store().accounts().countLoginFailure(t.key, nowSecs, lockSeconds);
        // After the free tries each failure doubles the wait, up to a minute, then the lock.
        const int over = count - limits.loginFreeTries;
        const qint64 delay = !t.delays || over <= 0 ? 0 : std::min<qint64>(qint64(1) << std::min(over - 1, 6), 60);
        const qint64 wait = count >= t.lockTries ? lockSeconds : delay;
        if (wait > 0)
            store().accounts().setLoginLock(t.key, nowSecs + wait);
        if (count == t.lockTries)
            logEvent(QStringLiteral("login locked %1 for %2 min").arg(t.key).arg(limits.lockMinutes));
    }
    return {};
}

bool Router::admitSignup(const QByteArray &peer) const
{
    const QString key = failureKey(u"signup:", QString::fromLatin1(clientGroup(peer)));
    // The count starts again after an hour without sign-ups from the address.
    return key.isEmpty() ||
           store().accounts().countLoginFailure(key, now().toSecsSinceEpoch(), 3600) <= m_config.limits.signupsPerHour;
}

void Router::promotionVisit(const Request &request, const QString &uid) const
{
    bool ok = false;
    const qint64 id = uid.trimmed().toLongLong(&ok);
    if (!ok || id <= 0 || request.peer.isEmpty() || m_config.promotionCoins <= 0)
        return;
    // Following one's own link pays nothing.
    if (const auto s = session(request); s && s->userId == id)
        return;
    if (store().accounts().creditPromotion(id, QString::fromLatin1(request.peer), now().date(),
                                           m_config.promotionCoins))
        logEvent(QStringLiteral("promotion uid=%1 addr=%2").arg(id).arg(QString::fromLatin1(request.peer)));
}

QString Router::profileUrl(qint64 userId) const
{
    // Never from the request's Host header: anyone could put their own site into the link.
    QString base;
    {
        std::lock_guard lock(m_publicUrlMutex);
        base = m_config.publicUrl;
    }
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + QStringLiteral("/readerserver/?uid=") + QString::number(userId);
}

Response Router::check(const Request &request) const
{
    const auto s = session(request);
    auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return accountReply(QStringLiteral("0"), QStringLiteral("请先登录"));
    // A remembered login seen for the first time on a day counts as that day's login.
    if (user->lastLogin.date() != now().date() &&
        store().accounts().recordLogin(user->id, now(), m_config.dailyLoginPoints, true))
        user = store().accounts().userById(user->id);
    if (!user)
        return unavailable();
    XmlOut x;
    x.open("userbase")
        .element("logininfo", QStringLiteral("1|已登录"))
        .element("purl", profileUrl(user->id))
        .element("pinfo", m_config.promotionText)
        .element("uid", user->id)
        .element("uname", user->name)
        .element("userlogin", user->logins)
        .element("lastdate", timeText(user->previousLogin))
        .element("userpoint", user->points)
        .element("usermoney", user->money)
        .element("usermail", user->email)
        .element("qq", user->qq)
        .element("sex", user->sex)
        .element("question", user->question)
        .close("userbase");
    return xml(x.take());
}

Response Router::logout(const Request &request) const
{
    const QByteArray token = request.cookie(kSessionCookie);
    if (!token.isEmpty())
        store().accounts().deleteSession(Secrets::tokenDigest(token));
    Response r = accountReply(QStringLiteral("0"), QStringLiteral("已安全退出，欢迎下次光临！"));
    r.addHeader("Set-Cookie", kSessionCookie + "=; Path=/; HttpOnly; SameSite=Lax; Max-Age=0; "
                                               "Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    return r;
}

Response Router::registerUser(const FormCodec::Fields &fields, const QByteArray &peer) const
{
    const QString name = FormCodec::value(fields, u"username").trimmed();
    const QString password = FormCodec::value(fields, u"userpass").trimmed();
    const QString email = FormCodec::value(fields, u"email").trimmed();
    QString sex = FormCodec::value(fields, u"sex").trimmed();
    const QString qq = FormCodec::value(fields, u"qq").trimmed();
    // The client sends the chosen question under "anwser" and the typed answer under "question".
    const QString question = FormCodec::value(fields, u"anwser").trimmed();
    const QString answer = FormCodec::value(fields, u"question").trimmed();
    const QString zero = QStringLiteral("0");

    if (!AccountRules::emailPlausible(email) || email.size() > 50)
        return accountReply(zero, QStringLiteral("你输入的Email地址不合法，请重新输入！"));
    if (const QString problem = AccountRules::userNameProblem(name); !problem.isEmpty())
        return accountReply(zero, problem);
    if (const QString problem = AccountRules::passwordProblem(password); !problem.isEmpty())
        return accountReply(zero, problem);
    if (qq.size() > 10)
        return accountReply(zero, QStringLiteral("QQ号码不能超过10位！"));
    if (question.size() > 50 || answer.size() > 50)
        return accountReply(zero, QStringLiteral("密码问题或答案太长，请重新输入！"));
    if (sex != u"男" && sex != u"女")
        sex = QStringLiteral("保密");
    if (store().accounts().userByName(name))
        return accountReply(zero, QStringLiteral("用户名“%1”已被注册，请换一个！").arg(name));

    UserRow u;
    u.name = name;
    u.passHash = Secrets::hashPassword(password);
    u.email = email;
    u.sex = sex;
    u.qq = qq;
    u.question = question;
    u.answerHash = answer.isEmpty() ? QString() : Secrets::hashPassword(answer);
    u.created = now();
    if (u.passHash.isEmpty())
        return Response::text(500, "500 Internal Server Error\n");
    // Two registrations of one name can race past the look-up; the unique index decides.
    if (store().accounts().insertUser(u) <= 0)
        return accountReply(zero, QStringLiteral("用户名“%1”已被注册，请换一个！").arg(name));
    logEvent(QStringLiteral("signup user=%1 addr=%2").arg(name, QString::fromLatin1(peer)));
    return accountReply(QStringLiteral("1"), QStringLiteral("注册成功！请使用新账号“%1”登录。").arg(name));
}

Response Router::editProfile(const Request &request, const FormCodec::Fields &fields) const
{
    const QString zero = QStringLiteral("0");
    const auto s = session(request);
    auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return accountReply(zero, QStringLiteral("请先登录"));
    if (FormCodec::value(fields, u"userid").trimmed() != QString::number(user->id))
        return accountReply(zero, QStringLiteral("用户信息不符，请重新登录！"));

    const QString password = FormCodec::value(fields, u"userpass").trimmed();
    const QString email = FormCodec::value(fields, u"email").trimmed();
    QString sex = FormCodec::value(fields, u"sex").trimmed();
    const QString qq = FormCodec::value(fields, u"qq").trimmed();
    const QString answer = FormCodec::value(fields, u"anwser").trimmed();

    if (!AccountRules::emailPlausible(email) || email.size() > 50)
        return accountReply(zero, QStringLiteral("你输入的Email地址不合法，请重新输入！"));
    if (!password.isEmpty()) {
        if (const QString problem = AccountRules::passwordProblem(password); !problem.isEmpty())
            return accountReply(zero, problem);
    }
    if (qq.size() > 10)
        return accountReply(zero, QStringLiteral("QQ号码不能超过10位！"));
    if (answer.size() > 50)
        return accountReply(zero, QStringLiteral("密码答案太长，请重新输入！"));
    if (sex != u"男" && sex != u"女")
        sex = QStringLiteral("保密");

    user->email = email;
    user->sex = sex;
    user->qq = qq;
    if (!password.isEmpty())
        user->passHash = Secrets::hashPassword(password);
    if (!answer.isEmpty())
        user->answerHash = Secrets::hashPassword(answer);
    if (user->passHash.isEmpty() || !store().accounts().updateProfile(*user))
        return Response::text(500, "500 Internal Server Error\n");
    // A new password ends every other login of the account.
    if (!password.isEmpty())
        store().accounts().deleteOtherSessions(user->id, s->tokenHash);
    return accountReply(QStringLiteral("2"), QStringLiteral("资料修改成功！"));
}

