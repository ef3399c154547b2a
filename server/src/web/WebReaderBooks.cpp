// The web reader's books: the catalogue, the account's synchronised shelf, a book's chapters
// and the place read in it, which travels as the desktop's own sync items.
#include "web/WebReader.h"

#include "routes/FormCodec.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <chrono>
#include <cmath>

using namespace WebAnswers;

namespace {

const QString kShelf = QStringLiteral("shelf");
const QString kPosition = QStringLiteral("position");
const QString kReading = QStringLiteral("reading");
// How the desktop names where a place was read.
const QString kDevice = QStringLiteral("手机浏览器");
const QString kRuleChanged = QStringLiteral("这本书的分章方式已在电脑上改变，请重新打开这本书。");

QJsonObject parsed(const QString &payload)
{
    return QJsonDocument::fromJson(payload.toUtf8()).object();
}

int percentOf(const QJsonObject &place)
{
    const qint64 lines = place.value(u"lineCount").toInteger();
    return lines > 0 ? int(std::clamp<qint64>(place.value(u"linesRead").toInteger() * 100 / lines, 0, 100)) : 0;
}

QJsonObject bookJson(const BookRow &b)
{
    return {{QStringLiteral("id"), b.id},           {QStringLiteral("name"), b.name},
            {QStringLiteral("author"), b.author},   {QStringLiteral("category"), b.category},
            {QStringLiteral("status"), b.status},   {QStringLiteral("size"), b.fileSize},
            {QStringLiteral("updated"), b.updated}, {QStringLiteral("text"), BookStorage::extension(b.fileName) == u"txt"}};
}

} // namespace

std::optional<BookRow> WebReader::readable(const Caller &caller, qint64 id, bool recent) const
{
    const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch()).count();
    std::optional<BookRow> b;
    if (recent) {
        std::lock_guard lock(m_recentMutex);
        if (const auto kept = m_recentBooks.constFind(id); kept != m_recentBooks.cend() && kept->until > now)
            b = kept->value;
    }
    if (!b && id > 0 && (b = store().catalogue().book(id))) {
        std::lock_guard lock(m_recentMutex);
        if (m_recentBooks.size() > 10000)
            m_recentBooks.clear();
        m_recentBooks.insert(id, {*b, now + kRecentMs});
    }
    if (!b || (b->review != Review::Approved && b->uploader != caller.userId))
        return std::nullopt;
    return b;
}

std::shared_ptr<const WebToc> WebReader::tocFor(const Caller &caller, const Served &book) const
{
    const auto list = [&](const QString &reading) {
        return book.row ? m_books.toc(*book.row, reading) : m_books.toc(book.source, book.cacheKey, reading);
    };
    const auto base = list({});
    if (!base->ok())
        return base;
    const auto chosen = store().sync().item(caller.userId, kReading, base->fingerprint);
    return chosen && !chosen->deleted ? list(chosen->payload) : base;
}

std::shared_ptr<const WebToc> WebReader::tocFor(const Caller &caller, const Served &book, const QString &rule) const
{
    if (rule.isEmpty())
        return book.row ? m_books.toc(*book.row) : m_books.toc(book.source, book.cacheKey);
    if (auto kept = book.row ? m_books.kept(*book.row, rule) : m_books.kept(book.source, book.cacheKey, rule))
        return kept;
    // Not kept for the file as it is now: built again when it is still the caller's way.
    const auto toc = tocFor(caller, book);
    return !toc->ok() || toc->rule == rule ? toc : nullptr;
}

Response WebReader::catalogue(const Request &request) const
{
    const auto query = FormCodec::parseQuery(request.query);
    if (!query)
        return problem(400, QStringLiteral("地址不正确。"));
    const QString key = FormCodec::value(*query, u"key").trimmed().left(50);
    QString type = FormCodec::value(*query, u"type").trimmed().left(20);
    if (type == Categories::all())
        type.clear();
    const int page = std::clamp(FormCodec::value(*query, u"page").toInt(), 1, 1000000);
    const BookPage result = key.isEmpty() ? store().catalogue().listBooks(type, page, m_config.pageSize)
                                          : store().catalogue().searchBooks(key, page, m_config.pageSize);
    if (!result.ok)
        return problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    QJsonArray books;
    for (const BookRow &b : result.rows)
        books.append(bookJson(b));
    return json({{QStringLiteral("ok"), true},
                 {QStringLiteral("page"), result.page},
                 {QStringLiteral("pages"), result.totalPages},
                 {QStringLiteral("categories"), QJsonArray::fromStringList(QStringList{Categories::all()} + Categories::names())},
                 {QStringLiteral("books"), books}});
}

