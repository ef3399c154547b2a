#include "text/EpubDocument.h"

#include "text/BookScan.h"
#include "text/LineMarkup.h"

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 ReadBlockBytes = 1024 * 1024;

bool isBlank(QChar c)
{
    return c.isSpace() || c == u'\u3000';
}

bool endsSentence(char16_t c)
{
    return c == u'。' || c == u'！' || c == u'？' || c == u'!' || c == u'?' || c == u'…' || c == u'；';
}

bool closesQuote(char16_t c)
{
    return c == u'”' || c == u'」' || c == u'』' || c == u'’' || c == u'）' || c == u'"' || c == u')';
}

} // namespace

void AppendXmlText(QString &out, QStringView text, bool attribute)
{
    const qsizetype n = text.size();
    const char16_t *s = text.utf16();
    qsizetype plain = 0; // start of the run of characters copied as they are
    auto flush = [&](qsizetype i) {
        if (i > plain)
            out.append(QStringView(s + plain, i - plain));
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c > 0x3E && c < 0x7F) // the common case: nothing to do
            continue;
        if (c >= 0xA0 && c < 0xD800)
            continue;
        if (c >= 0xD800 && c < 0xDC00) { // a pair is kept whole, a lone half dropped
            if (i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
                ++i;
                continue;
            }
        } else if (c >= 0xE000 && c < 0xFFFE) {
            continue;
        } else if (c >= 0x20 && c < 0x7F && c != u'&' && c != u'<' && c != u'>' && (!attribute || c != u'"')) {
            continue;
        }
        flush(i);
        plain = i + 1;
        switch (c) {
        case u'&':
            out.append(u"&amp;");
            break;
        case u'<':
            out.append(u"&lt;");
            break;
        case u'>':
            out.append(u"&gt;");
            break;
        case u'"':
            out.append(u"&quot;");
            break;
        case u'\t':
            out.append(u' ');
            break;
        default: // controls, DEL, C1, lone surrogates, U+FFFE, U+FFFF
            break;
        }
    }
    flush(n);
}

void AppendXmlUtf8(QByteArray &out, QStringView text)
{
    const char16_t *s = text.utf16();
    const char16_t *const end = s + text.size();
    const qsizetype had = out.size();
    out.resize(had + 5 * text.size()); // "&amp;" is the longest a unit becomes
    auto *d = reinterpret_cast<uchar *>(out.data()) + had;
    while (s < end) {
        char16_t c = *s++;
        // The common case, Chinese text: three bytes each.
        while ((c >= 0x800 && c < 0xD800) || (c >= 0xE000 && c < 0xFFFE)) {
            d[0] = uchar(0xE0 | (c >> 12));
            d[1] = uchar(0x80 | ((c >> 6) & 0x3F));
            d[2] = uchar(0x80 | (c & 0x3F));
            d += 3;
            if (s == end)
                goto done;
            c = *s++;
        }
        if (c < 0x80) {
            if (c >= 0x20 && c != u'&' && c != u'<' && c != u'>' && c != 0x7F) {
                *d++ = uchar(c);
                continue;
            }
            const char *ref = c == u'&' ? "&amp;" : c == u'<' ? "&lt;" : c == u'>' ? "&gt;" : c == u'\t' ? " " : "";
            while (*ref)
                *d++ = uchar(*ref++);
        } else if (c < 0x800) {
            if (c < 0xA0) // C1 controls
                continue;
            *d++ = uchar(0xC0 | (c >> 6));
            *d++ = uchar(0x80 | (c & 0x3F));
        } else if (c < 0xDC00 && c >= 0xD800 && s < end && *s >= 0xDC00 && *s < 0xE000) {
            const char32_t u = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (*s++ - 0xDC00);
            *d++ = uchar(0xF0 | (u >> 18));
            *d++ = uchar(0x80 | ((u >> 12) & 0x3F));
            *d++ = uchar(0x80 | ((u >> 6) & 0x3F));
            *d++ = uchar(0x80 | (u & 0x3F));
        } // lone surrogates, U+FFFE and U+FFFF are dropped
    }
done:
    out.truncate(reinterpret_cast<char *>(d) - out.constData());
}

QString XmlText(QStringView text, bool attribute)
{
    QString out;
    out.reserve(text.size());
    AppendXmlText(out, text, attribute);
    return out;
}

