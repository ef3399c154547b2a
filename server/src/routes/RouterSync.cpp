// Reading synchronised through the account: the desktop client sends the versions of places,
// bookmarks, shelf entries and ways of reading a book it changed (and which content of a book an
// update replaced by which), and asks for the versions kept since the last number it saw. A pull
// answer names the kinds this server takes, so a client sends no kind an older server refuses. Answers stay far inside what the client's XML guard accepts.

#include "routes/Router.h"

#include "routes/RouterSupport.h"
#include "store/Store.h"

#include <QXmlStreamReader>

#include <cstring>

using namespace RouterSupport;

namespace {

constexpr qint64 kPushBytes = 1024 * 1024;
constexpr int kPushItems = 500;
constexpr int kPageItems = 500;            // the default and largest page
constexpr qint64 kPageBytes = 1024 * 1024; // a page ends early once its answer grows past this
constexpr int kKeyChars = 200;
// A push's shape, checked before any XML reader sees it: the reader checks each attribute
// against all earlier ones of its element, so many attributes would cost quadratic time. Our
// pushes carry no attributes and eight elements an item.
constexpr int kPushAttributes = 64;      // of one element
constexpr int kPushNodes = 10000;        // elements and attributes of the whole push
constexpr int kPayloadChars = 4000;
// A computer whose clock runs further ahead would win every later change made elsewhere.
constexpr qint64 kAheadMs = 24ll * 3600 * 1000;
// "reading": how the reader reads a book (smart chapters, an own chapter rule, an encoding), as
// the desktop writes it; the web reader builds its chapter list that way.
const QStringList kKinds{QStringLiteral("position"), QStringLiteral("bookmark"), QStringLiteral("shelf"),
                         QStringLiteral("successor"), QStringLiteral("reading")};

Response syncReply(const QString &status, const QString &message)
{
    XmlOut x;
    x.open("sync").element("status", status).element("message", message).close("sync");
    return xml(x.take());
}

Response refused(const QString &message)
{
    return syncReply(QStringLiteral("refused"), message);
}

bool plainKey(const QString &key)
{
    for (const QChar c : key) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return !key.isEmpty() && key.size() <= kKeyChars;
}

// Why the push's shape is beyond the caps, or empty. One linear pass; what it cannot make
// sense of is left for the XML reader to refuse.
QString shapeProblem(const QByteArray &body)
{
    const qsizetype size = body.size();
    const auto after = [&](qsizetype from, const char *end) {
        const qsizetype at = body.indexOf(end, from);
        return at < 0 ? size : at + qsizetype(std::strlen(end));
    };
    int nodes = 0;
    for (qsizetype i = body.indexOf('<'); i >= 0 && i < size; i = body.indexOf('<', i)) {
        const QByteArrayView rest = QByteArrayView(body).sliced(i);
        if (rest.startsWith("<!--"))
            i = after(i + 4, "-->");
        else if (rest.startsWith("<![CDATA["))
            i = after(i + 9, "]]>");
        else if (rest.startsWith("<?"))
            i = after(i + 2, "?>");
        else if (rest.startsWith("<!") || rest.startsWith("</"))
            i = after(i + 2, ">");
        else {
            int attributes = 0;
            char quote = 0;
            for (++i; i < size; ++i) {
                const char c = body[i];
                if (quote)
                    quote = c == quote ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '=')
                    ++attributes;
                else if (c == '>' || c == '<')
                    break;
            }
            nodes += 1 + attributes;
            if (attributes > kPushAttributes)
                return QStringLiteral("一个元素带有超过%1个属性").arg(kPushAttributes);
        }
        if (nodes > kPushNodes)
            return QStringLiteral("元素和属性超过%1个").arg(kPushNodes);
    }
    return {};
}

