#include "Router.h"

#include "BookStorage.h"
#include "Categories.h"
#include "Multipart.h"
#include "Secrets.h"
#include "Store.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace {

const QByteArray kSessionCookie = "folioway_session";
const QByteArray kXmlType = "text/xml; charset=utf-8";
const qint64 kRememberSeconds = 30ll * 24 * 3600;
// Without "记住登录" the cookie ends with the client's session; the server forgets the
// login after a day in any case.
const qint64 kSessionSeconds = 24ll * 3600;

// Writes the small XML documents of the protocol straight into a byte buffer.
class XmlOut
{
public:
    XmlOut()
    {
        m_out.reserve(4096);
        m_out.append(R"(<?xml version="1.0" encoding="utf-8"?>)"
                     "\n");
    }

    XmlOut &open(const char *tag)
    {
        m_out.append('<').append(tag).append('>');
        return *this;
    }
    XmlOut &close(const char *tag)
    {
        m_out.append("</").append(tag).append('>');
        return *this;
    }
    XmlOut &element(const char *tag, const QString &text)
    {
        open(tag);
        appendEscaped(text);
        return close(tag);
    }
    XmlOut &element(const char *tag, qint64 number) { return element(tag, QString::number(number)); }
    QByteArray take() { return std::move(m_out); }

private:
    void appendEscaped(const QString &text)
    {
        QString clean;
        clean.reserve(text.size());
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            // Characters XML 1.0 cannot carry at all are dropped.
            if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
                continue;
            switch (u) {
            case '&':
                clean.append(QLatin1String("&amp;"));
                break;
            case '<':
                clean.append(QLatin1String("&lt;"));
                break;
            case '>':
                clean.append(QLatin1String("&gt;"));
                break;
            default:
                clean.append(c);
            }
        }
        m_out.append(clean.toUtf8());
    }

    QByteArray m_out;
};

Response xml(QByteArray body)
{
    Response r;
    r.contentType = kXmlType;
    r.addHeader("Cache-Control", "no-store");
    r.body = std::move(body);
    return r;
}

Response accountReply(const QString &code, const QString &message)
{
    XmlOut x;
    x.open("userbase").element("logininfo", code + u'|' + message).close("userbase");
    return xml(x.take());
}

Response uploadReply(int status, int code, const QString &message)
{
    Response r;
    r.status = status;
    r.contentType = "text/plain; charset=GB18030";
    r.addHeader("Cache-Control", "no-store");
    r.body = FormCodec::toGb18030(QString::number(code) + u'|' + message);
    return r;
}

Response badRequest(const QByteArray &why)
{
    return Response::text(400, "400 Bad Request: " + why + "\n");
}

Response notFound()
{
    return Response::text(404, "404 Not Found\n");
}

Response methodNotAllowed(const QByteArray &allow)
{
    Response r = Response::text(405, "405 Method Not Allowed\n");
    r.addHeader("Allow", allow);
    return r;
}

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString kilobytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1024.0, 'f', 2);
}

int pageNumber(const QString &text)
{
    bool ok = false;
    const double n = text.trimmed().toDouble(&ok);
    if (!ok || !(n >= 1))
        return 1;
    return n > 1e9 ? 1000000000 : int(n);
}

QString pageInfo(const BookPage &p)
{
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(p.totalPages)
        .arg(p.totalBooks)
        .arg(p.page)
        .arg(std::max(1, p.page - 1))
        .arg(std::min(p.totalPages, p.page + 1));
}

