// Books as EPUBs for reading apps, and the feed of an account's own shelf behind its password.
#include "routes/Router.h"

#include "routes/EpubCache.h"
#include "routes/OpdsCatalogue.h"
#include "routes/RouterSupport.h"
#include "store/BookStorage.h"
#include "store/Store.h"
#include "text/EpubWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

using namespace RouterSupport;
using namespace Qt::StringLiterals;

namespace {

// Changes whenever the writer makes something else of the same book, so EPUBs kept by an
// older server are made again.
const char kEpubVersion[] = "folioway-epub-1";
constexpr qint64 kMaxCoverBytes = 16ll * 1024 * 1024;
// The books of a personal feed at most, the ones read last; a shelf seldom holds a tenth.
constexpr int kMaxShelfBooks = 2000;
const QString kReading = QStringLiteral("reading");

Response plain(int status, const QString &text)
{
    Response r = Response::text(status, text.toUtf8() + '\n');
    r.addHeader("Cache-Control", "no-store");
    return r;
}

Response busy()
{
    Response r = plain(503, QStringLiteral("服务器正忙，请稍后再试。"));
    r.addHeader("Retry-After", "5");
    return r;
}

// Asks the reading app for the account's name and password.
Response challenge(const QString &why)
{
    Response r = plain(401, why);
    r.addHeader("WWW-Authenticate", R"(Basic realm="Folioway", charset="UTF-8")");
    return r;
}

QByteArray coverType(const QString &fileName)
{
    const QString ext = BookStorage::extension(fileName);
    return ext == u"jpg" || ext == u"jpeg" ? "image/jpeg"
           : ext == u"gif"                 ? "image/gif"
           : ext == u"png"                 ? "image/png"
                                           : "";
}

// Whether an image's bytes hold what a reader needs to show it, up to its size: a cover cut
// short or not an image at all would make the EPUB invalid, so the EPUB goes without it.
bool imageLooksWhole(QByteArrayView bytes, QByteArrayView type)
{
    const auto at = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0u; };
    if (type == "image/gif")
        return (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")) && bytes.size() > 13 && bytes.endsWith(";");
    if (type == "image/png")
        return bytes.size() > 24 && bytes.startsWith("\x89PNG\r\n\x1a\n") && bytes.sliced(12).startsWith("IHDR");
    if (type != "image/jpeg" || at(0) != 0xFF || at(1) != 0xD8)
        return false;
    // The segments up to the frame header, which gives the size.
    for (qsizetype i = 2; i + 4 <= bytes.size();) {
        if (at(i) != 0xFF)
            return false;
        const uint marker = at(i + 1);
        const qsizetype length = qsizetype(at(i + 2) << 8 | at(i + 3));
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return length >= 8 && i + 2 + length <= bytes.size();
        if (length < 2)
            return false;
        i += 2 + length;
    }
    return false;
}

} // namespace

Response Router::bookEpub(const Request &request, const BookRow &b) const
{
    return epubAnswer(request, epubSourceOf(b));
}