QString XhtmlHead(const QString &title, const QString &stylesheet)
{
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" "
           "xml:lang=\"zh\" lang=\"zh\">\n<head>\n<meta charset=\"UTF-8\"/>\n<title>"_s +
           title + u"</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\""_s + stylesheet +
           u"\"/>\n</head>\n<body>\n"_s;
}

QString DisplayTitle(QStringView title, const QString &fallback)
{
    QString text = title.left(MaxTitleUnits * 4).toString().replace(QChar(0x3000), QChar(u' ')).simplified();
    if (text.size() > MaxTitleUnits) {
        qsizetype cut = MaxTitleUnits - 1;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text = text.left(cut).trimmed() + u'…';
    }
    text = XmlText(text).simplified();
    return text.isEmpty() ? XmlText(fallback) : text;
}

ParagraphWriter::ParagraphWriter(DocumentSink sink, qsizetype maxDocumentBytes, qsizetype maxParagraphUnits,
                                 BufferSource buffers)
    : m_sink(std::move(sink))
    , m_buffers(std::move(buffers))
    , m_maxDocument(maxDocumentBytes)
    , m_maxParagraph(maxParagraphUnits)
{
}

void ParagraphWriter::newDocument()
{
    if (m_buffers)
        m_document = m_buffers();
    m_document.reserve(m_maxDocument + 16 * 1024);
    m_used = 0;
}

char *ParagraphWriter::room(qsizetype bytes)
{
    if (!m_document.capacity())
        newDocument();
    // The buffer is sized once for many lines; m_used marks how much of it is the document.
    if (m_document.size() < m_used + bytes)
        m_document.resize(qMax(m_used + bytes, m_document.capacity()));
    return m_document.data() + m_used;
}

void ParagraphWriter::settle()
{
    if (!m_document.capacity())
        newDocument();
    m_document.truncate(m_used);
}

void ParagraphWriter::addText(QStringView piece, bool lineEnds)
{
    if (m_lineStart) {
        qsizetype skip = 0;
        while (skip < piece.size() && isBlank(piece.at(skip)))
            ++skip;
        piece = piece.sliced(skip);
        m_lineStart = piece.isEmpty() && !lineEnds;
    }
    if (lineEnds && m_paragraph.isEmpty() && piece.size() <= m_maxParagraph) { // a whole line: no copy
        emitParagraph(piece);
        m_lineStart = true;
        return;
    }
    m_paragraph.append(piece);

    qsizetype start = 0;
    while (m_paragraph.size() - start > m_maxParagraph) {
        const char16_t *s = reinterpret_cast<const char16_t *>(m_paragraph.utf16()) + start;
        qsizetype cut = 0;
        for (qsizetype i = m_maxParagraph - 1; i >= m_maxParagraph / 2 && !cut; --i) {
            if (endsSentence(s[i])) {
                cut = i + 1;
                while (cut < m_maxParagraph && closesQuote(s[cut]))
                    ++cut;
            }
        }
        if (!cut)
            cut = QChar::isHighSurrogate(s[m_maxParagraph - 1]) ? m_maxParagraph - 1 : m_maxParagraph;
        emitParagraph(QStringView(s, cut));
        start += cut;
    }
    if (start)
        m_paragraph.remove(0, start);

    if (lineEnds) {
        emitParagraph(m_paragraph);
        m_paragraph.clear();
        m_lineStart = true;
    }
}

bool ParagraphWriter::addLine(TextEncoding encoding, QByteArrayView line)
{
    if (!m_lineStart || !m_paragraph.isEmpty())
        return false;
    const qsizetype written = WriteLineMarkup(room(LineMarkupRoom(line.size())), encoding, line, m_maxParagraph);
    if (written < 0)
        return false;
    m_used += written;
    if (written > 0 && m_used >= m_maxDocument)
        flushDocument();
    return true;
}

void ParagraphWriter::emitParagraph(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    if (text.isEmpty())
        return;
    settle();
    const qsizetype had = m_document.size();
    m_document.append("<p>");
    AppendXmlUtf8(m_document, text);
    if (m_document.size() == had + 3) {
        m_document.truncate(had); // nothing but dropped characters
        return;
    }
    m_document.append("</p>\n");
    m_used = m_document.size();
    if (m_used >= m_maxDocument)
        flushDocument();
}

void ParagraphWriter::addMarkup(QByteArrayView markup)
{
    settle();
    m_document.append(markup);
    m_used = m_document.size();
}

