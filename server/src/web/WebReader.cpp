#include "web/WebReader.h"

#include "routes/FormCodec.h"
#include "routes/Router.h"
#include "routes/Secrets.h"
#include "store/Store.h"
#include "web/WebScript.h"

#include <QFile>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QUrl>
#include <QXmlStreamReader>

#include <chrono>

namespace WebAnswers {

void secure(Response &r)
{
    r.addHeader("Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
                "manifest-src 'self'; worker-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'");
    r.addHeader("X-Frame-Options", "DENY");
    r.addHeader("X-Content-Type-Options", "nosniff");
    r.addHeader("Referrer-Policy", "no-referrer");
}

Response json(const QJsonObject &object, int status)
{
    Response r;
    r.status = status;
    r.contentType = "application/json; charset=utf-8";
    r.addHeader("Cache-Control", "no-store");
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

Response problem(int status, const QString &message)
{
    return json({{QStringLiteral("ok"), false}, {QStringLiteral("message"), message}}, status);
}

} // namespace WebAnswers

using namespace WebAnswers;

namespace {

struct Asset
{
    const char *name;
    const char *type;
};

constexpr Asset kAssets[] = {
    {"index.html", "text/html; charset=utf-8"},
    {"reader.css", "text/css; charset=utf-8"},
    {"reader.js", "text/javascript; charset=utf-8"},
    {"icon.svg", "image/svg+xml"},
    {"sw.js", "text/javascript; charset=utf-8"},
};

// The account handlers answer "code|message" inside <logininfo>; a busy server answers the
// message alone.
Response fromAccountReply(const Response &reply)
{
    if (reply.status != 200)
        return problem(reply.status, QStringLiteral("服务器暂时无法登录，请稍后再试。"));
    QXmlStreamReader xml(reply.body);
    QString info;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"logininfo") {
            info = xml.readElementText();
            break;
        }
        if (xml.name() != u"userbase")
            xml.skipCurrentElement();
    }
    const qsizetype bar = info.indexOf(u'|');
    Response r = json({{QStringLiteral("ok"), bar > 0 && info.left(bar) == u"1"},
                       {QStringLiteral("message"), bar < 0 ? info : info.mid(bar + 1)}});
    for (const auto &h : reply.headers) {
        if (h.first == "Set-Cookie" || h.first == "Retry-After")
            r.addHeader(h.first, h.second);
    }
    return r;
}

Response translated(Response reply)
{
    Response r = fromAccountReply(reply);
    if (reply.deferred) {
        r.deferred = [work = std::move(reply.deferred)] { return fromAccountReply(work()); };
        r.turnedAway = std::move(reply.turnedAway);
        r.deferredCanWait = reply.deferredCanWait;
    }
    return r;
}

QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

} // namespace

WebReader::WebReader(const Router &router, ServerConfig config)
    : m_router(router), m_config(std::move(config)), m_location(m_config.databaseLocation()),
      m_books(m_config.booksDir()), m_clock([] { return QDateTime::currentDateTime(); })
{
    m_secret.resize(32);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_secret.data()), 8);
}

bool WebReader::owns(QByteArrayView path)
{
    return path == "/read" || path.startsWith("/read/");
}

Store &WebReader::store() const
{
    return Store::forThread(m_location);
}

Admission WebReader::admit(const Request &head) const
{
    if (!owns(head.path))
        return m_router.admit(head);
    Admission a;
    a.bodyLimit = 8 * 1024;
    return a;
}

QByteArray WebReader::tokenFor(const QByteArray &browserCookie) const
{
    if (browserCookie.isEmpty())
        return {};
    return QMessageAuthenticationCode::hash(browserCookie, m_secret, QCryptographicHash::Sha256).toHex();
}

bool WebReader::tokenMatches(const Request &request) const
{
    const QByteArray expected = tokenFor(request.cookie(kBrowserCookie));
    const QByteArray sent = request.header(kTokenHeader);
    if (expected.isEmpty() || sent.size() != expected.size())
        return false;
    int difference = 0;
    for (qsizetype i = 0; i < sent.size(); ++i)
        difference |= sent[i] ^ expected[i];
    return difference == 0;
}

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::optional<WebReader::Caller> WebReader::caller(const Request &request, bool recent) const
{
    const QByteArray token = request.cookie("folioway_session");
    if (token.isEmpty() || token.size() > 256)
        return std::nullopt;
    if (recent) {
        std::lock_guard lock(m_recentMutex);
        if (const auto kept = m_recentCallers.constFind(token); kept != m_recentCallers.cend() && kept->until > steadyMs())
            return kept->value;
    }
    const auto id = store().accounts().sessionUser(Secrets::tokenDigest(token), now().toSecsSinceEpoch());
    const auto user = id ? store().accounts().userById(*id) : std::nullopt;
    if (!user || user->disabled)
        return std::nullopt;
    const Caller found{user->id, user->name};
    std::lock_guard lock(m_recentMutex);
    if (m_recentCallers.size() > 10000)
        m_recentCallers.clear();
    m_recentCallers.insert(token, {found, steadyMs() + kRecentMs});
    return found;
}

