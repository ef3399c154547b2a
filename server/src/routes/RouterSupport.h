#pragma once

// Pieces shared by the router's handler files: the XML writer and the answer shapes.

#include "http/HttpTypes.h"
#include "routes/FormCodec.h"
#include "store/Store.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace RouterSupport {

inline const QByteArray kSessionCookie = "folioway_session";
inline const QByteArray kXmlType = "text/xml; charset=utf-8";
inline constexpr qint64 kRememberSeconds = 30ll * 24 * 3600;
// Without "记住登录" the cookie ends with the client's session; the server forgets the
// login after a day in any case.
inline constexpr qint64 kSessionSeconds = 24ll * 3600;

// Writes the small XML documents of the protocol straight into a byte buffer.
class XmlOut
{
public:
    XmlOut()
    {
        m_out.reserve(4096);
        m_out.append(R"(<?xml version="1.0" encoding="utf-8"?>)"
                     "\n");
    }

    XmlOut &open(const char *tag)
    {
        m_out.append('<').append(tag).append('>');
        return *this;
    }
    XmlOut &close(const char *tag)
    {
        m_out.append("</").append(tag).append('>');
        return *this;
    }
    XmlOut &element(const char *tag, const QString &text)
    {
        open(tag);
        appendEscaped(text);
        return close(tag);
    }
    XmlOut &element(const char *tag, qint64 number) { return element(tag, QString::number(number)); }
    QByteArray take() { return std::move(m_out); }

private:
    void appendEscaped(const QString &text)
    {
        QString clean;
        clean.reserve(text.size());
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            // Characters XML 1.0 cannot carry at all are dropped.
            if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
                continue;
            switch (u) {
            case '&':
                clean.append(QLatin1String("&amp;"));
                break;
            case '<':
                clean.append(QLatin1String("&lt;"));
                break;
            case '>':
                clean.append(QLatin1String("&gt;"));
                break;
            default:
                clean.append(c);
            }
        }
        m_out.append(clean.toUtf8());
    }

    QByteArray m_out;
};

inline Response xml(QByteArray body)
{
    Response r;
    r.contentType = kXmlType;
    r.addHeader("Cache-Control", "no-store");
    r.body = std::move(body);
    return r;
}

inline Response accountReply(const QString &code, const QString &message)
{
    XmlOut x;
    x.open("userbase").element("logininfo", code + u'|' + message).close("userbase");
    return xml(x.take());
}

// A request the server cannot take now: no "|", so the client shows the text and changes nothing
// (no code of the account answers fits: "0" would end the user's login in the client).
// Search keys longer than this are cut: no title or author is as long, and the key is part of
// the cache key and of the answer.
inline constexpr qsizetype kSearchKeyChars = 100;
inline QString searchKey(const QString &text)
{
    const QString key = text.trimmed();
    if (key.size() <= kSearchKeyChars)
        return key;
    return key.left(key.at(kSearchKeyChars - 1).isHighSurrogate() ? kSearchKeyChars - 1 : kSearchKeyChars);
}

inline Response busyReply()
{
    XmlOut x;
    x.open("userbase").element("logininfo", QStringLiteral("服务器正忙，请稍后再试！")).close("userbase");
    Response r = xml(x.take());
    r.addHeader("Retry-After", "5");
    return r;
}

// Upload answers are always status 200: the client shows the message of no other status.
inline Response uploadReply(int code, const QString &message)
{
    Response r;
    r.contentType = "text/plain; charset=GB18030";
    r.addHeader("Cache-Control", "no-store");
    r.body = FormCodec::toGb18030(QString::number(code) + u'|' + message);
    return r;
}

inline bool executableHeader(QByteArrayView head)
{
    return head.startsWith("MZ") || head.startsWith("\x7f" "ELF") || head.startsWith("\xcf\xfa\xed\xfe") ||
           head.startsWith("\xfe\xed\xfa\xce");
}

// Text files of the web are single-byte or multi-byte encodings; a NUL byte means a binary
// file, unless the text is UTF-16 and says so with its byte-order mark.
inline bool plainText(QByteArrayView data)
{
    if (data.startsWith("\xff\xfe") || data.startsWith("\xfe\xff"))
        return true;
    return !executableHeader(data) && !data.contains('\0');
}

inline Response badRequest(const QByteArray &why)
{
    return Response::text(400, "400 Bad Request: " + why + "\n");
}

// The database could not answer; the client tries again later.
inline Response unavailable()
{
    Response r = Response::text(503, "503 Service Unavailable\n");
    r.addHeader("Retry-After", "5");
    return r;
}

inline Response notFound()
{
    return Response::text(404, "404 Not Found\n");
}

inline Response methodNotAllowed(const QByteArray &allow)
{
    Response r = Response::text(405, "405 Method Not Allowed\n");
    r.addHeader("Allow", allow);
    return r;
}

inline QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

inline QString kilobytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1024.0, 'f', 2);
}

inline int pageNumber(const QString &text)
{
    bool ok = false;
    const double n = text.trimmed().toDouble(&ok);
    if (!ok || !(n >= 1))
        return 1;
    return n > 1e9 ? 1000000000 : int(n);
}

inline QString pageInfo(const BookPage &p)
{
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(p.totalPages)
        .arg(p.totalBooks)
        .arg(p.page)
        .arg(std::max(1, p.page - 1))
        .arg(std::min(p.totalPages, p.page + 1));
}

inline QByteArray sessionCookie(const QByteArray &token, qint64 maxAge)
{
    QByteArray c = kSessionCookie + '=' + token + "; Path=/; HttpOnly; SameSite=Lax";
    if (maxAge >= 0) {
        const QDateTime expires = QDateTime::currentDateTimeUtc().addSecs(maxAge);
        c += "; Max-Age=" + QByteArray::number(maxAge) + "; Expires=" +
             QLocale::c().toString(expires, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
    }
    return c;
}

} // namespace RouterSupport
