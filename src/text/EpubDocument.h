#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>

// The text of a book as it goes into an EPUB's chapter documents.

// Appends `text` escaped for XML: "&", "<" and ">" (and '"' for an attribute value) become
// references; what XML 1.0 does not allow (control characters, unpaired surrogates, U+FFFE and
// U+FFFF) and the C1 controls and DEL are dropped, a tab becomes a space.
void AppendXmlText(QString &out, QStringView text, bool attribute = false);
QString XmlText(QStringView text, bool attribute = false);

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
    using DocumentSink = std::function<void(const QByteArray &body)>;

    ParagraphWriter(DocumentSink sink, qsizetype maxDocumentBytes = 256 * 1024, qsizetype maxParagraphUnits = 4096);

    // A piece of a line; `lineEnds` when it is the line's last.
    void addText(QStringView piece, bool lineEnds);
    // Hands over what remains as the last document (also when it is empty and no document was
    // handed over yet: every chapter has at least one).
    void finish();

    int documents() const { return m_documents; }

private:
    void emitParagraph(QStringView text);
    void flushDocument();

    DocumentSink m_sink;
    qsizetype m_maxDocument;
    qsizetype m_maxParagraph;
    QString m_paragraph;
    QString m_escaped;
    QByteArray m_document;
    bool m_lineStart = true;
    int m_documents = 0;
};