Router::EpubSource Router::epubSourceOf(const BookRow &b) const
{
    const QDir folder(QDir(m_config.booksDir()).filePath(QString::number(b.id)));
    EpubSource source;
    source.path = folder.filePath(b.fileName);
    source.cover = b.coverName.isEmpty() ? QString() : folder.filePath(b.coverName);
    source.keyPrefix = QString::number(b.id);
    source.title = b.name;
    source.author = b.author;
    source.subject = b.category;
    source.identifier = QStringLiteral("urn:folioway:book:%1").arg(b.id);
    source.date = QDateTime::fromString(b.updated, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return source;
}

Response Router::epubAnswer(const Request &request, const EpubSource &source) const
{
    // An EPUB is named by everything that went into it: a replaced book file gets a new one.
    const auto keyOf = [this, source](bool compute) {
        const QString content = m_epubs->contentHash(source.path, compute);
        if (content.isEmpty())
            return QString();
        const QString cover = source.cover.isEmpty() ? QString() : m_epubs->contentHash(source.cover, compute);
        if (!source.cover.isEmpty() && cover.isEmpty() && !compute)
            return QString();
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (const QString &part : {QString::fromLatin1(kEpubVersion), content, cover, source.title, source.author,
                                    source.subject, source.identifier, source.date.toString(Qt::ISODate),
                                    source.reading})
            hash.addData((part + u'\n').toUtf8());
        return source.keyPrefix + u'-' + QString::fromLatin1(hash.result().toHex());
    };
    const QByteArray type = "application/epub+zip";
    // Kept already, and the book's hash known: answered at once.
    if (const QString key = keyOf(false); !key.isEmpty()) {
        if (const QString kept = m_epubs->find(key); !kept.isEmpty())
            return servedFile(request, kept, type);
    }
    // Else hashed and built on the queue for long work, never on a thread answering requests.
    Response r = busy();
    r.deferredLong = true;
    r.deferred = [this, request, source, keyOf, type] {
        const QString key = keyOf(true);
        if (key.isEmpty())
            return notFound();
        const EpubCache::Built built = m_epubs->build(key, [&](const QString &target, QString *error) {
            EpubBook book;
            book.path = source.path;
            book.reading = BookReading::fromText(source.reading);
            // Built once and sent many times, often over slow links: worth the deflating.
            book.compressionLevel = 6;
            book.title = source.title;
            book.author = source.author;
            book.subject = source.subject;
            book.identifier = source.identifier;
            book.date = source.date;
            if (QFile cover(source.cover);
                !source.cover.isEmpty() && cover.size() <= kMaxCoverBytes && cover.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = cover.readAll();
                if (imageLooksWhole(bytes, coverType(source.cover))) {
                    book.cover = bytes;
                    book.coverType = coverType(source.cover);
                }
            }
            EpubResult result = WriteEpub(book, target);
            // A way of the reader's own that cannot be followed here (a rule that runs out of
            // matching steps) gives the book cut the default way, as the web reader does.
            if (!result.ok && !source.reading.isEmpty()) {
                book.reading = {};
                result = WriteEpub(book, target);
            }
            if (!result.ok) {
                logEvent(QStringLiteral("epub %1 failed: %2").arg(source.keyPrefix, result.errorMessage));
                *error = QStringLiteral("服务器未能生成这本书的EPUB，请稍后再试。");
            }
            return result.ok;
        });
        if (built.path.isEmpty())
            return plain(500, built.error);
        return servedFile(request, built.path, type);
    };
    return r;
}

Response Router::personalFeed(const Request &request, const QString &rest) const
{
    // Checked before the password, so an address nobody serves costs no password check.
    static const QRegularExpression copyFile(QStringLiteral("^p([0-9]{1,15})\\.(txt|epub)$|^b([0-9]{1,15})\\.epub$"));
    const QRegularExpressionMatch copyAsked = copyFile.match(rest);
    if (!rest.isEmpty() && !copyAsked.hasMatch())
        return notFound();
    // A password sent in the clear is never looked at.
    if (!request.secure)
        return plain(403, QStringLiteral("个人书架只能通过 https 访问，以免密码在网络上明文传送。"
                                         "请在阅读软件中把书库地址改为以 https:// 开头的地址（本次未核对密码）。"));
    QString name;
    QString password;
    const QByteArray authorization = request.header("authorization").trimmed();
    if (authorization.left(6).toLower() == "basic ") {
        const auto decoded =
            QByteArray::fromBase64Encoding(authorization.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        const QString text = decoded ? QString::fromUtf8(*decoded) : QString();
        if (const qsizetype colon = text.indexOf(u':'); colon > 0 && text.size() <= 256) {
            name = text.left(colon).trimmed();
            password = text.mid(colon + 1).trimmed();
        }
    }
    if (name.isEmpty() || password.isEmpty())
        return challenge(QStringLiteral("请输入 Folioway 账号的用户名和密码。"));
    return throttledLogin(
        name, request, busy(), [](const QString &why) { return plain(429, why); },
        [this, name, password, request, copyAsked](const QList<Throttle> &throttles) {
            QString why;
            const auto user = checkedPassword(name, password, throttles, request.peer, &why);
            if (!user)
                return challenge(why);
            if (!copyAsked.captured(3).isEmpty())
                return shelfBookEpub(request, user->id, copyAsked.captured(3).toLongLong());
            if (copyAsked.hasMatch())
                return privateCopyFile(request, user->id, copyAsked.captured(1).toLongLong(),
                                       copyAsked.captured(2) == u"epub");
            const auto shelved = shelfBooks(user->id);
            bool ok = false;
            const QList<PrivateCopy> copies = PrivateCopies::listFor(store(), m_config.booksDir(), user->id, &ok);
            if (!shelved || !ok)
                return unavailable();
            QList<BookRow> books;
            QSet<qint64> ownWay;
            for (const auto &[book, key] : *shelved) {
                books.append(book);
                if (!readingOf(user->id, key).isEmpty())
                    ownWay.insert(book.id);
            }
            Response r;
            r.contentType = OpdsCatalogue::kAcquisitionType;
            r.addHeader("Cache-Control", "private, no-store");
            r.body = OpdsCatalogue(store(), m_config.booksDir(), m_config.pageSize).shelf(user->name, books, copies, ownWay);
            return r;
        });
}

Response Router::privateCopyFile(const Request &request, qint64 userId, qint64 copyId, bool epub) const
{
    // Anybody else's copy is answered exactly like one that does not exist.
    const std::optional<PrivateCopy> copy = PrivateCopies::readable(store(), m_config.booksDir(), userId, copyId);
    if (!copy)
        return notFound();
    if (!epub) {
        Response r = servedFile(request, copy->filePath,
                                "text/plain; charset=" + OpdsCatalogue::textCharset(copy->filePath));
        r.addHeader("Cache-Control", "private, no-store");
        return r;
    }
    EpubSource source;
    source.path = copy->filePath;
    source.keyPrefix = u"p"_s + QString::number(copy->id);
    source.title = copy->name;
    source.author = copy->author;
    source.identifier = u"urn:folioway:private:"_s + copy->fingerprint;
    source.date = QDateTime::fromString(copy->created, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    source.reading = readingOf(userId, copy->fingerprint);
    return epubAnswer(request, source);
}

std::optional<QList<std::pair<BookRow, QString>>> Router::shelfBooks(qint64 userId) const
{
    bool ok = false;
    const QList<ShelfEntry> entries = store().sync().shelf(userId, &ok);
    if (!ok)
        return std::nullopt;
    QList<std::pair<BookRow, QString>> books;
    QSet<qint64> listed;
    for (const ShelfEntry &e : entries) {
        bool isId = false;
        const qint64 id =
            QJsonDocument::fromJson(e.entry.payload.toUtf8()).object().value(u"catalogue").toString().toLongLong(&isId);
        const auto b = isId && !listed.contains(id) ? store().catalogue().book(id) : std::nullopt;
        if (b && b->review == Review::Approved && books.size() < kMaxShelfBooks) {
            listed.insert(id);
            books.append({*b, e.entry.key});
        }
    }
    return books;
}

QString Router::readingOf(qint64 userId, const QString &key) const
{
    const auto chosen = store().sync().item(userId, kReading, key);
    return chosen && !chosen->deleted ? BookReading::fromText(chosen->payload).toText() : QString();
}

Response Router::shelfBookEpub(const Request &request, qint64 userId, qint64 bookId) const
{
    const auto shelved = shelfBooks(userId);
    if (!shelved)
        return unavailable();
    for (const auto &[book, key] : *shelved) {
        if (book.id != bookId || BookStorage::extension(book.fileName) != u"txt")
            continue;
        EpubSource source = epubSourceOf(book);
        source.reading = readingOf(userId, key);
        return epubAnswer(request, source);
    }
    return notFound();
}