QByteArray sessionCookie(const QByteArray &token, qint64 maxAge)
{
    QByteArray c = kSessionCookie + '=' + token + "; Path=/; HttpOnly; SameSite=Lax";
    if (maxAge >= 0) {
        const QDateTime expires = QDateTime::currentDateTimeUtc().addSecs(maxAge);
        c += "; Max-Age=" + QByteArray::number(maxAge) + "; Expires=" +
             QLocale::c().toString(expires, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
    }
    return c;
}

// "bytes=a-b" with a single range; anything else serves the whole file.
bool parseRange(const QByteArray &header, qint64 size, qint64 *from, qint64 *to, bool *unsatisfiable)
{
    *unsatisfiable = false;
    if (!header.startsWith("bytes=") || header.contains(','))
        return false;
    const QByteArray bounds = header.mid(6).trimmed();
    const qsizetype dash = bounds.indexOf('-');
    if (dash < 0)
        return false;
    bool okA = true;
    bool okB = true;
    const QByteArray a = bounds.left(dash).trimmed();
    const QByteArray b = bounds.mid(dash + 1).trimmed();
    if (a.isEmpty()) {
        const qint64 suffix = b.toLongLong(&okB);
        if (!okB || suffix <= 0) {
            *unsatisfiable = okB;
            return okB;
        }
        *from = std::max<qint64>(0, size - suffix);
        *to = size - 1;
    } else {
        *from = a.toLongLong(&okA);
        *to = b.isEmpty() ? size - 1 : std::min(size - 1, b.toLongLong(&okB));
        if (!okA || !okB || *from < 0)
            return false;
    }
    if (*from >= size || *from > *to) {
        *unsatisfiable = true;
        return true;
    }
    return true;
}

QString sanitizedHost(const QByteArray &host)
{
    for (const char c : host) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '[' || c == ']'))
            return QStringLiteral("127.0.0.1");
    }
    return host.isEmpty() ? QStringLiteral("127.0.0.1") : QString::fromLatin1(host);
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

Router::Router(ServerConfig config) : m_config(std::move(config)), m_clock([] { return QDateTime::currentDateTime(); })
{
    XmlOut x;
    x.open("infobase")
        .element("reader_1", m_config.reader1)
        .element("reader_2", m_config.reader2)
        .element("reader_3", m_config.reader3)
        .element("reader_4", m_config.reader4)
        .element("version", m_config.version)
        .element("mustdown", m_config.mustDown)
        .element("verinfo", m_config.versionInfo)
        .element("downloadlist", m_config.downloadList)
        .element("savepathlist", m_config.savePathList)
        .close("infobase");
    m_serverInfo = x.take();
}

Store &Router::store() const
{
    return Store::forThread(m_config.dataDir);
}

qint64 Router::bodyLimit(QByteArrayView method, QByteArrayView rawPath)
{
    if (method != "POST" && method != "PUT")
        return 8 * 1024;
    const QByteArray path = rawPath.toByteArray().toLower();
    if (path.endsWith("/uploadbook.asp"))
        return kMaxUploadBytes;
    return 64 * 1024;
}

Response Router::handle(const Request &request) const
{
    const auto decodedPath = FormCodec::decodeQueryValue(request.path);
    if (!decodedPath || !decodedPath->startsWith(u'/'))
        return badRequest("path");
    const QString path = *decodedPath;
    const QString lower = path.toLower();
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";

    // Book files: /books/<id>/<file name>, nothing else below /books.
    for (const QString &prefix : {QStringLiteral("/books/"), QStringLiteral("/readerserver/books/")}) {
        if (!lower.startsWith(prefix))
            continue;
        if (!get)
            return methodNotAllowed("GET, HEAD");
        const QStringList parts = path.mid(prefix.size()).split(u'/');
        if (parts.size() != 2)
            return notFound();
        return bookFile(request, parts[0], parts[1]);
    }

    const auto query = FormCodec::parseQuery(request.query);
    if (!query)
        return badRequest("query");

    if (lower == u"/" || lower == u"/readerserver" || lower == u"/readerserver/" ||
        lower == u"/readerserver/index.asp") {
        if (!get)
            return methodNotAllowed("GET, HEAD");
        Response r;
        r.contentType = "text/html; charset=utf-8";
        r.body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Folioway</title></head>"
                 "<body><h1>Folioway 书库</h1><p>请使用 Folioway 阅读器浏览和下载本站的电子书。</p></body></html>\n";
        return r;
    }
    if (lower == u"/readerserver/getinfo.asp") {
        if (!get)
            return methodNotAllowed("GET, HEAD");
        return serverInfo();
    }
    if (lower == u"/readerserver/listbook.asp") {
        if (!get)
            return methodNotAllowed("GET, HEAD");
        return listBooks(*query);
    }
    if (lower == u"/readerserver/listuserbook.asp") {
        if (!get)
            return methodNotAllowed("GET, HEAD");
        return userBooks(request, *query);
    }
    if (lower == u"/readerserver/userinfo.asp") {
        if (!get && !post)
            return methodNotAllowed("GET, HEAD, POST");
        return userInfo(request, *query);
    }
    if (lower == u"/readerserver/uploadbook.asp") {
        if (!post)
            return methodNotAllowed("POST");
        return upload(request);
    }
    return notFound();
}

Response Router::serverInfo() const
{
    return xml(m_serverInfo);
}