Response WebReader::shelf(const Caller &caller) const
{
    bool ok = false;
    const QList<ShelfEntry> entries = store().sync().shelf(caller.userId, &ok);
    if (!ok)
        return problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    QJsonArray books;
    for (const auto &[item, place] : entries) {
        const QJsonObject o = parsed(item.payload);
        QJsonObject entry{{QStringLiteral("key"), item.key},
                          {QStringLiteral("name"), o.value(u"name").toString()},
                          {QStringLiteral("author"), o.value(u"author").toString()},
                          {QStringLiteral("category"), o.value(u"type").toString()}};
        if (!place.key.isEmpty() && !place.deleted)
            entry.insert(QStringLiteral("percent"), percentOf(parsed(place.payload)));
        bool isId = false;
        const qint64 id = o.value(u"catalogue").toString().toLongLong(&isId);
        if (const auto b = isId ? readable(caller, id) : std::nullopt; b && BookStorage::extension(b->fileName) == u"txt")
            entry.insert(QStringLiteral("book"), b->id);
        else if (const QString copy = privateCopyOf(caller, item.key); !copy.isEmpty())
            entry.insert(QStringLiteral("book"), copy);
        books.append(entry);
    }
    return json({{QStringLiteral("ok"), true}, {QStringLiteral("books"), books}});
}

Response WebReader::addToShelf(const Caller &caller, const Request &request) const
{
    const auto form = FormCodec::parseForm(request.body, true);
    const auto b = form ? readable(caller, FormCodec::value(*form, u"book").toLongLong()) : std::nullopt;
    if (!b)
        return problem(404, QStringLiteral("找不到这本书。"));
    const auto toc = m_books.toc(*b);
    if (!toc->ok())
        return problem(422, toc->error);
    SyncItem item;
    item.kind = kShelf;
    item.key = toc->fingerprint;
    item.changed = now().toMSecsSinceEpoch();
    item.payload = QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("type"), b->category},
                                  {QStringLiteral("name"), b->name},
                                  {QStringLiteral("author"), b->author},
                                  {QStringLiteral("catalogue"), QString::number(b->id)}})
            .toJson(QJsonDocument::Compact));
    const SyncPushOutcome outcome =
        store().sync().push(caller.userId, {item}, m_config.limits.syncItems, m_config.limits.syncQuotaBytes);
    if (!outcome.ok)
        return problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    if (outcome.verdicts.value(0) == SyncVerdict::Full)
        return problem(507, QStringLiteral("同步的项目已达上限，不能再加入书架。"));
    return json({{QStringLiteral("ok"), true}, {QStringLiteral("message"), QStringLiteral("已加入书架")}});
}

