#include "net/XmlTree.h"

#include <QXmlStreamReader>

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

} // namespace

XmlTree XmlTree::parse(const QByteArray &bytes)
{
    XmlTree tree;
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
