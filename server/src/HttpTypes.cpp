#include "HttpTypes.h"

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
