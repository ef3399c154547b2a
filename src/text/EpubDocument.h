#pragma once

#include "text/BookLineIndex.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringView>

#include <atomic>
#include <functional>
#include <mutex>

// The text of a book as it goes into an EPUB's chapter documents.

// Appends `text` escaped for XML: "&", "<" and ">" (and '"' for an attribute value) become
// references; what XML 1.0 does not allow (control characters, unpaired surrogates, U+FFFE and
// U+FFFF) and the C1 controls and DEL are dropped, a tab becomes a space.
void AppendXmlText(QString &out, QStringView text, bool attribute = false);
QString XmlText(QStringView text, bool attribute = false);
// The same for element text, appended as UTF-8 in one pass.
void AppendXmlUtf8(QByteArray &out, QStringView text);

// The start of an XHTML document of the book up to its <body>: its title (escaped already) and
// the stylesheet it links to.
QString XhtmlHead(const QString &title, const QString &stylesheet);

// A title as the contents shows it, escaped: runs of white space made one space, at most
// MaxTitleUnits characters ("…" marks a cut); the fallback (escaped too) when nothing is left.
constexpr qsizetype MaxTitleUnits = 80;
QString DisplayTitle(QStringView title, const QString &fallback);

// Turns the lines of one chapter into "<p>…</p>" markup, cut into documents of about
// maxDocumentBytes of UTF-8: a document ends after the paragraph that reaches the size. A line
// is one paragraph without its leading and trailing white space (full-width spaces included);
// blank lines give none. A paragraph longer than maxParagraphUnits is cut after the last
// sentence end in its second half, or at the limit when it has none, so a book that is one
// endless line still becomes documents of bounded size.
class ParagraphWriter
{
public:
    using DocumentSink = std::function<void(QByteArray &&body)>;
    // An empty buffer for the next document, one handed over before and written out since when
    // there is one: its memory is reused rather than fresh pages faulted in again.
    using BufferSource = std::function<QByteArray()>;

    static constexpr qsizetype DocumentBytes = 256 * 1024;
    static constexpr qsizetype ParagraphUnits = 4096;

    ParagraphWriter(DocumentSink sink, qsizetype maxDocumentBytes = DocumentBytes,
                    qsizetype maxParagraphUnits = ParagraphUnits, BufferSource buffers = {});

    // A piece of a line; `lineEnds` when it is the line's last.
    void addText(QStringView piece, bool lineEnds);
    // A whole line straight from the book's bytes (without its line break), the way addText()
    // would take it decoded; false, with nothing done, when the line needs the decoded way
    // (LineMarkup.h).
    bool addLine(TextEncoding encoding, QByteArrayView line);
    // Markup put into the document as it stands, between paragraphs.
    void addMarkup(QByteArrayView markup);
    // Hands over what remains as the last document (also when it is empty and no document was
    // handed over yet: every chapter has at least one).
    void finish();

    int documents() const { return m_documents; }

private:
    void emitParagraph(QStringView text);
    void flushDocument();
    void newDocument();
    char *room(qsizetype bytes); // where the next bytes go, with room for `bytes`
    void settle();               // the buffer cut back to the document, for appending

    DocumentSink m_sink;
    BufferSource m_buffers;
    qsizetype m_maxDocument;
    qsizetype m_maxParagraph;
    QString m_paragraph;
    QByteArray m_document;
    qsizetype m_used = 0; // of m_document, the bytes that are the document
    bool m_lineStart = true;
    int m_documents = 0;
};

// Buffers of documents written out, for the ParagraphWriters of any thread to take for their
// next documents (ParagraphWriter::BufferSource): their memory is reused rather than fresh pages
// faulted in again. Thread-safe.
class DocumentBuffers
{
public:
    explicit DocumentBuffers(qsizetype keep = 256) : m_keep(keep) {}

    // An empty buffer with the memory of one given back, or none.
    QByteArray take();
    // Keeps the buffer's memory, unless `keep` buffers are kept already.
    void give(QByteArray &&buffer);

private:
    std::mutex m_mutex;
    QList<QByteArray> m_buffers;
    qsizetype m_keep;
};

// Reads lines of a book decoded, as the book's line index has them, into a ParagraphWriter; one
// reader for each thread.
class LineReader
{
public:
    LineReader(const BookLineIndex &index, const QString &path, const std::atomic_bool *cancel,
               const std::function<void(qint64 done, qint64 total)> *progress);

    bool open() { return m_file.open(QIODevice::ReadOnly); }
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    // Lines first .. last; false when the file could not be read or *cancel became true. Reports
    // its progress now and then when given a progress function.
    bool readLines(qint64 first, qint64 last, ParagraphWriter &paragraphs);
    // Lines up to `line` may be read along with those asked for, kept for the calls that follow.
    void readAheadTo(qint64 line) { m_aheadLine = line; }

private:
    bool readLongLine(qint64 line, ParagraphWriter &paragraphs);
    void decode(QByteArrayView bytes, qsizetype maxUnits, qsizetype *consumed);

    const BookLineIndex &m_index;
    const std::atomic_bool *m_cancel;
    const std::function<void(qint64 done, qint64 total)> *m_progress; // only on the thread that writes
    QFile m_file;
    QString m_text; // decoding buffer
    QByteArray m_bytes;        // lines m_blockFirstLine .. m_blockEndLine - 1, from offset m_blockStart
    qint64 m_blockFirstLine = 0;
    qint64 m_blockEndLine = 0;
    qint64 m_blockStart = 0;
    qint64 m_aheadLine = -1;
    qint64 m_reported = -1;
};
