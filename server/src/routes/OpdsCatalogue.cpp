#include "routes/OpdsCatalogue.h"

#include "routes/RouterSupport.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QXmlStreamWriter>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

using RouterSupport::kilobytes;

const QString kAtom = QStringLiteral("http://www.w3.org/2005/Atom");
const QString kDublinCore = QStringLiteral("http://purl.org/dc/terms/");
// The namespaces the reading apps expect, written out whole by the feed: OpenSearch's, and the
// one the catalogue format's link relations live in.
const QString kOpenSearch = QStringLiteral("http://a9.com/-/") + QStringLiteral("sp") + QStringLiteral("ec/opensearch/1.1/");
const QString kRelations = QStringLiteral("http://opds-") + QStringLiteral("sp") + QStringLiteral("ec.org/");
const QString kStart = QStringLiteral("/opds");
const QString kSearchDescription = QStringLiteral("/opds/search.xml");
const QString kTitle = QStringLiteral("Folioway 书库");

// Text the catalogue holds may carry characters XML 1.0 cannot (control characters pasted
// into a summary); they are dropped, everything else is escaped by the writer.
QString clean(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
            continue;
        out.append(c);
    }
    return out;
}

// The catalogue keeps local times as "yyyy-MM-dd HH:mm:ss"; Atom wants them with their zone.
QString atomTime(const QString &stored)
{
    QDateTime t = QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        t = QDateTime::fromSecsSinceEpoch(0);
    return t.toUTC().toString(Qt::ISODate);
}

// The newest change among rows, for the feed's own time.
QString newest(const QList<BookRow> &rows)
{
    QString latest;
    for (const BookRow &b : rows)
        latest = std::max(latest, b.updated);
    return latest.isEmpty() ? QDateTime::currentDateTimeUtc().toString(Qt::ISODate) : atomTime(latest);
}

QString bookAddress(const BookRow &b, const QString &fileName)
{
    return QStringLiteral("/books/%1/%2").arg(b.id).arg(QString::fromLatin1(QUrl::toPercentEncoding(fileName)));
}

QString pageAddress(const QString &address, int page)
{
    return address + (address.contains(u'?') ? u'&' : u'?') + QStringLiteral("page=") + QString::number(page);
}

QString fileType(const QString &fileName)
{
    const QString ext = BookStorage::extension(fileName);
    return ext == u"zip"   ? QStringLiteral("application/zip")
           : ext == u"rar" ? QStringLiteral("application/vnd.rar")
           : ext == u"jpg" ? QStringLiteral("image/jpeg")
           : ext == u"gif" ? QStringLiteral("image/gif")
                           : QStringLiteral("application/octet-stream");
}

// Whether bytes read as UTF-8; a sequence cut off at the end of the sample still counts.
bool readsAsUtf8(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        const uchar c = uchar(bytes[i++]);
        const int more = c < 0x80                           ? 0
                         : (c & 0xE0) == 0xC0 && c >= 0xC2  ? 1
                         : (c & 0xF0) == 0xE0               ? 2
                         : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 3
                                                            : -1;
        if (more < 0)
            return false;
        for (int k = 0; k < more && i < bytes.size(); ++k)
            if ((uchar(bytes[i++]) & 0xC0) != 0x80)
                return false;
    }
    return true;
}

// One Atom feed document, written as it is built.
class Feed
{
public:
    Feed(const QString &id, const QString &title, const QString &updated, const QString &self, const char *selfType)
        : m_w(&m_out)
    {
        m_w.writeStartDocument();
        m_w.writeStartElement(QStringLiteral("feed"));
        m_w.writeDefaultNamespace(kAtom);
        m_w.writeNamespace(kDublinCore, QStringLiteral("dc"));
        m_w.writeNamespace(kOpenSearch, QStringLiteral("opensearch"));
        text("id", id);
        text("title", title);
        text("updated", updated);
        author(QStringLiteral("Folioway"));
        link("self", self, QString::fromLatin1(selfType));
        link("start", kStart, QString::fromLatin1(OpdsCatalogue::kNavigationType));
        link("search", kSearchDescription, QStringLiteral("application/opensearchdescription+xml"));
    }