Response Router::listBooks(const FormCodec::Fields &query) const
{
    const QString action = FormCodec::value(query, u"action").trimmed();
    const int page = pageNumber(FormCodec::value(query, u"page"));
    const bool search = action == u"search";
    if (!search && action != u"list" && !action.isEmpty())
        return badRequest("action");
    QString term = FormCodec::value(query, search ? u"key" : u"type").trimmed();
    if (!search && term == Categories::all())
        term.clear();

    // Catalogue pages are read far more often than the catalogue changes.
    Store &db = store();
    const QByteArray cacheKey = (search ? "s|" : "l|") + QByteArray::number(page) + '|' + term.toUtf8();
    if (QByteArray cached = db.cachedAnswer(cacheKey); !cached.isEmpty())
        return xml(std::move(cached));

    const BookPage result =
        search ? db.searchBooks(term, page, m_config.pageSize) : db.listBooks(term, page, m_config.pageSize);
    XmlOut x;
    x.open("booklist");
    for (const BookRow &b : result.rows) {
        x.open("bookinfo")
            .element("id", b.id)
            .element("name", b.name)
            .element("class", b.category)
            .element("author", b.author)
            .element("statue", b.status)
            .element("ftime", b.updated)
            .element("size", kilobytes(b.fileSize))
            .element("downurl", QStringLiteral("/books/%1/%2").arg(b.id).arg(b.fileName))
            .close("bookinfo");
    }
    x.open("otherinfo").element("pageinfo", pageInfo(result)).close("otherinfo");
    x.close("booklist");
    QByteArray answer = x.take();
    db.rememberAnswer(cacheKey, answer);
    return xml(std::move(answer));
}

Response Router::userBooks(const Request &request, const FormCodec::Fields &query) const
{
    BookPage result;
    const auto s = session(request);
    if (s) {
        const auto user = store().userById(s->userId);
        const QString asked = FormCodec::value(query, u"uname").trimmed();
        if (user && asked.compare(user->name, Qt::CaseInsensitive) == 0)
            result = store().userBooks(user->id, pageNumber(FormCodec::value(query, u"page")), m_config.pageSize);
    }
    XmlOut x;
    x.open("booklist");
    for (const BookRow &b : result.rows) {
        x.open("bookinfo")
            .element("id", b.id)
            .element("name", b.name)
            .element("class", b.category)
            .element("statue", b.status)
            .element("newchap", kilobytes(b.fileSize))
            .element("ftime", b.updated)
            .element("checkif", static_cast<int>(b.review))
            .close("bookinfo");
    }
    x.open("otherinfo").element("pageinfo", pageInfo(result)).close("otherinfo");
    x.close("booklist");
    return xml(x.take());
}

std::optional<Router::Session> Router::session(const Request &request) const
{
    const QByteArray token = request.cookie(kSessionCookie);
    if (token.isEmpty() || token.size() > 256)
        return std::nullopt;
    Session s;
    s.tokenHash = Secrets::tokenDigest(token);
    const auto user = store().sessionUser(s.tokenHash, now().toSecsSinceEpoch());
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
        if (action == u"reg")
            return registerUser(*form);
        if (action == u"edit")
            return editProfile(request, *form);
        if (action == u"login")
            return login(*form);
        return badRequest("action");
    }
    const QString action = FormCodec::value(query, u"action");
    if (action == u"login")
        return login(query);
    if (action == u"check")
        return check(request);
    if (action == u"loginout" || action == u"logout")
        return logout(request);
    if (action == u"reg" || action == u"edit")
        return methodNotAllowed("POST");
    return badRequest("action");
}

Response Router::login(const FormCodec::Fields &fields) const
{
    const QString name = FormCodec::value(fields, u"username").trimmed();
    const QString password = FormCodec::value(fields, u"password").trimmed();
    const bool remember = FormCodec::value(fields, u"cookies").trimmed() == u"1";
    if (name.isEmpty() || password.isEmpty())
        return accountReply(QStringLiteral("0"), QStringLiteral("用户名或密码不能为空！"));

    const QString refused = QStringLiteral("用户名或密码错误，请重新输入！");
    const auto user = name.size() <= 14 ? store().userByName(name) : std::nullopt;
    if (!user) {
        Secrets::verifyDummy(password);
        return accountReply(QStringLiteral("0"), refused);
    }
    if (!Secrets::verifyPassword(user->passHash, password))
        return accountReply(QStringLiteral("0"), refused);

    const QByteArray token = Secrets::newSessionToken();
    const qint64 nowSecs = now().toSecsSinceEpoch();
    store().purgeSessions(nowSecs);
    if (!store().insertSession(Secrets::tokenDigest(token), user->id,
                               nowSecs + (remember ? kRememberSeconds : kSessionSeconds)) ||
        !store().recordLogin(user->id, now(), m_config.dailyLoginPoints)) {
        return Response::text(500, "500 Internal Server Error\n");
    }
    Response r = accountReply(QStringLiteral("1"), QStringLiteral("登录成功，欢迎回来，%1！").arg(user->name));
    r.addHeader("Set-Cookie", sessionCookie(token, remember ? kRememberSeconds : -1));
    return r;
}

