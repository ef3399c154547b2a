#pragma once

#include <QRegularExpression>
#include <QStringList>

// Fields picked out of the server's flat XML answers by element name.
namespace XmlFields {

// The text of every <tag>…</tag> that holds no other element, in document order.
inline QStringList values(const QByteArray &xml, const QString &tag)
{
    QStringList found;
    const QRegularExpression element(QStringLiteral("<%1>([^<]*)</%1>").arg(tag));
    for (const QRegularExpressionMatch &m : element.globalMatch(QString::fromUtf8(xml)))
        found << m.captured(1);
    return found;
}

// The element names from the first `from` on, in document order.
inline QStringList tags(const QByteArray &xml, const QString &from)
{
    QStringList names;
    for (const QRegularExpressionMatch &m :
         QRegularExpression(QStringLiteral("<(\\w+)")).globalMatch(QString::fromUtf8(xml)))
        names << m.captured(1);
    return names.mid(names.indexOf(from));
}

} // namespace XmlFields
