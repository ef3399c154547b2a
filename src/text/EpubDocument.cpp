#include "text/EpubDocument.h"

namespace {

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

QString XmlText(QStringView text, bool attribute)
{
    QString out;
    out.reserve(text.size());
    AppendXmlText(out, text, attribute);
    return out;
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

ParagraphWriter::ParagraphWriter(DocumentSink sink, qsizetype maxDocumentBytes, qsizetype maxParagraphUnits)
    : m_sink(std::move(sink))
    , m_maxDocument(maxDocumentBytes)
    , m_maxParagraph(maxParagraphUnits)
{
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

void ParagraphWriter::emitParagraph(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    if (text.isEmpty())
        return;
    m_escaped.clear();
    m_escaped.append(u"<p>");
    AppendXmlText(m_escaped, text);
    if (m_escaped.size() == 3)
        return; // nothing but dropped characters
    m_escaped.append(u"</p>\n");
    m_document.append(m_escaped.toUtf8());
    if (m_document.size() >= m_maxDocument)
        flushDocument();
}

void ParagraphWriter::flushDocument()
{
    m_sink(m_document);
    m_document.clear();
    ++m_documents;
}

void ParagraphWriter::finish()
{
    if (!m_paragraph.isEmpty()) {
        emitParagraph(m_paragraph);
        m_paragraph.clear();
    }
    if (!m_document.isEmpty() || m_documents == 0)
        flushDocument();
    m_lineStart = true;
}