QString Router::profileUrl(const Request &request, qint64 userId) const
{
    QString base = m_config.publicUrl;
    if (base.isEmpty())
        base = QStringLiteral("http://") + sanitizedHost(request.header("host"));
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + QStringLiteral("/readerserver/?uid=") + QString::number(userId);
}

Response Router::check(const Request &request) const
{
    const auto s = session(request);
    const auto user = s ? store().userById(s->userId) : std::nullopt;
    if (!user)
        return accountReply(QStringLiteral("0"), QStringLiteral("请先登录"));
    XmlOut x;
    x.open("userbase")
        .element("logininfo", QStringLiteral("1|已登录"))
        .element("purl", profileUrl(request, user->id))
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
        store().deleteSession(Secrets::tokenDigest(token));
    Response r = accountReply(QStringLiteral("0"), QStringLiteral("已安全退出，欢迎下次光临！"));
    r.addHeader("Set-Cookie", kSessionCookie + "=; Path=/; HttpOnly; SameSite=Lax; Max-Age=0; "
                                               "Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    return r;
}

Response Router::registerUser(const FormCodec::Fields &fields) const
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
    if (store().userByName(name))
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
    if (store().insertUser(u) <= 0)
        return accountReply(zero, QStringLiteral("用户名“%1”已被注册，请换一个！").arg(name));
    return accountReply(QStringLiteral("1"), QStringLiteral("注册成功！请使用新账号“%1”登录。").arg(name));
}

Response Router::editProfile(const Request &request, const FormCodec::Fields &fields) const
{
    const QString zero = QStringLiteral("0");
    const auto s = session(request);
    auto user = s ? store().userById(s->userId) : std::nullopt;
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
    if (user->passHash.isEmpty() || !store().updateProfile(*user))
        return Response::text(500, "500 Internal Server Error\n");
    // A new password ends every other login of the account.
    if (!password.isEmpty())
        store().deleteOtherSessions(user->id, s->tokenHash);
    return accountReply(QStringLiteral("2"), QStringLiteral("资料修改成功！"));
}

