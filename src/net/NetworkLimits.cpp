#include "net/NetworkLimits.h"

#include <QNetworkReply>
#include <QVariant>

namespace {

constexpr char TooLargeProperty[] = "folioway_tooLarge";

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
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setMaximumRedirectsAllowed(NetworkLimits::MaxRedirects);
    return request;
}

void GuardReply(QNetworkReply *reply, qint64 maxBytes)
{
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

QString BoundedServerText(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return text;
    qsizetype keep = maxChars;
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep; // never half a character
    return text.left(keep) + QChar(0x2026);
}
