#include "text/EpubWriter.h"

#include "text/BookScan.h"
#include "text/Chapters.h"
#include "text/EpubDocument.h"
#include "text/ZipWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 ReadBlockBytes = 1024 * 1024;

const char Stylesheet[] = "body { margin: 0 4%; line-height: 1.8; text-align: left; }\n"
                          "h1 { font-size: 1.3em; line-height: 1.4; text-align: center; margin: 1em 0 1.2em 0; }\n"
                          "p { text-indent: 2em; margin: 0 0 0.5em 0; text-align: left; }\n"
                          "nav ol { list-style-type: none; padding-left: 0; }\n"
                          "nav li { margin: 0.3em 0; }\n";

const char Container[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                         "  <rootfiles>\n"
                         "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
                         "  </rootfiles>\n"
                         "</container>\n";

QString xhtmlHead(const QString &title, const QString &stylesheet)
{
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" "
           "xml:lang=\"zh\" lang=\"zh\">\n<head>\n<meta charset=\"UTF-8\"/>\n<title>"_s +
           title + u"</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\""_s + stylesheet +
           u"\"/>\n</head>\n<body>\n"_s;
}

// The file name the cover gets, by its media type; empty for a type readers need not show.
QString coverFile(const QByteArray &type)
{
    return type == "image/jpeg"  ? u"cover.jpg"_s
           : type == "image/png" ? u"cover.png"_s
           : type == "image/gif" ? u"cover.gif"_s
           : type == "image/webp" ? u"cover.webp"_s
                                  : QString();
}

struct Document
{
    QString id;
    QString href;
};

QString contentIdentifier(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return u"urn:folioway:"_s + QString::number(file.size()) + u':' + QString::fromLatin1(hash.result().toHex());
}

class Builder
{
public:
    Builder(const EpubBook &book, const std::atomic_bool *cancel, const EpubProgress &progress)
        : m_book(book)
        , m_cancel(cancel)
        , m_progress(progress)
    {
    }

    EpubResult run(const QString &target);

private:
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    bool writeChapter(const ChapterEntry &entry, bool withFirstLine);
    bool readLines(qint64 first, qint64 last, ParagraphWriter &paragraphs);
    bool readLongLine(qint64 line, ParagraphWriter &paragraphs);
    void decode(QByteArrayView bytes, qsizetype maxUnits, qsizetype *consumed);
    QByteArray packageDocument() const;
    QByteArray navDocument() const;
    QByteArray ncxDocument() const;

    const EpubBook &m_book;
    const std::atomic_bool *m_cancel;
    const EpubProgress &m_progress;
    std::shared_ptr<const BookLineIndex> m_index;
    QFile m_file;
    std::unique_ptr<ZipWriter> m_zip;
    QString m_text; // decoding buffer
    QByteArray m_bytes;
    QString m_title, m_identifier;
    QDateTime m_date;
    QList<Document> m_documents;
    QStringList m_chapterTitles;    // shown titles, escaped
    QList<qsizetype> m_chapterFirst; // each chapter's first document
    qint64 m_reported = -1;
};

void Builder::decode(QByteArrayView bytes, qsizetype maxUnits, qsizetype *consumed)
{
    if (m_text.size() < bytes.size() + 1)
        m_text = QString(bytes.size() + 1, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(m_text.data());
    const qsizetype units = DecodeTextInto(m_index->encoding, bytes, out, maxUnits, consumed);
    m_text.truncate(units); // keeps the allocation
}

bool Builder::readLongLine(qint64 line, ParagraphWriter &paragraphs)
{
    const std::vector<qint64> &starts = m_index->lineStarts;
    qint64 position = starts[size_t(line)];
    const qint64 end = starts[size_t(line + 1)];
    QByteArray carry;
    while (true) {
        const qint64 n = qMin(ReadBlockBytes, end - position);
        const qsizetype had = carry.size();
        carry.resize(had + qsizetype(n));
        if (!m_file.seek(position) || m_file.read(carry.data() + had, n) != n)
            return false;
        position += n;
        if (position == end) {
            decode(WithoutLineBreak(m_index->encoding, carry), -1, nullptr);
            paragraphs.addText(m_text, true);
            return true;
        }
        // No encoding takes more than four bytes for a unit, so this stops inside the block, at
        // a character boundary; the rest goes with the next block.
        qsizetype consumed = 0;
        decode(carry, carry.size() / 4 - 8, &consumed);
        paragraphs.addText(m_text, false);
        carry.remove(0, consumed);
        if (cancelled())
            return false;
    }
}

bool Builder::readLines(qint64 first, qint64 last, ParagraphWriter &paragraphs)
{
    const std::vector<qint64> &starts = m_index->lineStarts;
    for (qint64 line = first; line <= last;) {
        const qint64 blockStart = starts[size_t(line)];
        const auto fits =
            std::upper_bound(starts.begin() + line + 1, starts.begin() + last + 2, blockStart + ReadBlockBytes);
        const qint64 end = qMax(line + 1, qint64(fits - starts.begin()) - 1);
        if (starts[size_t(end)] - blockStart > ReadBlockBytes) { // one line longer than a block
            if (!readLongLine(line, paragraphs))
                return false;
            line = end;
            continue;
        }
        m_bytes.resize(qsizetype(starts[size_t(end)] - blockStart));
        if (!m_file.seek(blockStart) || m_file.read(m_bytes.data(), m_bytes.size()) != m_bytes.size())
            return false;
        for (; line < end; ++line) {
            const QByteArrayView raw =
                QByteArrayView(m_bytes).sliced(qsizetype(starts[size_t(line)] - blockStart),
                                              qsizetype(starts[size_t(line + 1)] - starts[size_t(line)]));
            decode(WithoutLineBreak(m_index->encoding, raw), -1, nullptr);
            paragraphs.addText(m_text, true);
        }
        if (m_progress && starts[size_t(end)] - m_reported >= ReadBlockBytes) {
            m_reported = starts[size_t(end)];
            m_progress(m_reported, m_index->fileSize);
        }
        if (cancelled())
            return false;
    }
    return true;
}

bool Builder::writeChapter(const ChapterEntry &entry, bool withFirstLine)
{
    const QString title = DisplayTitle(entry.title, u"第%1章"_s.arg(entry.number));
    m_chapterTitles.append(title);
    m_chapterFirst.append(m_documents.size());
    bool zipOk = true;
    ParagraphWriter paragraphs([&](const QByteArray &body) {
        const int part = int(m_documents.size() - m_chapterFirst.last()) + 1;
        Document document;
        document.id = part == 1 ? u"c%1"_s.arg(entry.number) : u"c%1-%2"_s.arg(entry.number).arg(part);
        document.href = u"text/"_s + document.id + u".xhtml"_s;
        QByteArray xhtml = xhtmlHead(title, u"../style.css"_s).toUtf8();
        xhtml += part == 1 ? "<section>\n<h1>" + title.toUtf8() + "</h1>\n" : QByteArray("<section>\n");
        xhtml += body;
        xhtml += "</section>\n</body>\n</html>\n";
        zipOk = zipOk && m_zip->addDeflated(u"OEBPS/"_s + document.href, xhtml);
        m_documents.append(document);
    });
    // A chapter after the first shows its heading line first; the document has it as its <h1>.
    const qint64 first = withFirstLine ? 0 : entry.firstShownLine() + (entry.number > 1 ? 1 : 0);
    const bool read = readLines(first, entry.lastShownLine(), paragraphs);
    paragraphs.finish();
    return read && zipOk;
}

QByteArray Builder::packageDocument() const
{
    QString opf = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\" "
                  "xml:lang=\"zh\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"_s;
    opf += u"<dc:identifier id=\"book-id\">"_s + XmlText(m_identifier) + u"</dc:identifier>\n"_s;
    opf += u"<dc:title>"_s + m_title + u"</dc:title>\n"_s;
    const QString author = XmlText(m_book.author).simplified();
    if (!author.isEmpty())
        opf += u"<dc:creator>"_s + author + u"</dc:creator>\n"_s;
    opf += u"<dc:language>zh</dc:language>\n"_s;
    const QString subject = XmlText(m_book.subject).simplified();
    if (!subject.isEmpty())
        opf += u"<dc:subject>"_s + subject + u"</dc:subject>\n"_s;
    const QDateTime utc = m_date.toUTC();
    opf += u"<dc:date>"_s + utc.toString(u"yyyy-MM-dd"_s) + u"</dc:date>\n"_s;
    opf += u"<meta property=\"dcterms:modified\">"_s + utc.toString(u"yyyy-MM-ddThh:mm:ssZ"_s) + u"</meta>\n"_s;
    const QString cover = m_book.cover.isEmpty() ? QString() : coverFile(m_book.coverType);
    if (!cover.isEmpty()) // older readers find the cover by this name
        opf += u"<meta name=\"cover\" content=\"cover-image\"/>\n"_s;
    opf += u"</metadata>\n<manifest>\n"
           "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
           "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
           "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"_s;
    if (!cover.isEmpty())
        opf += u"<item id=\"cover-image\" href=\""_s + cover + u"\" media-type=\""_s +
               QString::fromLatin1(m_book.coverType) + u"\" properties=\"cover-image\"/>\n"_s;
    for (const Document &document : m_documents)
        opf += u"<item id=\""_s + document.id + u"\" href=\""_s + document.href +
               u"\" media-type=\"application/xhtml+xml\"/>\n"_s;
    opf += u"</manifest>\n<spine toc=\"ncx\">\n"_s;
    for (const Document &document : m_documents)
        opf += u"<itemref idref=\""_s + document.id + u"\"/>\n"_s;
    opf += u"</spine>\n</package>\n"_s;
    return opf.toUtf8();
}

QByteArray Builder::navDocument() const
{
    QString nav = xhtmlHead(u"目录"_s, u"style.css"_s);
    nav += u"<nav epub:type=\"toc\" id=\"toc\">\n<h1>目录</h1>\n<ol>\n"_s;
    for (qsizetype i = 0; i < m_chapterTitles.size(); ++i)
        nav += u"<li><a href=\""_s + m_documents.at(m_chapterFirst.at(i)).href + u"\">"_s + m_chapterTitles.at(i) +
               u"</a></li>\n"_s;
    nav += u"</ol>\n</nav>\n</body>\n</html>\n"_s;
    return nav.toUtf8();
}

QByteArray Builder::ncxDocument() const
{
    QString ncx = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"zh\">\n<head>\n"
                  "<meta name=\"dtb:uid\" content=\""_s +
                  XmlText(m_identifier, true) +
                  u"\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n"
                  "<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n"
                  "</head>\n<docTitle><text>"_s +
                  m_title + u"</text></docTitle>\n<navMap>\n"_s;
    for (qsizetype i = 0; i < m_chapterTitles.size(); ++i) {
        const QString n = QString::number(i + 1);
        ncx += u"<navPoint id=\"n"_s + n + u"\" playOrder=\""_s + n + u"\"><navLabel><text>"_s +
               m_chapterTitles.at(i) + u"</text></navLabel><content src=\""_s +
               m_documents.at(m_chapterFirst.at(i)).href + u"\"/></navPoint>\n"_s;
    }
    ncx += u"</navMap>\n</ncx>\n"_s;
    return ncx.toUtf8();
}

EpubResult Builder::run(const QString &target)
{
    EpubResult result;
    const ChapterList chapters = GetChapter(m_book.path, {}, m_cancel, m_book.reading);
    if (cancelled()) {
        result.cancelled = true;
        return result;
    }
    if (!chapters.ok()) {
        result.errorMessage = chapters.errorMessage;
        return result;
    }
    m_index = LineIndexFor(m_book.path, m_book.reading);
    m_file.setFileName(m_book.path);
    if (!m_index || !m_file.open(QIODevice::ReadOnly)) {
        result.errorMessage = UnreadableBookMessage(m_book.path);
        return result;
    }
    const QFileInfo info(m_book.path);
    m_title = DisplayTitle(m_book.title, {});
    if (m_title.isEmpty())
        m_title = DisplayTitle(info.completeBaseName(), u"未命名"_s);
    m_date = m_book.date.isValid() ? m_book.date : info.lastModified();
    m_identifier = m_book.identifier.isEmpty() ? contentIdentifier(m_book.path) : m_book.identifier;

    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        result.errorMessage = u"无法写入文件“%1”：%2"_s.arg(QDir::toNativeSeparators(target), out.errorString());
        return result;
    }
    m_zip = std::make_unique<ZipWriter>(&out, 1); // the fastest level: text compresses nearly as well
    m_zip->setModified(m_date);
    m_zip->addStored(u"mimetype"_s, "application/epub+zip");
    m_zip->addDeflated(u"META-INF/container.xml"_s, Container);
    m_zip->addDeflated(u"OEBPS/style.css"_s, Stylesheet);
    if (const QString cover = coverFile(m_book.coverType); !m_book.cover.isEmpty() && !cover.isEmpty())
        m_zip->addStored(u"OEBPS/"_s + cover, m_book.cover); // images are compressed already

    bool read = true;
    for (qsizetype i = 0; i < chapters.entries.size() && read; ++i) {
        const ChapterEntry &entry = chapters.entries.at(i);
        // The reader keeps the first line as the book's title; one too long to be a title (a
        // book that is a single line) is text and goes into the first chapter.
        read = writeChapter(entry, i == 0 && entry.title.size() > MaxTitleUnits);
    }
    if (cancelled()) {
        out.cancelWriting();
        result.cancelled = true;
        return result;
    }
    if (!read) {
        out.cancelWriting();
        result.errorMessage = m_zip->failed() ? u"无法写入文件“%1”：%2"_s.arg(QDir::toNativeSeparators(target),
                                                                            out.errorString().isEmpty()
                                                                                ? u"文件过大"_s
                                                                                : out.errorString())
                                              : UnreadableBookMessage(m_book.path);
        return result;
    }
    m_zip->addDeflated(u"OEBPS/content.opf"_s, packageDocument());
    m_zip->addDeflated(u"OEBPS/nav.xhtml"_s, navDocument());
    m_zip->addDeflated(u"OEBPS/toc.ncx"_s, ncxDocument());
    if (!m_zip->finish() || !out.commit()) {
        out.cancelWriting();
        result.errorMessage = u"无法写入文件“%1”：%2"_s.arg(QDir::toNativeSeparators(target),
                                                          out.errorString().isEmpty() ? u"文件过大"_s
                                                                                      : out.errorString());
        return result;
    }
    if (m_progress)
        m_progress(m_index->fileSize, m_index->fileSize);
    result.ok = true;
    result.chapters = int(chapters.entries.size());
    result.documents = int(m_documents.size());
    return result;
}

} // namespace

EpubResult WriteEpub(const EpubBook &book, const QString &target, const std::atomic_bool *cancel,
                     const EpubProgress &progress)
{
    Builder builder(book, cancel, progress);
    return builder.run(target);
}

QString EpubFileName(const QString &title)
{
    QString name = title.left(MaxTitleUnits).simplified();
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    if (name.isEmpty())
        name = u"未命名"_s;
    for (QChar &c : name)
        if (QStringView(u"/\\:*?\"<>|").contains(c))
            c = u'_';
    if (name.startsWith(u'.'))
        name.prepend(u'_');
    return name + u".epub"_s;
}