Response Router::upload(const Request &request) const
{
    const QByteArray contentType = request.header("content-type");
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return uploadReply(400, 0, QStringLiteral("上传的数据格式不正确！"));
    if (request.body.size() > kMaxUploadBytes)
        return uploadReply(413, 0, QStringLiteral("上传的文件太大（最大64MB）！"));

    const auto s = session(request);
    const auto user = s ? store().userById(s->userId) : std::nullopt;
    if (!user)
        return uploadReply(200, 0, QStringLiteral("请先登录后再上传电子书！"));

    const MultipartResult form = Multipart::parse(request.body, contentType, kMaxUploadParts);
    if (!form.error.isEmpty())
        return uploadReply(400, 0, QStringLiteral("上传的数据不完整或格式不正确（%1），请重新上传！").arg(form.error));

    auto refuse = [](const QString &why) { return uploadReply(200, 0, why); };
    const QString category = form.text(u"stype").trimmed();
    const QString name = form.text(u"sname").trimmed();
    const QString author = form.text(u"sauthor").trimmed();
    const QString memo = form.text(u"smemo").trimmed();
    const QString status = form.text(u"sstatue").trimmed();
    const QString newest = form.text(u"snewchap").trimmed();
    const MultipartPart *book = form.find(u"file1");
    const MultipartPart *cover = form.find(u"file2");

    if (!Categories::names().contains(category))
        return refuse(QStringLiteral("电子书类型不正确，请选择该电子书对应的分类！"));
    if (name.isEmpty())
        return refuse(QStringLiteral("你没有填写电子书名称，请重新填写！"));
    if (name.size() > 50 || author.size() > 50)
        return refuse(QStringLiteral("电子书名称或作者太长，请重新填写！"));
    if (status != u"连载" && status != u"全集")
        return refuse(QStringLiteral("电子书连载状态不正确，请重新选择！"));
    if (status == u"连载" && newest.isEmpty())
        return refuse(QStringLiteral("请添加电子书最新章节名称！"));
    if (newest.size() > 255 || memo.size() > 10000)
        return refuse(QStringLiteral("最新章节或内容简介太长，请删减后再上传！"));
    if (!book || !book->isFile || book->data.isEmpty())
        return refuse(QStringLiteral("没有收到电子书文件，请重新选择！"));

    const QString sentName = Multipart::baseName(book->fileName);
    const QString ext = BookStorage::extension(sentName);
    if (ext != u"txt" && ext != u"zip" && ext != u"rar")
        return refuse(QStringLiteral("只能上传TXT、RAR或ZIP格式的电子书！"));
    if (!BookStorage::contentMatches(ext, book->data))
        return refuse(QStringLiteral("电子书文件已损坏或格式不正确！"));

    QString coverName;
    const bool hasCover = cover && cover->isFile && !cover->data.isEmpty();
    if (hasCover) {
        QString coverExt = BookStorage::extension(Multipart::baseName(cover->fileName));
        if (coverExt == u"jpeg")
            coverExt = QStringLiteral("jpg");
        if ((coverExt != u"jpg" && coverExt != u"gif") || !BookStorage::contentMatches(coverExt, cover->data))
            return refuse(QStringLiteral("封面只能是JPG或GIF图片！"));
        if (cover->data.size() > 4 * 1024 * 1024)
            return refuse(QStringLiteral("封面图片太大（最大4MB）！"));
        coverName = QStringLiteral("cover.") + coverExt;
    }

    BookRow row;
    row.name = name;
    row.author = author.isEmpty() ? QStringLiteral("佚名") : author;
    row.category = category;
    row.status = status;
    row.newestChapter = status == u"连载" ? newest : QString();
    row.memo = memo;
    row.fileName = BookStorage::safeFileName(sentName, QStringLiteral("book.") + ext);
    if (row.fileName == coverName)
        row.fileName = QStringLiteral("book.") + ext;
    row.coverName = coverName;
    row.updated = storeTime(now());
    row.uploader = user->id;
    row.review = Review::Pending;

    QString error;
    BookStorage storage(store(), m_config.booksDir());
    if (storage.add(row, {book->data, {}}, hasCover ? cover->data : QByteArrayView(), &error) <= 0)
        return uploadReply(500, 0, QStringLiteral("保存电子书失败，请稍后再试！"));
    return uploadReply(200, 1,
                       QStringLiteral("上传成功！《%1》正在等待审核，审核通过后即可在网络书库中看到。").arg(name));
}

Response Router::bookFile(const Request &request, const QString &idText, const QString &name) const
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0 || name.isEmpty())
        return notFound();
    const auto b = store().book(id);
    // Only the stored name of an approved book is served; the address never becomes a path.
    if (!b || b->review != Review::Approved || b->fileName != name)
        return notFound();
    const QString path = QDir(m_config.booksDir()).filePath(QString::number(id) + u'/' + b->fileName);
    const QFileInfo info(path);
    if (!info.isFile())
        return notFound();

    Response r;
    const QString ext = BookStorage::extension(b->fileName);
    r.contentType = ext == u"txt"   ? "text/plain"
                    : ext == u"zip" ? "application/zip"
                    : ext == u"rar" ? "application/vnd.rar"
                                    : "application/octet-stream";
    r.addHeader("Accept-Ranges", "bytes");
    r.filePath = path;
    r.fileLength = info.size();

    qint64 from = 0;
    qint64 to = 0;
    bool unsatisfiable = false;
    if (parseRange(request.header("range"), info.size(), &from, &to, &unsatisfiable)) {
        if (unsatisfiable) {
            Response bad = Response::text(416, "416 Range Not Satisfiable\n");
            bad.addHeader("Content-Range", "bytes */" + QByteArray::number(info.size()));
            return bad;
        }
        r.status = 206;
        r.fileOffset = from;
        r.fileLength = to - from + 1;
        r.addHeader("Content-Range", "bytes " + QByteArray::number(from) + '-' + QByteArray::number(to) + '/' +
                                         QByteArray::number(info.size()));
    }
    return r;
}
