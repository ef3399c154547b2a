#include "http/HttpTypes.h"

#include <arpa/inet.h>
#include <cstring>

QByteArray canonicalAddress(const QByteArray &text)
{
    const QByteArray trimmed = text.trimmed();
    in_addr v4{};
    in6_addr v6{};
    char out[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, trimmed.constData(), &v4) == 1)
        inet_ntop(AF_INET, &v4, out, sizeof out);
    else if (inet_pton(AF_INET6, trimmed.constData(), &v6) == 1)
        inet_ntop(AF_INET6, &v6, out, sizeof out);
    QByteArray address(out);
    if (address.startsWith("::ffff:") && address.contains('.'))
        address = address.mid(7);
    return address;
}

QByteArray clientGroup(const QByteArray &address)
{
    in6_addr v6{};
    if (!address.contains(':') || inet_pton(AF_INET6, address.constData(), &v6) != 1)
        return address;
    std::memset(v6.s6_addr + 8, 0, 8);
    char out[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, out, sizeof out);
    return QByteArray(out) + "/64";
}

QByteArray clientNeighbourhood(const QByteArray &address)
{
    in_addr v4{};
    in6_addr v6{};
    char out[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, address.constData(), &v4) == 1) {
        reinterpret_cast<unsigned char *>(&v4.s_addr)[3] = 0;
        inet_ntop(AF_INET, &v4, out, sizeof out);
        return QByteArray(out) + "/24";
    }
    if (inet_pton(AF_INET6, address.constData(), &v6) != 1)
        return {};
    std::memset(v6.s6_addr + 6, 0, 10);
    inet_ntop(AF_INET6, &v6, out, sizeof out);
    return QByteArray(out) + "/48";
}

Request Request::make(const QByteArray &method, const QByteArray &target, const QByteArray &body)
{
    Request r;
    r.method = method;
    const qsizetype q = target.indexOf('?');
    r.path = q < 0 ? target : target.left(q);
    r.query = q < 0 ? QByteArray() : target.mid(q + 1);
    r.body = body;
    return r;
}

QByteArray Request::header(QByteArrayView lowerName) const
{
    for (const auto &h : headers) {
        if (h.first == lowerName)
            return h.second;
    }
    return {};
}

QByteArray Request::cookie(QByteArrayView name) const
{
    for (const auto &h : headers) {
        if (h.first != "cookie")
            continue;
        for (const QByteArray &item : h.second.split(';')) {
            const qsizetype eq = item.indexOf('=');
            if (eq > 0 && item.left(eq).trimmed() == name)
                return item.mid(eq + 1).trimmed();
        }
    }
    return {};
}

QByteArray Response::header(QByteArrayView name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

Response Response::text(int status, const QByteArray &body)
{
    Response r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = body;
    return r;
}