// The items of a push, or why they cannot be taken.
QList<SyncItem> readPush(const QByteArray &body, qint64 latestMs, QString *problem)
{
    QList<SyncItem> items;
    QXmlStreamReader r(body);
    // No document type: nothing in a push is declared, so nothing can be expanded.
    while (!r.atEnd() && r.readNext() != QXmlStreamReader::StartElement) {
        if (r.tokenType() == QXmlStreamReader::DTD) {
            *problem = QStringLiteral("不能带有文档类型声明");
            return {};
        }
    }
    if (r.tokenType() != QXmlStreamReader::StartElement || r.qualifiedName() != u"sync" || !r.namespaceUri().isEmpty()) {
        *problem = r.hasError() ? r.errorString() : QStringLiteral("缺少 sync 元素");
        return {};
    }
    while (r.readNextStartElement()) {
        if (r.name() != u"item") {
            r.skipCurrentElement();
            continue;
        }
        if (items.size() == kPushItems) {
            *problem = QStringLiteral("一次最多同步%1项，请分批发送").arg(kPushItems);
            return {};
        }
        SyncItem item;
        QString changed;
        QString deleted;
        while (r.readNextStartElement()) {
            const QString name = r.name().toString();
            const QString text = r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
            if (name == u"kind")
                item.kind = text;
            else if (name == u"key")
                item.key = text;
            else if (name == u"changed")
                changed = text;
            else if (name == u"deleted")
                deleted = text;
            else if (name == u"payload")
                item.payload = text;
        }
        const int n = int(items.size()) + 1;
        bool ok = false;
        item.changed = changed.toLongLong(&ok);
        item.deleted = deleted == u"1";
        if (item.deleted)
            item.payload.clear();
        const bool successor = item.kind == u"successor";
        if (!kKinds.contains(item.kind))
            *problem = QStringLiteral("第%1项的类型不正确").arg(n);
        else if (successor && (item.deleted || !plainKey(item.payload) || item.payload.contains(u'/') ||
                               item.key.contains(u'/') || item.payload == item.key))
            *problem = QStringLiteral("第%1项的新版本不正确").arg(n);
        else if (!plainKey(item.key))
            *problem = QStringLiteral("第%1项的键为空、太长或带有控制字符").arg(n);
        else if (!ok || item.changed < 0)
            *problem = QStringLiteral("第%1项的修改时间不正确").arg(n);
        else if (item.changed > latestMs)
            *problem = QStringLiteral("第%1项的修改时间比服务器晚一天以上，请检查电脑的时钟").arg(n);
        else if (!deleted.isEmpty() && deleted != u"0" && deleted != u"1")
            *problem = QStringLiteral("第%1项的删除标记不正确").arg(n);
        else if (item.payload.size() > kPayloadChars)
            *problem = QStringLiteral("第%1项的内容太长（最多%2字）").arg(n).arg(kPayloadChars);
        if (!problem->isEmpty())
            return {};
        items.append(item);
    }
    // Nothing but comments and white space may follow the root.
    while (!r.hasError() && !r.atEnd()) {
        const QXmlStreamReader::TokenType t = r.readNext();
        if (r.hasError() || t == QXmlStreamReader::StartElement ||
            (t == QXmlStreamReader::Characters && !r.isWhitespace())) {
            *problem = QStringLiteral("sync 元素之后还有内容");
            return {};
        }
    }
    if (r.hasError()) {
        *problem = r.errorString();
        return {};
    }
    return items;
}

void writeItem(XmlOut &x, const SyncItem &item, bool payload)
{
    x.element("seq", item.seq)
        .element("changed", item.changed)
        .element("deleted", item.deleted ? 1 : 0);
    if (payload)
        x.element("payload", item.payload);
}

} // namespace

Admission Router::syncAdmission(const Request &head) const
{
    Admission a;
    a.bodyLimit = kPushBytes;
    bool ok = false;
    const qint64 declared = head.header("content-length").toLongLong(&ok);
    a.tooLarge = refused(QStringLiteral("同步数据太大（最大%1KB），请分批发送！").arg(kPushBytes / 1024));
    if (ok && declared > kPushBytes)
        a.early = a.tooLarge;
    return a;
}

