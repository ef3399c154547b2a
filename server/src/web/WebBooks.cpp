#include "web/WebBooks.h"

#include "store/BookStorage.h"
#include "store/StoreCatalogue.h"
#include "web/WebScript.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const QString kFolder = QStringLiteral(".reader");
const QString kText = QStringLiteral("text.utf8");
const QString kPacked = QStringLiteral("chapters.z");
const QString kList = QStringLiteral("toc.json");

// zlib's format, which is what browsers take as "deflate".
QByteArray deflated(const QByteArray &plain)
{
    return qCompress(plain, 6).mid(4);
}

QString fingerprintOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return {};
    return QStringLiteral("%1:%2").arg(file.size()).arg(QString::fromLatin1(hash.result().toHex()));
}

std::shared_ptr<WebToc> failed(const QString &message)
{
    auto toc = std::make_shared<WebToc>();
    toc->error = message;
    return toc;
}

} // namespace

std::shared_ptr<const WebToc> WebBooks::toc(const BookRow &book) const
{
    if (BookStorage::extension(book.fileName) != u"txt")
        return failed(QStringLiteral("这本书不是文本文件，请在电脑上阅读。"));
    const QString bookDir = QDir(m_booksDir).filePath(QString::number(book.id));
    return toc(QDir(bookDir).filePath(book.fileName), book.id);
}

