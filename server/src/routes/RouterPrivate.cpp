// Private copies: books a user sends from the desktop to read them in the web reader, kept for
// that account alone, never reviewed and never in the catalogue. The body of a put is the
// book's bytes as they are; its fingerprint, title and author come in the query.

#include "routes/Router.h"

#include "routes/RouterSupport.h"
#include "store/BookPrint.h"
#include "store/Store.h"


using namespace RouterSupport;

namespace {

constexpr int kTitleChars = 100;

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024));
}

XmlOut &answer(XmlOut &x, const QString &status, const QString &message)
{
    return x.open("private").element("status", status).element("message", message);
}

Response privateReply(const QString &status, const QString &message)
{
    XmlOut x;
    answer(x, status, message).close("private");
    return xml(x.take());
}

Response refused(const QString &message)
{
    return privateReply(QStringLiteral("refused"), message);
}

} // namespace

std::optional<Response> Router::privateRefusal(const Request &request, const QString &fingerprint, qint64 size) const
{
    const auto s = session(request);
    const auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return privateReply(QStringLiteral("login"), QStringLiteral("请先登录后再把书放到服务器上！"));
    if (user->disabled)
        return refused(QStringLiteral("你的账号已被停用，不能把书放到服务器上！"));
    const ServerConfig::Limits &limits = m_config.limits;
    if (size > limits.uploadBytes)
        return refused(QStringLiteral("这本书太大（最大%1MB），不能放到服务器上！").arg(megabytes(limits.uploadBytes)));
    const qint64 used = store().privateCopies().used(user->id);
    if (used < 0)
        return unavailable();
    if (used + size > limits.privateQuotaBytes && !store().privateCopies().byFingerprint(user->id, fingerprint))
        return refused(QStringLiteral("你放在服务器上的书已用%1MB，再放这本（%2MB）会超过%3MB的上限。"
                                      "请先在服务器上删去一些书。")
                           .arg(megabytes(used), megabytes(size), megabytes(limits.privateQuotaBytes)));
    if (m_freeDisk() - size < limits.diskFloorBytes)
        return refused(QStringLiteral("服务器存储空间不足，暂时不能放书，请稍后再试！"));
    return std::nullopt;
}

Admission Router::privateAdmission(const Request &head) const
{
    Admission a;
    a.bodyLimit = 64 * 1024;
    if (!head.path.toLower().endsWith("/put"))
        return a;
    a.bodyLimit = m_config.limits.uploadBytes;
    a.tooLarge = refused(
        QStringLiteral("这本书太大（最大%1MB），不能放到服务器上！").arg(megabytes(m_config.limits.uploadBytes)));
    bool ok = false;
    const qint64 declared = head.header("content-length").toLongLong(&ok);
    const auto query = FormCodec::parseQuery(head.query);
    Store &db = store();
    const quint64 lost = db.lostCount();
    a.early = db.isOpen() ? privateRefusal(head, query ? FormCodec::value(*query, u"fingerprint") : QString(),
                                           ok ? declared : 0)
                          : unavailable();
    if (db.lostCount() != lost)
        a.early = unavailable();
    return a;
}

Response Router::privateCopies(const Request &request, const QString &lowerPath, const FormCodec::Fields &query) const
{
    const QString verb = lowerPath.mid(QStringLiteral("/folioway/private/v1/").size());
    const bool list = verb == u"list";
    if (!list && verb != u"put" && verb != u"remove")
        return notFound();
    if (list && request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed("GET, HEAD");
    if (!list && request.method != "POST")
        return methodNotAllowed("POST");
    const QString fingerprint = FormCodec::value(query, u"fingerprint").trimmed();
    if (verb == u"put") {
        if (auto refusal = privateRefusal(request, fingerprint, request.body.size()))
            return *refusal;
    }
    const auto s = session(request);
    const auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return privateReply(QStringLiteral("login"), QStringLiteral("请先登录！"));
    if (user->disabled)
        return refused(QStringLiteral("你的账号已被停用！"));
    const QString booksDir = m_config.booksDir();
    const qint64 quota = m_config.limits.privateQuotaBytes;

    if (verb == u"remove") {
        if (!PrivateCopies::remove(store(), booksDir, user->id, FormCodec::value(query, u"id").toLongLong()))
            return refused(QStringLiteral("服务器上没有这本书。"));
        return privateReply(QStringLiteral("ok"), QStringLiteral("已从服务器上删去。"));
    }
    if (verb == u"put") {
        const QString name = FormCodec::value(query, u"name").trimmed();
        const QString author = FormCodec::value(query, u"author").trimmed();
        if (!PrivateCopies::plausibleFingerprint(fingerprint) || BookPrint::of(request.body) != fingerprint)
            return refused(QStringLiteral("收到的文件与它的指纹不符，可能在传送中损坏了，请重新发送。"));
        if (name.isEmpty() || name.size() > kTitleChars || author.size() > kTitleChars)
            return refused(QStringLiteral("书名为空或太长（最多%1字）。").arg(kTitleChars));
        if (request.body.isEmpty() || !plainText(request.body))
            return refused(QStringLiteral("只能把文本文件（TXT）放到服务器上。"));
        PrivateCopy copy;
        copy.userId = user->id;
        copy.fingerprint = fingerprint;
        copy.name = name;
        copy.author = author;
        copy.size = request.body.size();
        copy.created = storeTime(now());
        const PrivateCopies::KeepOutcome kept = PrivateCopies::keep(store(), booksDir, copy, request.body, quota);
        if (kept.result == PrivateCopies::KeepOutcome::OverQuota)
            return refused(
                QStringLiteral("你放在服务器上的书已达%1MB的上限。请先在服务器上删去一些书。").arg(megabytes(quota)));
        if (kept.result == PrivateCopies::KeepOutcome::Failed) {
            logEvent(QStringLiteral("private copy failed user=%1").arg(user->name));
            return refused(QStringLiteral("服务器保存这本书失败，请稍后再试！"));
        }
        logEvent(QStringLiteral("private copy id=%1 user=%2 bytes=%3 stored=%4")
                     .arg(kept.id)
                     .arg(user->name)
                     .arg(copy.size)
                     .arg(kept.result == PrivateCopies::KeepOutcome::Stored ? 1 : 0));
        XmlOut x;
        // Whether the bytes were already on the server is never told: it would say what
        // other accounts keep.
        answer(x, QStringLiteral("ok"), QStringLiteral("《%1》已放到你的服务器上，可以在网页阅读器里读。").arg(name))
            .element("id", kept.id)
            .element("used", kept.used)
            .element("quota", quota);
        return xml(x.close("private").take());
    }
    bool ok = false;
    const QList<PrivateCopy> copies = PrivateCopies::listFor(store(), booksDir, user->id, &ok);
    if (!ok)
        return unavailable();
    qint64 used = 0;
    for (const PrivateCopy &c : copies)
        used += c.size;
    XmlOut x;
    answer(x, QStringLiteral("ok"), QString()).element("used", used).element("quota", quota);
    for (const PrivateCopy &c : copies) {
        x.open("item")
            .element("id", c.id)
            .element("name", c.name)
            .element("author", c.author)
            .element("fingerprint", c.fingerprint)
            .element("size", c.size)
            .close("item");
    }
    return xml(x.close("private").take());
}
