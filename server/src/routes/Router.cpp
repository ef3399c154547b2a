#include "routes/Router.h"

#include "routes/BookUpdates.h"
#include "routes/EpubCache.h"
#include "routes/Multipart.h"
#include "routes/OpdsCatalogue.h"
#include "routes/RouterSupport.h"
#include "routes/Secrets.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

namespace {

using namespace RouterSupport;

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

} // namespace

Router::Router(ServerConfig config)
    : m_config(std::move(config)), m_location(m_config.databaseLocation()),
      m_clock([] { return QDateTime::currentDateTime(); }),
      // The book folder and the data folder (the database's, for SQLite) may be different disks.
      m_freeDisk([books = m_config.booksDir(), data = m_config.dataDir] {
          return std::min(QStorageInfo(books).bytesAvailable(), QStorageInfo(data).bytesAvailable());
      })
{
    m_epubs = std::make_unique<EpubCache>(QDir(m_config.dataDir).filePath(QStringLiteral("epub-cache")),
                                          m_config.limits.epubCacheBytes);
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

Router::~Router() = default;

Store &Router::store() const
{
    return Store::forThread(m_location);
}

Admission Router::admit(const Request &head) const
{
    Admission a;
    if (head.method != "POST" && head.method != "PUT")
        return a;
    a.bodyLimit = 64 * 1024;
    if (head.path.toLower().startsWith("/folioway/sync/"))
        return syncAdmission(head);
    if (head.path.toLower().startsWith("/folioway/private/"))
        return privateAdmission(head);
    if (!head.path.toLower().endsWith("/uploadbook.asp"))
        return a;
    a.bodyLimit = m_config.limits.uploadBytes;
    a.tooLarge = uploadReply(0, QStringLiteral("上传的文件太大（最大%1MB）！").arg(m_config.limits.uploadBytes >> 20));
    bool ok = false;
    const qint64 declared = head.header("content-length").toLongLong(&ok);
    Store &db = store();
    const quint64 lost = db.lostCount();
    a.early = db.isOpen() ? uploadRefusal(head, ok ? declared : 0) : unavailable();
    if (db.lostCount() != lost)
        a.early = unavailable();
    return a;
}

Response Router::guarded(const std::function<Response()> &work) const
{
    Store &db = store();
    if (!db.isOpen())
        return unavailable();
    const quint64 lost = db.lostCount();
    Response r = work();
    // Answers built while the database was away could say "not logged in" or "no books".
    if (db.lostCount() != lost)
        return unavailable();
    if (r.deferred)
        r.deferred = [this, work = std::move(r.deferred)] { return guarded(work); };
    return r;
}

Response Router::handle(const Request &request) const
{
    return guarded([&] { return route(request); });
}

Response Router::route(const Request &request) const
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
        if (const QString uid = FormCodec::value(*query, u"uid"); !uid.isEmpty())
            promotionVisit(request, uid);
        Response r;
        r.contentType = "text/html; charset=utf-8";
        r.body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Folioway</title></head>"
                 "<body><h1>Folioway 书库</h1><p>请使用 Folioway 阅读器浏览和下载本站的电子书。</p></body></html>\n";
        return r;
    }
    if (lower == u"/opds" || lower.startsWith(u"/opds/")) {
        if (!get)
            return methodNotAllowed("GET, HEAD");
        if (lower == u"/opds/my" || lower.startsWith(u"/opds/my/"))
            return personalFeed(request, lower.mid(9));
        return OpdsCatalogue(store(), m_config.booksDir(), m_config.pageSize).answer(path.mid(5), *query);
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
    if (lower == BookUpdates::kPath) {
        if (!post)
            return methodNotAllowed("POST");
        return BookUpdates::answer(store(), request.body);
    }
    if (lower == u"/readerserver/uploadbook.asp") {
        if (!post)
            return methodNotAllowed("POST");
        return upload(request);
    }
    if (lower.startsWith(u"/folioway/sync/"))
        return sync(request, lower, *query);
    if (lower.startsWith(u"/folioway/private/v1/"))
        return privateCopies(request, lower, *query);
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
    QString term = searchKey(FormCodec::value(query, search ? u"key" : u"type"));
    if (!search && term == Categories::all())
        term.clear();

    // Catalogue pages are read far more often than the catalogue changes.
    Store &db = store();
    const QByteArray cacheKey = (search ? "s|" : "l|") + QByteArray::number(page) + '|' + term.toUtf8();
    const auto kind = search ? StoreCatalogue::Answer::Search : StoreCatalogue::Answer::Page;
    if (QByteArray cached = db.catalogue().cachedAnswer(cacheKey, kind); !cached.isEmpty())
        return xml(std::move(cached));

    const BookPage result = search ? db.catalogue().searchBooks(term, page, m_config.pageSize)
                                   : db.catalogue().listBooks(term, page, m_config.pageSize);
    if (!result.ok)
        return unavailable();
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
            .element("downurl", QStringLiteral("/books/%1/%2").arg(b.id).arg(BookStorage::publicName(b)));
        // Extras the client does not read yet; its parser passes over unknown elements.
        if (!b.coverName.isEmpty())
            x.element("cover", QStringLiteral("/books/%1/%2").arg(b.id).arg(b.coverName));
        if (!b.memo.isEmpty())
            x.element("memo", b.memo);
        x.close("bookinfo");
    }
    x.open("otherinfo").element("pageinfo", pageInfo(result)).close("otherinfo");
    x.close("booklist");
    QByteArray answer = x.take();
    db.catalogue().rememberAnswer(cacheKey, answer, kind);
    return xml(std::move(answer));
}

Response Router::userBooks(const Request &request, const FormCodec::Fields &query) const
{
    BookPage result;
    const auto s = session(request);
    if (s) {
        const auto user = store().accounts().userById(s->userId);
        const QString asked = FormCodec::value(query, u"uname").trimmed();
        if (user && asked.compare(user->name, Qt::CaseInsensitive) == 0)
            result = store().catalogue().userBooks(user->id, pageNumber(FormCodec::value(query, u"page")),
                                                   m_config.pageSize);
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

Response Router::bookFile(const Request &request, const QString &idText, const QString &name) const
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0 || name.isEmpty())
        return notFound();
    const auto b = store().catalogue().book(id);
    if (!b || b->review != Review::Approved)
        return notFound();
    // Only the names of an approved book are served, and the address never becomes a path:
    // its public name, the stored name older addresses used, and its cover.
    QString stored;
    if (name == OpdsCatalogue::epubName(*b) && BookStorage::extension(b->fileName) == u"txt")
        return bookEpub(request, *b);
    if (name == BookStorage::publicName(*b) || name == b->fileName)
        stored = b->fileName;
    else if (!b->coverName.isEmpty() && name == b->coverName)
        stored = b->coverName;
    else
        return notFound();
    const QString path = QDir(m_config.booksDir()).filePath(QString::number(id) + u'/' + stored);
    const QString ext = BookStorage::extension(stored);
    QByteArray type = ext == u"txt"   ? "text/plain"
                      : ext == u"zip" ? "application/zip"
                      : ext == u"rar" ? "application/vnd.rar"
                      : ext == u"jpg" ? "image/jpeg"
                      : ext == u"gif" ? "image/gif"
                                      : "application/octet-stream";
    // Text books go out as they were stored; the feeds for reading apps name the same encoding.
    if (ext == u"txt")
        type += "; charset=" + OpdsCatalogue::textCharset(path);
    return servedFile(request, path, type);
}

Response Router::servedFile(const Request &request, const QString &path, const QByteArray &type)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return notFound();

    Response r;
    r.contentType = type;
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