void ParagraphWriter::flushDocument()
{
    m_document.truncate(m_used);
    m_used = 0;
    m_sink(std::exchange(m_document, {})); // the next document takes its buffer when text comes
    ++m_documents;
}

void ParagraphWriter::finish()
{
    if (!m_paragraph.isEmpty()) {
        emitParagraph(m_paragraph);
        m_paragraph.clear();
    }
    if (m_used > 0 || m_documents == 0)
        flushDocument();
    m_lineStart = true;
}

QByteArray DocumentBuffers::take()
{
    std::lock_guard lock(m_mutex);
    return m_buffers.isEmpty() ? QByteArray() : m_buffers.takeLast();
}

void DocumentBuffers::give(QByteArray &&buffer)
{
    buffer.truncate(0); // keeps the memory
    std::lock_guard lock(m_mutex);
    if (m_buffers.size() < m_keep)
        m_buffers.append(std::move(buffer));
}

LineReader::LineReader(const BookLineIndex &index, const QString &path, const std::atomic_bool *cancel,
                       const std::function<void(qint64 done, qint64 total)> *progress)
    : m_index(index)
    , m_cancel(cancel)
    , m_progress(progress)
{
    m_file.setFileName(path);
}

void LineReader::decode(QByteArrayView bytes, qsizetype maxUnits, qsizetype *consumed)
{
    if (m_text.size() < bytes.size() + 1)
        m_text = QString(bytes.size() + 1, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(m_text.data());
    const qsizetype units = DecodeTextInto(m_index.encoding, bytes, out, maxUnits, consumed);
    m_text.truncate(units); // keeps the allocation
}

bool LineReader::readLongLine(qint64 line, ParagraphWriter &paragraphs)
{
    const std::vector<qint64> &starts = m_index.lineStarts;
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
            decode(WithoutLineBreak(m_index.encoding, carry), -1, nullptr);
            paragraphs.addText(m_text, true);
            return true;
        }
        // No encoding takes more than four bytes for a unit, so this stops inside the block, at
        // a character boundary; the rest goes with the next block.
        qsizetype consumed = 0;
        decode(carry, carry.size() / 4 - 8, &consumed);
        paragraphs.addText(m_text, false);
        carry.remove(0, consumed);
        if (m_progress && *m_progress)
            (*m_progress)(position, m_index.fileSize);
        if (cancelled())
            return false;
    }
}

bool LineReader::readLines(qint64 first, qint64 last, ParagraphWriter &paragraphs)
{
    const std::vector<qint64> &starts = m_index.lineStarts;
    const qint64 until = qMax(last, qMin(m_aheadLine, m_index.lineCount() - 1));
    for (qint64 line = first; line <= last;) {
        if (line < m_blockFirstLine || line >= m_blockEndLine) {
            const qint64 blockStart = starts[size_t(line)];
            const auto fits =
                std::upper_bound(starts.begin() + line + 1, starts.begin() + until + 2, blockStart + ReadBlockBytes);
            const qint64 end = qMax(line + 1, qint64(fits - starts.begin()) - 1);
            if (starts[size_t(end)] - blockStart > ReadBlockBytes) { // one line longer than a block
                if (!readLongLine(line, paragraphs))
                    return false;
                line = end;
                continue;
            }
            m_blockFirstLine = m_blockEndLine = 0;
            m_bytes.resize(qsizetype(starts[size_t(end)] - blockStart));
            if (!m_file.seek(blockStart) || m_file.read(m_bytes.data(), m_bytes.size()) != m_bytes.size())
                return false;
            m_blockFirstLine = line;
            m_blockEndLine = end;
            m_blockStart = blockStart;
        }
        const qint64 stop = qMin(m_blockEndLine, last + 1);
        for (; line < stop; ++line) {
            const QByteArrayView raw =
                QByteArrayView(m_bytes).sliced(qsizetype(starts[size_t(line)] - m_blockStart),
                                              qsizetype(starts[size_t(line + 1)] - starts[size_t(line)]));
            const QByteArrayView text = WithoutLineBreak(m_index.encoding, raw);
            if (!paragraphs.addLine(m_index.encoding, text)) {
                decode(text, -1, nullptr);
                paragraphs.addText(m_text, true);
            }
        }
        if (m_progress && *m_progress && starts[size_t(stop)] - m_reported >= ReadBlockBytes) {
            m_reported = starts[size_t(stop)];
            (*m_progress)(m_reported, m_index.fileSize);
        }
        if (cancelled())
            return false;
    }
    return true;
}