std::shared_ptr<const WebToc> WebBooks::toc(const QString &source, qint64 cacheKey) const
{
    const QString bookDir = QFileInfo(source).absolutePath();
    const QFileInfo info(source);
    if (!info.isFile())
        return failed(QStringLiteral("服务器上找不到这本书的文件。"));
    if (info.size() > kMaxBookBytes)
        return failed(QStringLiteral("这本书太大（超过%1MB），请在电脑上阅读。").arg(kMaxBookBytes >> 20));
    const QString version =
        QStringLiteral("%1-%2-%3").arg(WebSourceVersion()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    {
        std::lock_guard lock(m_cacheMutex);
        if (const auto kept = m_cache.value(cacheKey); kept && kept->version == version)
            return kept;
    }
    std::lock_guard building(m_buildMutex);
    {
        std::lock_guard lock(m_cacheMutex);
        if (const auto kept = m_cache.value(cacheKey); kept && kept->version == version)
            return kept;
    }
    const QString dir = QDir(bookDir).filePath(kFolder);
    std::shared_ptr<const WebToc> toc = readKept(dir, version);
    if (!toc)
        toc = build(source, dir, version);
    if (toc->ok()) {
        std::lock_guard lock(m_cacheMutex);
        if (m_cache.size() > 2000)
            m_cache.clear();
        m_cache.insert(cacheKey, toc);
    }
    return toc;
}

std::shared_ptr<const WebToc> WebBooks::readKept(const QString &dir, const QString &version)
{
    QFile file(QDir(dir).filePath(kList));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return nullptr;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    if (o.value(u"version").toString() != version)
        return nullptr;
    auto toc = std::make_shared<WebToc>();
    toc->version = version;
    toc->dir = dir;
    toc->fingerprint = o.value(u"fingerprint").toString();
    toc->lineCount = o.value(u"lineCount").toInteger();
    const qint64 textSize = QFileInfo(QDir(dir).filePath(kText)).size();
    const qint64 packedSize = QFileInfo(QDir(dir).filePath(kPacked)).size();
    for (const QJsonValue &v : o.value(u"chapters").toArray()) {
        const QJsonArray a = v.toArray();
        WebChapter c{a.at(0).toString(), a.at(1).toInteger(), a.at(2).toInteger(), a.at(3).toInteger(),
                     a.at(4).toInteger(), a.at(5).toInteger(), a.at(6).toInteger()};
        if (c.textTo > textSize || c.packedTo > packedSize || c.textFrom > c.textTo || c.packedFrom > c.packedTo)
            return nullptr; // left half-written: built again
        toc->chapters.append(c);
    }
    if (toc->chapters.isEmpty() || toc->fingerprint.isEmpty())
        return nullptr;
    return toc;
}

std::shared_ptr<const WebToc> WebBooks::build(const QString &source, const QString &dir, const QString &version) const
{
    const WebSource read = ReadWebSource(source);
    if (!read.error.isEmpty())
        return failed(read.error);
    if (read.entries.size() > kMaxChapters)
        return failed(QStringLiteral("这本书的章节太多，请在电脑上阅读。"));
    auto toc = std::make_shared<WebToc>();
    toc->version = version;
    toc->dir = dir;
    toc->fingerprint = fingerprintOf(source);
    // Lines 0 .. the last chapter's last line make up the book, as the desktop counts them.
    toc->lineCount = read.entries.isEmpty() ? 0 : read.entries.last().lastLine + 1;
    const QString busy = QStringLiteral("服务器暂时无法准备这本书，请稍后再试。");
    if (toc->fingerprint.isEmpty() || !QDir().mkpath(dir))
        return failed(busy);

    QSaveFile text(QDir(dir).filePath(kText));
    QSaveFile packed(QDir(dir).filePath(kPacked));
    QSaveFile list(QDir(dir).filePath(kList));
    if (!text.open(QIODevice::WriteOnly) || !packed.open(QIODevice::WriteOnly) || !list.open(QIODevice::WriteOnly))
        return failed(busy);
    QJsonArray chapters;
    qint64 textAt = 0;
    qint64 packedAt = 0;
    for (const WebSource::Entry &e : read.entries) {
        QString plain;
        for (qint64 line = e.firstLine; line <= e.lastLine && line < read.lines.size(); ++line)
            plain += read.lines.at(line) + u'\n';
        const QByteArray utf8 = plain.toUtf8();
        const QByteArray z = deflated(utf8);
        WebChapter c{e.title, e.firstLine, e.lastLine, textAt, textAt + utf8.size(), packedAt, packedAt + z.size()};
        if (text.write(utf8) != utf8.size() || packed.write(z) != z.size())
            return failed(busy);
        textAt = c.textTo;
        packedAt = c.packedTo;
        chapters.append(QJsonArray{c.title, c.firstLine, c.lastLine, c.textFrom, c.textTo, c.packedFrom, c.packedTo});
        toc->chapters.append(c);
    }
    const QJsonObject o{{QStringLiteral("version"), version},
                        {QStringLiteral("fingerprint"), toc->fingerprint},
                        {QStringLiteral("lineCount"), toc->lineCount},
                        {QStringLiteral("chapters"), chapters}};
    list.write(QJsonDocument(o).toJson(QJsonDocument::Compact));
    // The list goes last: a list on disk always points into complete files.
    if (!text.commit() || !packed.commit() || !list.commit())
        return failed(busy);
    return toc;
}

Response WebBooks::chapter(const WebToc &toc, int number, bool deflate, const QString &script) const
{
    Response r;
    if (number < 1 || number > toc.chapters.size())
        return Response::text(404, "404 Not Found\n");
    const WebChapter &c = toc.chapters.at(number - 1);
    r.contentType = "text/plain; charset=utf-8";
    r.addHeader("Vary", "Accept-Encoding");
    r.addHeader("Cache-Control", "private, max-age=86400");
    if (script.isEmpty() && deflate) {
        r.addHeader("Content-Encoding", "deflate");
        r.filePath = QDir(toc.dir).filePath(kPacked);
        r.fileOffset = c.packedFrom;
        r.fileLength = c.packedTo - c.packedFrom;
        return r;
    }
    QFile file(QDir(toc.dir).filePath(kText));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(c.textFrom))
        return Response::text(503, "503 Service Unavailable\n");
    QByteArray body = file.read(c.textTo - c.textFrom);
    if (!script.isEmpty())
        body = WebScript::convert(QString::fromUtf8(body), script).toUtf8();
    if (deflate) {
        r.addHeader("Content-Encoding", "deflate");
        body = deflated(body);
    }
    r.body = std::move(body);
    return r;
}
