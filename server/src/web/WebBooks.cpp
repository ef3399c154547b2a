#include "web/WebBooks.h"

#include "store/BookPrint.h"
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
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <future>

namespace {

const QString kFolder = QStringLiteral(".reader");
const QString kLines = QStringLiteral("lines.bin");
const QString kList = QStringLiteral("toc.json");
const QString kRules = QStringLiteral("rules");

QString kBusy()
{
    return QStringLiteral("服务器暂时无法准备这本书，请稍后再试。");
}

// The folder name of a way of reading a book.
QString ruleName(const QString &canonical)
{
    return QString::fromLatin1(QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

// zlib's format, which is what browsers take as "deflate".
QByteArray deflated(const QByteArray &plain)
{
    return qCompress(plain, 6).mid(4);
}

// Written whole or not at all, without waiting for the disk: a file left half-written by a
// crash is found out by readKept() and built again.
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QFile part(path + QStringLiteral(".part"));
    const bool ok = part.open(QIODevice::WriteOnly | QIODevice::Truncate) && part.write(bytes) == bytes.size();
    part.close();
    return ok && ::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(path).constData()) == 0;
}

void appendJson(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    qsizetype plain = 0; // where the run not yet appended starts
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = uchar(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8.constData() + plain, i - plain);
        out += c < 0x20 ? "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0') : QByteArray(1, '\\') + char(c);
        plain = i + 1;
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out += '"';
}

// The chapters in JSON, written out directly: for a long list QJsonDocument takes as long as
// finding the chapters did.
QByteArray chapterList(const QList<WebChapter> &chapters)
{
    QByteArray out;
    out.reserve(64 * chapters.size() + 2);
    out += '[';
    for (const WebChapter &c : chapters) {
        out += '[';
        appendJson(out, c.title);
        out += ',';
        out += QByteArray::number(c.firstLine);
        out += ',';
        out += QByteArray::number(c.lastLine);
        out += "],";
    }
    if (out.endsWith(','))
        out.chop(1);
    return out + ']';
}

QByteArray keptForm(const WebToc &toc)
{
    QByteArray out;
    const std::pair<const char *, QString> texts[] = {{"{\"version\":", toc.version},
                                                      {",\"fingerprint\":", toc.fingerprint},
                                                      {",\"encoding\":", EncodingName(toc.encoding)},
                                                      {",\"rule\":", toc.rule}};
    for (const auto &[key, value] : texts) {
        out += key;
        appendJson(out, value);
    }
    return out + ",\"lineCount\":" + QByteArray::number(toc.lineCount) + ",\"chapters\":" + toc.chapterList + '}';
}

std::shared_ptr<WebToc> failed(const QString &message)
{
    auto toc = std::make_shared<WebToc>();
    toc->error = message;
    return toc;
}

void keepFailure(const QString &dir, const QString &version, const QString &message)
{
    QSaveFile list(QDir(dir).filePath(kList));
    if (!QDir().mkpath(dir) || !list.open(QIODevice::WriteOnly))
        return;
    list.write(QJsonDocument(QJsonObject{{QStringLiteral("version"), version}, {QStringLiteral("failed"), message}})
                   .toJson(QJsonDocument::Compact));
    list.commit();
}

} // namespace

WebBooks::Place WebBooks::placeOf(const BookRow &book) const
{
    if (BookStorage::extension(book.fileName) != u"txt") {
        Place p;
        p.error = QStringLiteral("这本书不是文本文件，请在电脑上阅读。");
        return p;
    }
    const QString bookDir = QDir(m_booksDir).filePath(QString::number(book.id));
    return placeAt(QDir(bookDir).filePath(book.fileName), QString::number(book.id));
}

