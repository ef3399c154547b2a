#include "text/EpubContents.h"

#include "text/EpubDocument.h"

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxNcxEntries = 2000;

// A line of the contents in pieces, appended one after the other: for thousands of chapters,
// no string made for each piece joined to the next.
void append(QString &out, std::initializer_list<QStringView> pieces)
{
    for (QStringView piece : pieces)
        out += piece;
}

} // namespace

QString EpubCoverFile(const QByteArray &type)
{
    return type == "image/jpeg"  ? u"cover.jpg"_s
           : type == "image/png" ? u"cover.png"_s
           : type == "image/gif" ? u"cover.gif"_s
           : type == "image/webp" ? u"cover.webp"_s
                                  : QString();
}

QByteArray EpubPackageDocument(const EpubContents &contents)
{
    QString opf = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\" "
                  "xml:lang=\"zh\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"_s;
    opf += u"<dc:identifier id=\"book-id\">"_s + XmlText(contents.identifier) + u"</dc:identifier>\n"_s;
    opf += u"<dc:title>"_s + contents.title + u"</dc:title>\n"_s;
    const QString author = XmlText(contents.author).simplified();
    if (!author.isEmpty())
        opf += u"<dc:creator>"_s + author + u"</dc:creator>\n"_s;
    opf += u"<dc:language>zh</dc:language>\n"_s;
    const QString subject = XmlText(contents.subject).simplified();
    if (!subject.isEmpty())
        opf += u"<dc:subject>"_s + subject + u"</dc:subject>\n"_s;
    const QDateTime utc = contents.date.toUTC();
    opf += u"<dc:date>"_s + utc.toString(u"yyyy-MM-dd"_s) + u"</dc:date>\n"_s;
    opf += u"<meta property=\"dcterms:modified\">"_s + utc.toString(u"yyyy-MM-ddThh:mm:ssZ"_s) + u"</meta>\n"_s;
    const QString &cover = contents.cover;
    if (!cover.isEmpty()) // older readers find the cover by this name
        opf += u"<meta name=\"cover\" content=\"cover-image\"/>\n"_s;
    opf += u"</metadata>\n<manifest>\n"
           "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
           "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
           "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"_s;
    if (!cover.isEmpty())
        opf += u"<item id=\"cover-image\" href=\""_s + cover + u"\" media-type=\""_s +
               QString::fromLatin1(contents.coverType) + u"\" properties=\"cover-image\"/>\n"_s;
    opf.reserve(opf.size() + contents.documents.size() * 120);
    for (const EpubContents::Document &document : contents.documents)
        append(opf, {u"<item id=\"", document.id, u"\" href=\"", document.href,
                     u"\" media-type=\"application/xhtml+xml\"/>\n"});
    opf += u"</manifest>\n<spine toc=\"ncx\">\n"_s;
    for (const EpubContents::Document &document : contents.documents)
        append(opf, {u"<itemref idref=\"", document.id, u"\"/>\n"});
    opf += u"</spine>\n</package>\n"_s;
    return opf.toUtf8();
}

QByteArray EpubNavDocument(const EpubContents &contents)
{
    QString nav = XhtmlHead(u"目录"_s, u"style.css"_s);
    nav += u"<nav epub:type=\"toc\" id=\"toc\">\n<h1>目录</h1>\n<ol>\n"_s;
    nav.reserve(nav.size() + contents.chapterTitles.size() * 64);
    for (qsizetype i = 0; i < contents.chapterTitles.size(); ++i)
        append(nav, {u"<li><a href=\"", contents.chapterHrefs.at(i), u"\">", contents.chapterTitles.at(i),
                     u"</a></li>\n"});
    nav += u"</ol>\n</nav>\n</body>\n</html>\n"_s;
    return nav.toUtf8();
}

QByteArray EpubNcxDocument(const EpubContents &contents)
{
    QString ncx = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"zh\">\n<head>\n"
                  "<meta name=\"dtb:uid\" content=\""_s +
                  XmlText(contents.identifier, true) +
                  u"\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n"
                  "<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n"
                  "</head>\n<docTitle><text>"_s +
                  contents.title + u"</text></docTitle>\n<navMap>\n"_s;
    // Older reading systems choke on contents of tens of thousands of entries (and checking them
    // takes time that grows with the square of their number): past MaxNcxEntries chapters an
    // entry stands for a run of them, named by its first and last.
    const qsizetype count = contents.chapterTitles.size();
    const qsizetype run = (count + MaxNcxEntries - 1) / MaxNcxEntries;
    ncx.reserve(ncx.size() + qMin(count, MaxNcxEntries) * 128);
    for (qsizetype i = 0, point = 1; i < count; i += run, ++point) {
        const QString n = QString::number(point);
        const qsizetype last = qMin(count, i + run) - 1;
        append(ncx, {u"<navPoint id=\"n", n, u"\" playOrder=\"", n, u"\"><navLabel><text>", contents.chapterTitles.at(i)});
        if (last != i)
            append(ncx, {u" — ", contents.chapterTitles.at(last)});
        append(ncx, {u"</text></navLabel><content src=\"", contents.chapterHrefs.at(i), u"\"/></navPoint>\n"});
    }
    ncx += u"</navMap>\n</ncx>\n"_s;
    return ncx.toUtf8();
}

