#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The request and answer as the handlers see them, independent of the HTTP library,
// so routing and answers can be exercised without sockets.
struct Request
{
    QByteArray method;
    QByteArray path;                              // still percent-encoded, as sent
    QByteArray query;                             // after '?', still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;

    // Splits "path?query" as it appears on the request line.
    static Request make(const QByteArray &method, const QByteArray &target, const QByteArray &body = {});
    QByteArray header(QByteArrayView lowerName) const;
    QByteArray cookie(QByteArrayView name) const;
};

struct Response
{
    int status = 200;
    QByteArray contentType;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // When set, the answer is the byte range of this file, streamed by the transport.
    QString filePath;
    qint64 fileOffset = 0;
    qint64 fileLength = 0;

    bool isFile() const { return !filePath.isEmpty(); }
    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }
    QByteArray header(QByteArrayView name) const;
    static Response text(int status, const QByteArray &body);
};