    void text(const char *name, const QString &value, const QString &ns = {})
    {
        if (ns.isEmpty())
            m_w.writeTextElement(QString::fromLatin1(name), clean(value));
        else
            m_w.writeTextElement(ns, QString::fromLatin1(name), clean(value));
    }
    void typedText(const char *name, const QString &value)
    {
        m_w.writeStartElement(QString::fromLatin1(name));
        m_w.writeAttribute(QStringLiteral("type"), QStringLiteral("text"));
        m_w.writeCharacters(clean(value));
        m_w.writeEndElement();
    }
    void author(const QString &name)
    {
        m_w.writeStartElement(QStringLiteral("author"));
        text("name", name);
        m_w.writeEndElement();
    }
    void link(const QString &rel, const QString &href, const QString &type, const QString &title = {},
              qint64 length = -1)
    {
        m_w.writeEmptyElement(QStringLiteral("link"));
        m_w.writeAttribute(QStringLiteral("rel"), rel);
        m_w.writeAttribute(QStringLiteral("href"), href);
        m_w.writeAttribute(QStringLiteral("type"), type);
        if (!title.isEmpty())
            m_w.writeAttribute(QStringLiteral("title"), clean(title));
        if (length >= 0)
            m_w.writeAttribute(QStringLiteral("length"), QString::number(length));
    }
    void category(const QString &name)
    {
        m_w.writeEmptyElement(QStringLiteral("category"));
        m_w.writeAttribute(QStringLiteral("term"), clean(name));
        m_w.writeAttribute(QStringLiteral("label"), clean(name));
    }
    void startEntry(const QString &id, const QString &title, const QString &updated)
    {
        m_w.writeStartElement(QStringLiteral("entry"));
        text("title", title);
        text("id", id);
        text("updated", updated);
    }
    void end() { m_w.writeEndElement(); }
    QByteArray take()
    {
        m_w.writeEndDocument();
        return std::move(m_out);
    }

private:
    QByteArray m_out;
    QXmlStreamWriter m_w;
};

// One book of an acquisition feed, with its downloads and cover.
void entry(Feed &feed, const BookRow &b, const QString &booksDir, const QString &epubAddress = {})
{
    feed.startEntry(QStringLiteral("urn:folioway:book:%1").arg(b.id), b.name, atomTime(b.updated));
    feed.author(b.author);
    feed.text("language", QStringLiteral("zh"), kDublinCore);
    feed.category(b.category);
    if (!b.memo.isEmpty())
        feed.typedText("summary", b.memo);
    QString details = QStringLiteral("分类：%1　状态：%2　大小：%3 KB").arg(b.category, b.status, kilobytes(b.fileSize));
    if (!b.newestChapter.isEmpty())
        details += QStringLiteral("　最新章节：") + b.newestChapter;
    feed.typedText("content", details);
    // Text books are served as they were stored, in the encoding they came in.
    const QString publicName = BookStorage::publicName(b);
    const bool text = BookStorage::extension(b.fileName) == u"txt";
    const QString fileType = text ? u"text/plain; charset="_s +
                                        QString::fromLatin1(OpdsCatalogue::textCharset(
                                            QDir(booksDir).filePath(QString::number(b.id) + u'/' + b.fileName)))
                                  : ::fileType(b.fileName);
    feed.link(kRelations + QStringLiteral("acquisition"), bookAddress(b, publicName), fileType, publicName, b.fileSize);
    // Beside it the same book as an EPUB with its chapters, made when first asked for.
    if (text)
        feed.link(kRelations + QStringLiteral("acquisition"),
                  epubAddress.isEmpty() ? bookAddress(b, OpdsCatalogue::epubName(b)) : epubAddress,
                  QStringLiteral("application/epub+zip"), OpdsCatalogue::epubName(b));
    if (!b.coverName.isEmpty()) {
        feed.link(kRelations + QStringLiteral("image"), bookAddress(b, b.coverName), ::fileType(b.coverName));
        feed.link(kRelations + QStringLiteral("image/thumbnail"), bookAddress(b, b.coverName), ::fileType(b.coverName));
    }
    feed.end();
}

} // namespace

QString OpdsCatalogue::epubName(const BookRow &book)
{
    const QString name = BookStorage::publicName(book);
    return name.left(name.lastIndexOf(u'.')) + u".epub"_s;
}