WebBooks::Place WebBooks::placeAt(const QString &source, const QString &key)
{
    Place p;
    p.source = source;
    p.key = key + u'/';
    const QFileInfo info(p.source);
    if (!info.isFile())
        p.error = QStringLiteral("服务器上找不到这本书的文件。");
    else if (info.size() > kMaxBookBytes)
        p.error = QStringLiteral("这本书太大（超过%1MB），请在电脑上阅读。").arg(kMaxBookBytes >> 20);
    p.version =
        QStringLiteral("%1-%2-%3").arg(WebSourceVersion()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    p.dir = QDir(info.absolutePath()).filePath(kFolder);
    return p;
}

std::shared_ptr<const WebToc> WebBooks::cached(const QString &key, const QString &version) const
{
    std::lock_guard lock(m_cacheMutex);
    const auto at = m_cache.constFind(key);
    return at != m_cache.cend() && at->version == version ? at->toc : nullptr;
}

void WebBooks::remember(const QString &key, const QString &version, std::shared_ptr<const WebToc> toc) const
{
    std::lock_guard lock(m_cacheMutex);
    if (m_cache.size() > 2000)
        m_cache.clear();
    m_cache.insert(key, {version, std::move(toc)});
}

std::shared_ptr<const WebToc> WebBooks::toc(const BookRow &book, const QString &reading) const
{
    return tocAt(placeOf(book), reading);
}

std::shared_ptr<const WebToc> WebBooks::toc(const QString &source, const QString &key, const QString &reading) const
{
    return tocAt(placeAt(source, key), reading);
}

std::shared_ptr<const WebToc> WebBooks::kept(const BookRow &book, const QString &rule) const
{
    return keptAt(placeOf(book), rule);
}

std::shared_ptr<const WebToc> WebBooks::kept(const QString &source, const QString &key, const QString &rule) const
{
    return keptAt(placeAt(source, key), rule);
}

std::shared_ptr<const WebToc> WebBooks::tocAt(const Place &place, const QString &reading) const
{
    if (!place.error.isEmpty())
        return failed(place.error);
    const QString &key = place.key;
    std::shared_ptr<const WebToc> base = cached(key, place.version);
    if (!base) {
        std::lock_guard building(m_buildMutex); // a burst builds it once
        base = cached(key, place.version);
        if (!base) {
            base = readKept(place.source, place.dir, place.version);
            if (!base || !base->ok())
                base = build(place.source, place.dir, place.version, {}, BookPrint::kept(place.source));
            if (!base->ok())
                return base;
            remember(key, place.version, base);
        }
    }
    const QString canonical = CanonicalReading(reading);
    if (canonical.isEmpty())
        return base;
    const QString rule = ruleName(canonical);
    const QString version = place.version + u'-' + rule;
    if (auto toc = cached(key + rule, version))
        return toc;
    std::lock_guard building(m_buildMutex);
    if (auto toc = cached(key + rule, version))
        return toc;
    const QString rules = QDir(place.dir).filePath(kRules);
    const QString dir = QDir(rules).filePath(rule);
    std::shared_ptr<const WebToc> toc = readKept(place.source, dir, version);
    if (!toc) {
        if (!QFileInfo(dir).isDir())
            makeRoom(rules);
        toc = build(place.source, dir, version, canonical, base->fingerprint);
        // The way itself failed, not the disk: remembered, so it is not tried again on this file.
        if (!toc->ok() && toc->error != kBusy())
            keepFailure(dir, version, toc->error);
    }
    if (!toc->ok()) {
        auto fallback = std::make_shared<WebToc>(*base);
        fallback->notice = QStringLiteral("你在电脑上为这本书选的分章方式在这里无法使用（%1），已按默认规则分章。")
                               .arg(toc->error.left(200));
        toc = std::move(fallback);
    }
    remember(key + rule, version, toc);
    return toc;
}

std::shared_ptr<const WebToc> WebBooks::keptAt(const Place &place, const QString &rule) const
{
    static const QRegularExpression name(QStringLiteral("^[0-9a-f]{16}$"));
    if (!place.error.isEmpty() || !name.match(rule).hasMatch())
        return nullptr;
    const QString key = place.key + rule;
    const QString version = place.version + u'-' + rule;
    if (auto toc = cached(key, version))
        return toc->rule == rule ? toc : nullptr;
    std::lock_guard building(m_buildMutex);
    auto toc = readKept(place.source, QDir(place.dir).filePath(kRules + u'/' + rule), version);
    if (!toc || !toc->ok())
        return nullptr;
    remember(key, version, toc);
    return toc;
}

void WebBooks::makeRoom(const QString &rulesDir) const
{
    QDir rules(rulesDir);
    QFileInfoList kept = rules.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time); // newest first
    while (kept.size() >= kMaxRulesPerBook) {
        QDir(kept.takeLast().absoluteFilePath()).removeRecursively();
        std::lock_guard lock(m_cacheMutex);
        m_cache.removeIf([](const auto &entry) { return !QFileInfo(entry.value().toc->dir).isDir(); });
    }
}

