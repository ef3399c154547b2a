#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

namespace XmlDetail {
struct Node
{
    QString name;
    int end = 0;       // index of the last descendant; nodes are stored in document order
    int textBegin = 0; // the text pieces between this element's start and end tags
    int textEnd = 0;
};
struct Document
{
    std::vector<Node> nodes;
    std::vector<QString> texts;
};
} // namespace XmlDetail

// A handle on one element of a parsed answer; it keeps the parsed document alive. A null
// handle (element not found) answers every question with "nothing", so lookups chain.
class XmlElement
{
public:
    XmlElement() = default;

    bool isNull() const { return !m_doc; }
    QString name() const;
    // All text inside the element, its descendants' included, in document order.
    QString text() const;
    // First element of that name anywhere inside this one (not this one itself).
    XmlElement first(const QString &name) const;
    // Every element of that name inside this one, in document order.
    QList<XmlElement> all(const QString &name) const;

private:
    friend class XmlTree;
    XmlElement(std::shared_ptr<const XmlDetail::Document> doc, int index) : m_doc(std::move(doc)), m_index(index) {}
    std::shared_ptr<const XmlDetail::Document> m_doc;
    int m_index = -1;
};

// A whole answer parsed once. Elements are found by name anywhere, the way the server's
// answers are read: the root's name and the nesting above an element do not matter. A
// document holding a DTD (and so any entity declaration) is refused, as is malformed XML.
// The encoding named in the XML declaration (gb2312 included) is honoured.
class XmlTree
{
public:
    XmlTree() = default;
    static XmlTree parse(const QByteArray &bytes);

    bool isValid() const { return m_doc != nullptr; }
    QString errorString() const { return m_error; }

    XmlElement root() const;
    XmlElement first(const QString &name) const;
    QList<XmlElement> all(const QString &name) const;

private:
    std::shared_ptr<const XmlDetail::Document> m_doc;
    QString m_error;
};