QByteArray OpdsCatalogue::shelf(const QString &account, const QList<BookRow> &books,
                                 const QList<PrivateCopy> &copies, const QSet<qint64> &ownWay) const
{
    QString updated = books.isEmpty() && !copies.isEmpty() ? QString() : newest(books);
    for (const PrivateCopy &c : copies)
        updated = std::max(updated, atomTime(c.created));
    Feed feed(u"urn:folioway:opds:my:"_s + QString::fromLatin1(QUrl::toPercentEncoding(account)),
              u"我的书架（%1）"_s.arg(account), updated, kStart + u"/my"_s, kAcquisitionType);
    feed.link("up", kStart, QString::fromLatin1(kNavigationType));
    for (const BookRow &b : books) {
        const QString ownEpub = kStart + u"/my/b"_s + QString::number(b.id) + u".epub"_s;
        entry(feed, b, m_booksDir, ownWay.contains(b.id) ? ownEpub : QString());
    }
    // The account's own books, kept for it alone: served under /opds/my/ to the same login.
    for (const PrivateCopy &c : copies) {
        feed.startEntry(u"urn:folioway:private:"_s + c.fingerprint, c.name, atomTime(c.created));
        feed.author(c.author);
        feed.text("language", QStringLiteral("zh"), kDublinCore);
        feed.typedText("content", QStringLiteral("我的服务器上的私人副本　大小：%1 KB").arg(kilobytes(c.size)));
        const QString base = kStart + u"/my/p"_s + QString::number(c.id);
        feed.link(kRelations + QStringLiteral("acquisition"), base + u".txt"_s,
                  u"text/plain; charset="_s + QString::fromLatin1(textCharset(c.filePath)), c.name + u".txt"_s, c.size);
        feed.link(kRelations + QStringLiteral("acquisition"), base + u".epub"_s, QStringLiteral("application/epub+zip"),
                  c.name + u".epub"_s);
    }
    return feed.take();
}

QByteArray OpdsCatalogue::textCharset(const QString &path)
{
    QFile f(path);
    const QByteArray head = f.open(QIODevice::ReadOnly) ? f.read(16 * 1024) : QByteArray();
    if (head.startsWith("\xef\xbb\xbf"))
        return "UTF-8";
    if (head.startsWith("\xff\xfe") || head.startsWith("\xfe\xff"))
        return "UTF-16";
    const bool ascii = std::all_of(head.begin(), head.end(), [](char c) { return uchar(c) < 0x80; });
    return !ascii && readsAsUtf8(head) ? "UTF-8" : "GB18030";
}

Response OpdsCatalogue::answer(const QString &rest, const FormCodec::Fields &query) const
{
    const QString lower = rest.toLower();
    const int page = RouterSupport::pageNumber(FormCodec::value(query, u"page"));
    if (lower.isEmpty() || lower == u"/")
        return cached("o|start", [this] { return navigation(); }, kNavigationType);

    if (lower == u"/search.xml") {
        QByteArray out;
        QXmlStreamWriter w(&out);
        w.writeStartDocument();
        w.writeStartElement(QStringLiteral("OpenSearchDescription"));
        w.writeDefaultNamespace(kOpenSearch);
        w.writeTextElement(QStringLiteral("ShortName"), QStringLiteral("Folioway"));
        w.writeTextElement(QStringLiteral("Description"), QStringLiteral("按书名或作者搜索 Folioway 书库"));
        w.writeTextElement(QStringLiteral("InputEncoding"), QStringLiteral("UTF-8"));
        w.writeTextElement(QStringLiteral("OutputEncoding"), QStringLiteral("UTF-8"));
        // Apps differ in the type they look for; both name the same results.
        for (const QString &type : {QString::fromLatin1(kAcquisitionType), QStringLiteral("application/atom+xml")}) {
            w.writeEmptyElement(QStringLiteral("Url"));
            w.writeAttribute(QStringLiteral("type"), type);
            w.writeAttribute(QStringLiteral("template"), QStringLiteral("/opds/search?q={searchTerms}"));
        }
        w.writeEndDocument();
        Response r;
        r.contentType = "application/opensearchdescription+xml";
        r.body = out;
        return r;
    }

    Listing listing;
    if (lower == u"/new") {
        listing = {.cacheKey = "o|new", .id = u"urn:folioway:opds:new"_s, .title = u"最新书籍"_s, .address = kStart + u"/new"_s};
    } else if (lower.startsWith(u"/category/")) {
        bool ok = false;
        const int n = rest.mid(10).toInt(&ok);
        if (!ok || n < 1 || n > Categories::names().size())
            return RouterSupport::notFound();
        listing = {.cacheKey = "o|c|" + QByteArray::number(n),
                   .id = u"urn:folioway:opds:category:%1"_s.arg(n),
                   .title = Categories::names()[n - 1],
                   .address = kStart + u"/category/"_s + QString::number(n),
                   .category = Categories::names()[n - 1]};
    } else if (lower == u"/search") {
        const QString key = RouterSupport::searchKey(FormCodec::value(query, u"q"));
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(key));
        listing = {.cacheKey = "o|s",
                   .id = u"urn:folioway:opds:search:"_s + encoded,
                   .title = u"搜索："_s + key,
                   .address = kStart + u"/search?q="_s + encoded,
                   .searchKey = key,
                   .search = true};
    } else {
        return RouterSupport::notFound();
    }
    return cached(listing.cacheKey + '|' + QByteArray::number(page) + '|' + listing.searchKey.toUtf8(),
                  [&] { return acquisition(listing, page); }, kAcquisitionType);
}