Response WebReader::book(const Caller &caller, const QStringList &parts, const Request &request) const
{
    const bool get = request.method == "GET" || request.method == "HEAD";
    const auto b = served(caller, parts.at(1), get && parts.size() == 3 && parts.at(2) != u"place");
    // Another account's own upload or private copy is answered exactly like a book that does
    // not exist.
    if (!b)
        return problem(404, QStringLiteral("找不到这本书。"));
    if (parts.size() == 3 && parts.at(2) == u"place") {
        if (request.method != "POST")
            return problem(405, QStringLiteral("不支持这种请求。"));
        return savePlace(caller, *b, request);
    }
    if (!get)
        return problem(405, QStringLiteral("不支持这种请求。"));
    const auto query = FormCodec::parseQuery(request.query);
    const QString rule = query ? FormCodec::value(*query, u"rule") : QString();
    // A chapter asked for without a list names no rule: the one the caller reads the book by now,
    // which its answer names, so a page opening a book shows its first chapter before the list comes.
    const bool named = query && FormCodec::has(*query, u"rule");
    const auto toc = parts.size() == 3 && named ? tocFor(caller, *b, rule) : tocFor(caller, *b);
    if (!toc)
        return problem(409, kRuleChanged);
    if (!toc->ok())
        return problem(422, toc->error);
    if (parts.size() == 3) {
        const QString script = query ? FormCodec::value(*query, u"script") : QString();
        const bool deflate = request.header("accept-encoding").contains("deflate");
        return m_books.chapter(*toc, parts.at(2).toInt(), deflate, script == u"s" || script == u"t" ? script : QString());
    }
    QJsonObject answer = b->about;
    answer.insert(QStringLiteral("ok"), true);
    answer.insert(QStringLiteral("version"), toc->version);
    answer.insert(QStringLiteral("lineCount"), toc->lineCount);
    answer.insert(QStringLiteral("rule"), toc->rule);
    if (!toc->notice.isEmpty())
        answer.insert(QStringLiteral("notice"), toc->notice);
    // The place kept for the book, wherever it was read; the page offers it, never jumps to it.
    if (const auto place = store().sync().item(caller.userId, kPosition, toc->fingerprint); place && !place->deleted) {
        QJsonObject o = parsed(place->payload);
        o.insert(QStringLiteral("percent"), percentOf(o));
        o.insert(QStringLiteral("changed"), place->changed);
        answer.insert(QStringLiteral("place"), o);
    }
    // The chapters go in as the list keeps them, not made into JSON again for every answer.
    Response r = json(answer);
    r.body.chop(1);
    r.body += ",\"chapters\":" + toc->chapterList + '}';
    return r;
}

std::optional<WebReader::Served> WebReader::served(const Caller &caller, const QString &id, bool recent) const
{
    if (id.startsWith(u'p'))
        return privateCopy(caller, id);
    bool ok = false;
    const qint64 number = id.toLongLong(&ok);
    auto b = ok ? readable(caller, number, recent) : std::nullopt;
    if (!b)
        return std::nullopt;
    return Served{bookJson(*b), *b, {}, {}};
}

Response WebReader::savePlace(const Caller &caller, const Served &book, const Request &request) const
{
    const auto form = FormCodec::parseForm(request.body, true);
    if (!form)
        return problem(404, QStringLiteral("找不到这本书。"));
    // The place counts chapters of the list the page reads by.
    const auto toc = tocFor(caller, book, FormCodec::value(*form, u"rule"));
    if (!toc)
        return problem(409, kRuleChanged);
    if (!toc->ok())
        return problem(404, QStringLiteral("找不到这本书。"));
    bool ok = false;
    const int chapter = FormCodec::value(*form, u"chapter").toInt(&ok);
    const double fraction = std::clamp(FormCodec::value(*form, u"fraction").toDouble(), 0.0, 1.0);
    if (!ok || chapter < 1 || chapter > toc->chapters.size())
        return problem(400, QStringLiteral("阅读位置不正确。"));
    const WebChapter &c = toc->chapters.at(chapter - 1);
    const qint64 nowMs = now().toMSecsSinceEpoch();
    // A place kept while offline carries its own moment, never one ahead of the server.
    qint64 changed = FormCodec::value(*form, u"changed").toLongLong(&ok);
    if (!ok || changed <= 0 || changed > nowMs)
        changed = nowMs;
    const qint64 linesRead = c.firstLine + std::llround(fraction * double(std::max<qint64>(0, c.lastLine - c.firstLine + 1)));
    SyncItem item;
    item.kind = kPosition;
    item.key = toc->fingerprint;
    item.changed = changed;
    item.payload = QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("chapter"), chapter},
                                  {QStringLiteral("title"), c.title},
                                  {QStringLiteral("fraction"), fraction},
                                  {QStringLiteral("linesRead"), std::min(linesRead, toc->lineCount)},
                                  {QStringLiteral("lineCount"), toc->lineCount},
                                  {QStringLiteral("device"), kDevice},
                                  {QStringLiteral("browser"), FormCodec::value(*form, u"browser").left(40)}})
            .toJson(QJsonDocument::Compact));
    const SyncPushOutcome outcome =
        store().sync().push(caller.userId, {item}, m_config.limits.syncItems, m_config.limits.syncQuotaBytes);
    if (!outcome.ok)
        return problem(503, QStringLiteral("服务器暂时无法访问数据库，请稍后再试。"));
    return json({{QStringLiteral("ok"), outcome.verdicts.value(0) != SyncVerdict::Full},
                 {QStringLiteral("changed"), changed}});
}
