#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Parser for the upload body. The desktop client sends "multipart/form-data" without a
// boundary parameter, so the boundary is read from the body's first line; header
// lines and text values are GB18030. Parts reference the body's bytes, so the body
// must outlive the result.
struct MultipartPart
{
    QString name;
    QString fileName; // as sent (often a full local path); empty for text parts
    bool isFile = false;
    QByteArrayView data;
};

struct MultipartResult
{
    QList<MultipartPart> parts;
    QString error; // empty on success

    const MultipartPart *find(QStringView name) const;
    // A text part's value decoded from GB18030 (UTF-8 as a fallback); empty when absent.
    QString text(QStringView name) const;
};

namespace Multipart {

// contentType may carry a boundary parameter; it is used when present and the body
// does not begin with its own boundary line.
MultipartResult parse(QByteArrayView body, QByteArrayView contentType, int maxParts);

// Text after the last '/' or '\' of a path.
QString baseName(const QString &path);

} // namespace Multipart
