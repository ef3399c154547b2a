#include "net/XmlTree.h"

#include <QStringConverter>
#include <QXmlStreamReader>

#include <cstring>
#include <optional>

namespace {

// Answers are a few kilobytes; anything this deep is not one of ours.
constexpr int MaxDepth = 256;

int findFirst(const XmlDetail::Document &doc, int from, int to, const QString &name)
{
    for (int i = from; i <= to; ++i) {
        if (doc.nodes[i].name == name)
            return i;
    }
    return -1;
}

// The markup a shape check needs is ASCII, so bytes in any encoding that keeps ASCII as it is
// (UTF-8, GB18030) are scanned as they stand, and UTF-16 or UTF-32 text as decoded units.
template <typename Char>
class ShapeScan
{
public:
    ShapeScan(const Char *data, qsizetype size) : m_data(data), m_size(size) {}

    QString problem()
    {
        qint64 nodes = 0;
        qsizetype i = 0;
        while (i < m_size) {
            if (at(i) != u'<') {
                ++i;
                continue;
            }
            // Comments, character data, processing instructions, declarations and end tags
            // hold no attributes; a quote or "=" inside them counts for nothing.
            if (startsWith(i, "<!--"))
                i = after(i + 4, "-->");
            else if (startsWith(i, "<![CDATA["))
                i = after(i + 9, "]]>");
            else if (startsWith(i, "<?"))
                i = after(i + 2, "?>");
            else if (startsWith(i, "<!") || startsWith(i, "</"))
                i = after(i + 2, ">");
            else {
                ++nodes;
                int attributes = 0;
                char16_t quote = 0;
                for (++i; i < m_size; ++i) {
                    const char16_t c = at(i);
                    if (quote) {
                        if (c == quote)
                            quote = 0;
                    } else if (c == u'"' || c == u'\'') {
                        quote = c;
                    } else if (c == u'=') {
                        ++attributes;
                        ++nodes;
                    } else if (c == u'>' || c == u'<') {
                        break; // a "<" here is malformed and left for the reader
                    }
                }
                if (i < m_size && at(i) == u'>')
                    ++i;
                if (attributes > XmlLimits::MaxAttributes)
                    return QStringLiteral("服务器的回答无法读取：其中一个元素带有超过 %1 个属性。")
                        .arg(XmlLimits::MaxAttributes);
            }
            if (nodes > XmlLimits::MaxNodes)
                return QStringLiteral("服务器的回答无法读取：其中的元素和属性超过 %1 个。").arg(XmlLimits::MaxNodes);
        }
        return {};
    }

private:
    char16_t at(qsizetype i) const
    {
        if constexpr (sizeof(Char) == 1)
            return char16_t(uchar(m_data[i]));
        else
            return char16_t(m_data[i]);
    }

    bool startsWith(qsizetype i, const char *text) const
    {
        for (; *text; ++text, ++i) {
            if (i >= m_size || at(i) != char16_t(*text))
                return false;
        }
        return true;
    }

    // Just past the first `text` from `from` on, or the end. The texts are at most three long,
    // so the search stays linear.
    qsizetype after(qsizetype from, const char *text) const
    {
        const qsizetype length = qsizetype(std::strlen(text));
        for (qsizetype i = from; i < m_size; ++i) {
            if (startsWith(i, text))
                return i + length;
        }
        return m_size;
    }

    const Char *m_data;
    qsizetype m_size;
};

} // namespace

QString XmlShapeProblem(const QByteArray &bytes)
{
    const std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(bytes, u'<');
    const bool wide = encoding && *encoding != QStringConverter::Utf8 && *encoding != QStringConverter::Latin1 &&
                      *encoding != QStringConverter::System;
    if (!wide)
        return ShapeScan<char>(bytes.constData(), bytes.size()).problem();
    QStringDecoder decoder(*encoding);
    const QString text = decoder(bytes);
    return ShapeScan<char16_t>(reinterpret_cast<const char16_t *>(text.utf16()), text.size()).problem();
}

XmlTree XmlTree::parse(const QByteArray &bytes)
{
    XmlTree tree;
    tree.m_error = XmlShapeProblem(bytes);
    if (!tree.m_error.isEmpty()) {
        tree.m_exceeded = true;
        return tree;
    }
    auto doc = std::make_shared<XmlDetail::Document>();
    QXmlStreamReader reader(bytes);
    std::vector<int> open;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            tree.m_error = QStringLiteral("document type declarations are not accepted");
            return tree;
        case QXmlStreamReader::StartElement:
            if (open.size() >= MaxDepth) {
                tree.m_error = QStringLiteral("elements nested too deeply");
                return tree;
            }
            open.push_back(int(doc->nodes.size()));
            doc->nodes.push_back({reader.name().toString(), 0, int(doc->texts.size()), 0});
            break;
        case QXmlStreamReader::EndElement: {
            XmlDetail::Node &node = doc->nodes[open.back()];
            node.end = int(doc->nodes.size()) - 1;
            node.textEnd = int(doc->texts.size());
            open.pop_back();
            break;
        }
        case QXmlStreamReader::Characters:
            if (!open.empty())
                doc->texts.push_back(reader.text().toString());
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        tree.m_error = reader.errorString();
        return tree;
    }
    if (doc->nodes.empty()) {
        tree.m_error = QStringLiteral("no element");
        return tree;
    }
    tree.m_doc = std::move(doc);
    return tree;
}

XmlElement XmlTree::root() const
{
    return m_doc ? XmlElement(m_doc, 0) : XmlElement();
}

XmlElement XmlTree::first(const QString &name) const
{
    if (!m_doc)
        return {};
    const int i = findFirst(*m_doc, 0, int(m_doc->nodes.size()) - 1, name);
    return i < 0 ? XmlElement() : XmlElement(m_doc, i);
}

QList<XmlElement> XmlTree::all(const QString &name) const
{
    QList<XmlElement> found;
    if (!m_doc)
        return found;
    for (int i = 0; i < int(m_doc->nodes.size()); ++i) {
        if (m_doc->nodes[i].name == name)
            found.append(XmlElement(m_doc, i));
    }
    return found;
}

QString XmlElement::name() const
{
    return m_doc ? m_doc->nodes[m_index].name : QString();
}

QString XmlElement::text() const
{
    if (!m_doc)
        return {};
    const XmlDetail::Node &node = m_doc->nodes[m_index];
    QString text;
    for (int i = node.textBegin; i < node.textEnd; ++i)
        text += m_doc->texts[i];
    return text;
}

XmlElement XmlElement::first(const QString &name) const
{
    if (!m_doc)
        return {};
    const int i = findFirst(*m_doc, m_index + 1, m_doc->nodes[m_index].end, name);
    return i < 0 ? XmlElement() : XmlElement(m_doc, i);
}

QList<XmlElement> XmlElement::all(const QString &name) const
{
    QList<XmlElement> found;
    if (!m_doc)
        return found;
    for (int i = m_index + 1; i <= m_doc->nodes[m_index].end; ++i) {
        if (m_doc->nodes[i].name == name)
            found.append(XmlElement(m_doc, i));
    }
    return found;
}
