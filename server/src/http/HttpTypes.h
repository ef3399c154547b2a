#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <optional>

// The request and answer as the handlers see them, independent of the HTTP library,
// so routing and answers can be exercised without sockets.
struct Request
{
    QByteArray method;
    QByteArray path;                              // still percent-encoded, as sent
    QByteArray query;                             // after '?', still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    QByteArray peer; // the client's address as text, empty when unknown
    bool secure = false; // reached us over TLS, ours or a trusted proxy's

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
    // Slow work (password hashing) the transport runs on its own small queue; its result is
    // the answer. When the queue is full the rest of this response is sent instead.
    std::function<Response()> deferred;
    // Work that can wait (sign-ups): it only takes the first half of the queue, and gives its
    // place up to other work when the queue is full.
    bool deferredCanWait = false;
    // Its place in the queue: lower goes first (for a login: below zero for an address the
    // account logged in from lately, else by its address's recent failures, then by its
    // neighbourhood's).
    int deferredRank = 0;
    // Long work (building a book's EPUB) runs on a queue of its own, so it never holds up
    // password checks; the same rules of rank and turns hold there.
    bool deferredLong = false;
    // Runs instead of deferred when the queue turns the work away.
    std::function<void()> turnedAway;

    bool isFile() const { return !filePath.isEmpty(); }
    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }
    QByteArray header(QByteArrayView name) const;
    static Response text(int status, const QByteArray &body);
};

// The address in its canonical text form, or empty when text is not an IPv4 or IPv6 address.
QByteArray canonicalAddress(const QByteArray &text);
// What a client's share of a limit is counted by: an IPv4 address itself, the /64 network of an
// IPv6 address (one host commonly holds all of it).
QByteArray clientGroup(const QByteArray &address);
// The network around a client: the /24 of an IPv4 address, the /48 of an IPv6 one (what one
// holder of many addresses commonly has); empty when address is not an address.
QByteArray clientNeighbourhood(const QByteArray &address);

// Decided once a request head is in, before any of the body is read.
struct Admission
{
    qint64 bodyLimit = 8 * 1024;
    // When set, the body is read and thrown away and this is the answer, so a client that
    // only looks at the answer after sending everything still gets it.
    std::optional<Response> early;
    // The answer for a body that grows past bodyLimit without having declared its length
    // (chunks); read to its end and thrown away first. A plain 413 when not set.
    std::optional<Response> tooLarge;
};