Response Router::sync(const Request &request, const QString &lowerPath, const FormCodec::Fields &query) const
{
    const bool pull = lowerPath == u"/folioway/sync/v1/pull";
    if (!pull && lowerPath != u"/folioway/sync/v1/push")
        return notFound();
    if (pull && request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed("GET, HEAD");
    if (!pull && request.method != "POST")
        return methodNotAllowed("POST");

    const auto s = session(request);
    const auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return syncReply(QStringLiteral("login"), QStringLiteral("请先登录后再同步！"));
    if (user->disabled)
        return refused(QStringLiteral("你的账号已被停用，不能同步！"));

    XmlOut x;
    x.open("sync").element("status", QStringLiteral("ok"));
    if (pull) {
        bool ok = true;
        const QString afterText = FormCodec::value(query, u"after").trimmed();
        const qint64 after = afterText.isEmpty() ? 0 : afterText.toLongLong(&ok);
        const QString limitText = FormCodec::value(query, u"limit").trimmed();
        bool limitOk = true;
        const int limit = limitText.isEmpty() ? kPageItems : std::clamp(limitText.toInt(&limitOk), 1, kPageItems);
        if (!ok || after < 0)
            return refused(QStringLiteral("同步位置不正确！"));
        if (!limitOk)
            return refused(QStringLiteral("每页的项数不正确！"));
        const SyncPage page = store().sync().pull(user->id, after, limit);
        if (!page.ok)
            return unavailable();
        // Large payloads end the page early; the rest follow on the next.
        qsizetype shown = 0;
        qint64 bytes = 0;
        while (shown < page.items.size() && (shown == 0 || bytes < kPageBytes)) {
            const SyncItem &item = page.items[shown++];
            bytes += 3 * (item.key.size() + item.payload.size()) + 160;
        }
        const bool more = page.more || shown < page.items.size();
        x.element("last", page.last)
            .element("next", shown ? page.items[shown - 1].seq : after)
            .element("more", more ? 1 : 0)
            .element("kinds", kKinds.join(u' '));
        for (qsizetype i = 0; i < shown; ++i) {
            const SyncItem &item = page.items[i];
            x.open("item").element("kind", item.kind).element("key", item.key);
            writeItem(x, item, true);
            x.close("item");
        }
        return xml(x.close("sync").take());
    }

    if (request.body.size() > kPushBytes)
        return refused(QStringLiteral("同步数据太大（最大%1KB），请分批发送！").arg(kPushBytes / 1024));
    const ServerConfig::Limits &limits = m_config.limits;
    if (m_freeDisk() - request.body.size() < limits.diskFloorBytes)
        return refused(QStringLiteral("服务器存储空间不足，暂时不能同步，请稍后再试！"));
    QString problem = shapeProblem(request.body);
    const QList<SyncItem> items =
        problem.isEmpty() ? readPush(request.body, now().toMSecsSinceEpoch() + kAheadMs, &problem) : QList<SyncItem>();
    if (!problem.isEmpty())
        return refused(QStringLiteral("同步数据格式不正确（%1）！").arg(problem));
    const SyncPushOutcome outcome = store().sync().push(user->id, items, limits.syncItems, limits.syncQuotaBytes);
    if (outcome.overQuota)
        return refused(QStringLiteral("同步的数据已达上限（%1MB），这次的更改没有保存。请删去一些书签或书架记录后再同步！")
                           .arg(limits.syncQuotaBytes >> 20));
    if (!outcome.ok)
        return unavailable();
    x.element("last", outcome.last);
    if (outcome.verdicts.contains(SyncVerdict::Full))
        x.element("message", QStringLiteral("同步的项目已达上限（%1项），新的项目未能保存！").arg(m_config.limits.syncItems));
    static const char *const kResults[] = {"stored", "same", "older", "full"};
    for (qsizetype i = 0; i < items.size(); ++i) {
        const SyncVerdict verdict = outcome.verdicts[i];
        x.open("item")
            .element("kind", items[i].kind)
            .element("key", items[i].key)
            .element("result", QLatin1String(kResults[int(verdict)]));
        if (verdict != SyncVerdict::Full)
            writeItem(x, outcome.kept[i], verdict == SyncVerdict::Older);
        x.close("item");
    }
    return xml(x.close("sync").take());
}