std::shared_ptr<const WebToc> WebBooks::readKept(const QString &source, const QString &dir, const QString &version)
{
    QFile file(QDir(dir).filePath(kList));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return nullptr;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    if (o.value(u"version").toString() != version)
        return nullptr;
    if (o.contains(u"failed"))
        return failed(o.value(u"failed").toString());
    const auto encoding = EncodingFromName(o.value(u"encoding").toString());
    auto toc = std::make_shared<WebToc>();
    toc->version = version;
    toc->dir = dir;
    toc->source = source;
    toc->rule = o.value(u"rule").toString();
    toc->fingerprint = o.value(u"fingerprint").toString();
    toc->lineCount = o.value(u"lineCount").toInteger();
    const qint64 starts = QFileInfo(QDir(dir).filePath(kLines)).size() / qint64(sizeof(qint64));
    for (const QJsonValue &v : o.value(u"chapters").toArray()) {
        const QJsonArray a = v.toArray();
        WebChapter c{a.at(0).toString(), a.at(1).toInteger(), a.at(2).toInteger()};
        if (c.firstLine < 0 || c.lastLine + 1 >= starts)
            return nullptr; // left half-written: built again
        toc->chapters.append(c);
    }
    if (!encoding || toc->chapters.isEmpty() || toc->fingerprint.isEmpty())
        return nullptr;
    toc->chapterList = chapterList(toc->chapters);
    toc->encoding = *encoding;
    return toc;
}

std::shared_ptr<const WebToc> WebBooks::build(const QString &source, const QString &dir, const QString &version,
                                              const QString &reading, const QString &fingerprint) const
{
    // A book not named when it was stored is named on the other core while the chapters are found.
    std::future<QString> print;
    if (fingerprint.isEmpty())
        print = std::async(std::launch::async, BookPrint::ofFile, source);
    const WebSource read = ReadWebSource(source, reading);
    const QString named = print.valid() ? print.get() : fingerprint;
    if (!read.error.isEmpty())
        return failed(read.error);
    if (read.entries.size() > kMaxChapters)
        return failed(QStringLiteral("这本书的章节太多，请在电脑上阅读。"));
    auto toc = std::make_shared<WebToc>();
    toc->version = version;
    toc->dir = dir;
    toc->source = source;
    toc->encoding = read.encoding;
    toc->rule = reading.isEmpty() ? QString() : ruleName(reading);
    toc->fingerprint = named;
    // Lines 0 .. the last chapter's last line make up the book, as the desktop counts them.
    toc->lineCount = read.entries.isEmpty() ? 0 : read.entries.last().lastLine + 1;
    if (toc->fingerprint.isEmpty() || !QDir().mkpath(dir))
        return failed(kBusy());
    toc->chapters.reserve(read.entries.size());
    for (const WebSource::Entry &e : read.entries)
        toc->chapters.append({e.title, e.firstLine, e.lastLine});
    toc->chapterList = chapterList(toc->chapters);
    const QByteArray starts(reinterpret_cast<const char *>(read.lineStarts.data()),
                            qsizetype(read.lineStarts.size() * sizeof(qint64)));
    // The list goes last: a list on disk always goes with complete line starts.
    if (!writeWhole(QDir(dir).filePath(kLines), starts) || !writeWhole(QDir(dir).filePath(kList), keptForm(*toc)))
        return failed(kBusy());
    // What an older build kept there is no longer read.
    for (const char *old : {"text.utf8", "chapters.z"})
        QFile::remove(QDir(dir).filePath(QLatin1String(old)));
    return toc;
}

std::optional<QByteArray> WebBooks::plainText(const WebToc &toc, const WebChapter &c)
{
    if (c.lastLine < c.firstLine)
        return QByteArray();
    QFile lines(QDir(toc.dir).filePath(kLines));
    QFile source(toc.source);
    std::vector<qint64> starts(size_t(c.lastLine - c.firstLine + 2));
    const qint64 bytes = qint64(starts.size() * sizeof(qint64));
    if (!lines.open(QIODevice::ReadOnly) || !lines.seek(c.firstLine * qint64(sizeof(qint64))) ||
        lines.read(reinterpret_cast<char *>(starts.data()), bytes) != bytes || !source.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ReadWebLines(source, toc.encoding, starts);
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
    if (!toc.rule.isEmpty())
        r.addHeader("X-Folioway-Rule", toc.rule.toLatin1());
    if (deflate)
        r.addHeader("Content-Encoding", "deflate");
    const QString key = toc.dir + u'|' + toc.version + u'|' + QString::number(number);
    if (script.isEmpty() && deflate) {
        std::lock_guard lock(m_chapterMutex);
        if (const QByteArray *kept = m_chapters.object(key)) {
            r.body = *kept;
            return r;
        }
    }
    std::optional<QByteArray> body = plainText(toc, c);
    if (!body)
        return Response::text(503, "503 Service Unavailable\n");
    if (!script.isEmpty())
        body = WebScript::convert(QString::fromUtf8(*body), script).toUtf8();
    r.body = deflate ? deflated(*body) : *body;
    if (script.isEmpty() && deflate) {
        std::lock_guard lock(m_chapterMutex);
        m_chapters.insert(key, new QByteArray(r.body), std::max<qsizetype>(1, r.body.size() / 1024));
    }
    return r;
}