Response WebReader::handle(const Request &request) const
{
    if (!owns(request.path))
        return m_router.handle(request);
    const auto path = FormCodec::decodeQueryValue(request.path);
    Response r;
    Store &db = store();
    if (!path) {
        r = problem(400, QStringLiteral("地址不正确。"));
    } else if (!db.isOpen()) {
        r = problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    } else {
        const quint64 lost = db.lostCount();
        r = route(request, *path);
        if (db.lostCount() != lost)
            r = problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    }
    if (r.status == 503)
        r.addHeader("Retry-After", "5");
    // Long lists (a book's chapters, the shelf) go deflated to a browser that takes it.
    if (r.body.size() > 1024 && r.contentType.startsWith("application/json") && r.header("Content-Encoding").isEmpty() &&
        request.header("accept-encoding").contains("deflate")) {
        r.body = qCompress(r.body, 6).mid(4);
        r.addHeader("Content-Encoding", "deflate");
        r.addHeader("Vary", "Accept-Encoding");
    }
    secure(r);
    if (r.deferred) {
        r.deferred = [work = std::move(r.deferred)] {
            Response later = work();
            secure(later);
            return later;
        };
    }
    return r;
}

Response WebReader::route(const Request &request, const QString &path) const
{
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    if (path == u"/read") {
        Response r;
        r.status = 301;
        r.addHeader("Location", "/read/");
        return r;
    }
    const QString rest = path.mid(6); // after "/read/"
    if (!rest.startsWith(u"api/")) {
        if (!get)
            return problem(405, QStringLiteral("不支持这种请求。"));
        return asset(request, rest);
    }
    const QStringList parts = rest.mid(4).split(u'/');
    const QString what = parts.value(0);
    if (parts.size() == 1 && what == u"session" && get)
        return session(request);
    if (post && !tokenMatches(request))
        return problem(403, QStringLiteral("页面已过期，请刷新后再试。"));
    if (parts.size() == 1 && what == u"login" && post)
        return login(request);
    if (parts.size() == 1 && what == u"logout" && post)
        return logout(request);
    // A chapter read: the page turns that make up most of the load.
    const bool chapter = get && what == u"book" && parts.size() == 3 && parts.at(2) != u"place";
    const auto who = caller(request, chapter);
    if (!who)
        return problem(401, QStringLiteral("请先登录。"));
    if (parts.size() == 1 && what == u"books" && get)
        return catalogue(request);
    if (parts.size() == 1 && what == u"shelf")
        return get ? shelf(*who) : post ? addToShelf(*who, request) : problem(405, QStringLiteral("不支持这种请求。"));
    if (what == u"book" && parts.size() >= 2 && parts.size() <= 3)
        return book(*who, parts, request);
    return problem(404, QStringLiteral("找不到这个地址。"));
}

Response WebReader::asset(const Request &request, const QString &name) const
{
    const QString file = name.isEmpty() ? QStringLiteral("index.html") : name;
    for (const Asset &a : kAssets) {
        if (file != QLatin1String(a.name))
            continue;
        QFile resource(QStringLiteral(":/web/") + file);
        if (!resource.open(QIODevice::ReadOnly))
            break;
        Response r;
        r.contentType = a.type;
        r.addHeader("Cache-Control", "no-cache");
        r.addHeader("Vary", "Accept-Encoding");
        r.body = resource.readAll();
        if (request.header("accept-encoding").contains("deflate")) {
            r.body = qCompress(r.body, 9).mid(4);
            r.addHeader("Content-Encoding", "deflate");
        }
        return r;
    }
    return problem(404, QStringLiteral("找不到这个地址。"));
}

Response WebReader::session(const Request &request) const
{
    QByteArray browser = request.cookie(kBrowserCookie);
    const bool fresh = browser.isEmpty() || browser.size() > 128;
    if (fresh)
        browser = Secrets::newSessionToken();
    const auto who = caller(request);
    Response r = json({{QStringLiteral("ok"), true},
                       {QStringLiteral("login"), who.has_value()},
                       {QStringLiteral("name"), who ? who->name : QString()},
                       {QStringLiteral("token"), QString::fromLatin1(tokenFor(browser))},
                       {QStringLiteral("script"), WebScript::available()}});
    if (fresh)
        r.addHeader("Set-Cookie", kBrowserCookie + '=' + browser + "; Path=/read/; HttpOnly; SameSite=Strict");
    return r;
}

Response WebReader::login(const Request &request) const
{
    const auto form = FormCodec::parseForm(request.body, true);
    if (!form)
        return problem(400, QStringLiteral("表单格式不正确。"));
    Request inner = request;
    inner.path = "/readerserver/userinfo.asp";
    inner.query.clear();
    // The account handler reads the first content type it finds.
    inner.headers.prepend(qMakePair(QByteArray("content-type"), QByteArray("application/x-www-form-urlencoded; charset=utf-8")));
    inner.body = "action=login&username=" + formValue(FormCodec::value(*form, u"username")) +
                 "&password=" + formValue(FormCodec::value(*form, u"password")) +
                 "&cookies=" + (FormCodec::value(*form, u"remember") == u"1" ? "1" : "0");
    return translated(m_router.handle(inner));
}

Response WebReader::logout(const Request &request) const
{
    {
        std::lock_guard lock(m_recentMutex);
        m_recentCallers.remove(request.cookie("folioway_session"));
    }
    Request inner = request;
    inner.method = "GET";
    inner.path = "/readerserver/userinfo.asp";
    inner.query = "action=logout";
    inner.body.clear();
    const Response reply = m_router.handle(inner);
    Response r = json({{QStringLiteral("ok"), reply.status == 200}});
    for (const auto &h : reply.headers) {
        if (h.first == "Set-Cookie")
            r.addHeader(h.first, h.second);
    }
    return r;
}
