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

// What an answer may hold before any XML reader sees it. Our answers carry a few hundred
// elements and no attributes; the reader checks each attribute against all earlier ones of its
// element, so many attributes cost quadratic time, and a cap on each element's attributes and on
// the answer's elements and attributes together keeps every answer's parse linear and short.
namespace XmlLimits {
inline constexpr int MaxAttributes = 64;
inline constexpr int MaxNodes = 100000; // elements and attributes of the whole answer
} // namespace XmlLimits

// Empty when bytes stay within XmlLimits, otherwise why they do not, in words for the user. One
// linear pass over the bytes; what it cannot make sense of is left for the XML reader to refuse.
QString XmlShapeProblem(const QByteArray &bytes);

// A whole answer parsed once. Elements are found by name anywhere, the way the server's
// answers are read: the root's name and the nesting above an element do not matter. A
// document holding a DTD (and so any entity declaration) is refused, as is malformed XML.
// The encoding named in the XML declaration (gb2312 included) is honoured. An answer beyond
// XmlLimits is refused before it is parsed, with XmlShapeProblem() as its error.
class XmlTree
{
public:
    XmlTree() = default;
    static XmlTree parse(const QByteArray &bytes);

    bool isValid() const { return m_doc != nullptr; }
    QString errorString() const { return m_error; }
    // True when the answer was refused for XmlLimits; errorString() then says so in Chinese.
    bool exceededLimits() const { return m_exceeded; }

    XmlElement root() const;
    XmlElement first(const QString &name) const;
    QList<XmlElement> all(const QString &name) const;

private:
    std::shared_ptr<const XmlDetail::Document> m_doc;
    QString m_error;
    bool m_exceeded = false;
};
