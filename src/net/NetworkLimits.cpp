#include "net/NetworkLimits.h"

#include <QNetworkReply>
#include <QUrl>
#include <QVariant>

namespace {

constexpr char TooLargeProperty[] = "folioway_tooLarge";
constexpr char RedirectRefusedProperty[] = "folioway_redirectRefused";

void abortTooLarge(QNetworkReply *reply)
{
    reply->setProperty(TooLargeProperty, true);
    reply->abort();
}

} // namespace

QNetworkRequest GuardedRequest(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    // Every address carries a changing value or names a file to fetch afresh.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Qt follows a redirect that keeps or raises security on its own; GuardReply() aborts the
    // reply at any hop RedirectAllowed() refuses, before the request for it is sent. (Qt's
    // policy that asks first repeats requests once a reply has been redirected twice.)
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(NetworkLimits::MaxRedirects);
    return request;
}

bool RedirectAllowed(const QUrl &from, const QUrl &to)
{
    if (from.host().isEmpty() || from.host().compare(to.host(), Qt::CaseInsensitive) != 0)
        return false;
    const QString scheme = from.scheme().toLower();
    const QString next = to.scheme().toLower();
    if (scheme == next) {
        const int defaultPort = scheme == u"https" ? 443 : 80;
        return (scheme == u"http" || scheme == u"https") && from.port(defaultPort) == to.port(defaultPort);
    }
    if (scheme != u"http" || next != u"https")
        return false;
    const int fromPort = from.port(80);
    const int toPort = to.port(443);
    return fromPort == toPort || (fromPort == 80 && toPort == 443);
}

void GuardReply(QNetworkReply *reply, qint64 maxBytes)
{
    // Each hop is judged against the address it leaves; an aborted reply sends nothing more.
    QObject::connect(reply, &QNetworkReply::redirected, reply,
                     [reply, from = reply->request().url()](const QUrl &to) mutable {
                         if (!RedirectAllowed(from, to)) {
                             reply->setProperty(RedirectRefusedProperty, true);
                             reply->abort();
                             return;
                         }
                         from = to;
                     });
    // An answer kept in memory stops being fetched once it is one byte past the cap, so the
    // check below sees it before more arrives.
    if (reply->readBufferSize() == 0)
        reply->setReadBufferSize(maxBytes + 1);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes] {
        bool known = false;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && announced > maxBytes)
            abortTooLarge(reply);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, maxBytes] {
        if (reply->bytesAvailable() > maxBytes)
            abortTooLarge(reply);
    });
}

bool ReplyTooLarge(const QNetworkReply *reply)
{
    return reply->property(TooLargeProperty).toBool();
}

bool ReplyRedirectRefused(const QNetworkReply *reply)
{
    return reply->property(RedirectRefusedProperty).toBool();
}

QString BoundedServerText(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return text;
    qsizetype keep = maxChars;
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep; // never half a character
    return text.left(keep) + QChar(0x2026);
}