Response OpdsCatalogue::cached(const QByteArray &key, const std::function<std::optional<QByteArray>()> &build,
                               const char *type) const
{
    Response r;
    r.contentType = type;
    r.body = m_store.catalogue().cachedAnswer(key);
    if (!r.body.isEmpty())
        return r;
    std::optional<QByteArray> built = build();
    if (!built)
        return RouterSupport::unavailable();
    m_store.catalogue().rememberAnswer(key, *built);
    r.body = std::move(*built);
    return r;
}

std::optional<QByteArray> OpdsCatalogue::navigation() const
{
    // The newest book of each feed dates its entry; its count describes it.
    QList<BookPage> firsts;
    firsts.append(m_store.catalogue().listBooks({}, 1, 1));
    for (const QString &name : Categories::names())
        firsts.append(m_store.catalogue().listBooks(name, 1, 1));
    if (std::any_of(firsts.begin(), firsts.end(), [](const BookPage &p) { return !p.ok; }))
        return std::nullopt;

    Feed feed(QStringLiteral("urn:folioway:opds"), kTitle, newest(firsts[0].rows), kStart, kNavigationType);
    const QString acquisitionType = QString::fromLatin1(kAcquisitionType);
    for (int i = 0; i < firsts.size(); ++i) {
        const bool all = i == 0;
        const QString name = all ? QStringLiteral("最新书籍") : Categories::names()[i - 1];
        const QString href = all ? kStart + u"/new"_s : kStart + u"/category/"_s + QString::number(i);
        feed.startEntry(all ? QStringLiteral("urn:folioway:opds:new")
                            : QStringLiteral("urn:folioway:opds:category:%1").arg(i),
                        name, newest(firsts[i].rows));
        feed.link(all ? kRelations + QStringLiteral("sort/new") : QStringLiteral("subsection"), href, acquisitionType);
        feed.typedText("content", all ? QStringLiteral("全部分类，最新的在前，共 %1 本").arg(firsts[i].totalBooks)
                                      : QStringLiteral("共 %1 本").arg(firsts[i].totalBooks));
        feed.end();
    }
    return feed.take();
}

std::optional<QByteArray> OpdsCatalogue::acquisition(const Listing &listing, int pageNumber) const
{
    const BookPage result = listing.search ? m_store.catalogue().searchBooks(listing.searchKey, pageNumber, m_pageSize)
                                           : m_store.catalogue().listBooks(listing.category, pageNumber, m_pageSize);
    if (!result.ok)
        return std::nullopt;
    const QString type = QString::fromLatin1(kAcquisitionType);
    const QString navigationType = QString::fromLatin1(kNavigationType);
    Feed feed(listing.id, listing.title, newest(result.rows), pageAddress(listing.address, result.page),
              kAcquisitionType);
    feed.link("up", kStart, navigationType);
    feed.link("first", pageAddress(listing.address, 1), type);
    if (result.page > 1)
        feed.link("previous", pageAddress(listing.address, result.page - 1), type);
    if (result.page < result.totalPages)
        feed.link("next", pageAddress(listing.address, result.page + 1), type);
    feed.link("last", pageAddress(listing.address, result.totalPages), type);
    feed.text("totalResults", QString::number(result.totalBooks), kOpenSearch);
    feed.text("itemsPerPage", QString::number(m_pageSize), kOpenSearch);
    feed.text("startIndex", QString::number(qint64(result.page - 1) * m_pageSize + 1), kOpenSearch);

    for (const BookRow &b : result.rows)
        entry(feed, b, m_booksDir);
    return feed.take();
}
