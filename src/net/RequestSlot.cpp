#include "net/RequestSlot.h"

#include "net/NetworkService.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

QNetworkRequest makeRequest(const QString &address, int timeoutMs)
{
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    request.setTransferTimeout(timeoutMs);
    // Every address carries a changing rnt value; never let a cache answer in the server's place.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    return request;
}

} // namespace

RequestSlot::RequestSlot(QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_manager(manager ? manager : NetworkService::manager()),
      m_timeoutMs(NetworkService::DefaultTransferTimeoutMs)
{}

RequestSlot::~RequestSlot()
{
    abort();
}

void RequestSlot::get(const QString &address)
{
    abort();
    start(m_manager->get(makeRequest(address, m_timeoutMs)));
}

void RequestSlot::postForm(const QString &address, const QByteArray &body)
{
    abort();
    QNetworkRequest request = makeRequest(address, m_timeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    start(m_manager->post(request, body));
}

void RequestSlot::abort()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void RequestSlot::start(QNetworkReply *reply)
{
    m_reply = reply;
    m_tooLarge = false;
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (reply == m_reply && received > m_maxBody && !m_tooLarge) {
            m_tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == m_reply)
            onFinished();
    });
}

void RequestSlot::onFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();

    HttpResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = QString::fromLatin1(reply->rawHeader(QByteArrayLiteral("Content-Type")));
    const int error = reply->error();
    // Codes below 200 are transport and proxy failures (refused, dropped, timed out). Above
    // that the server did answer, with an error status the caller looks at.
    const bool transportFailure = error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    if (m_tooLarge || transportFailure || result.status == 0) {
        result.status = 0;
        result.errorText = m_tooLarge ? QStringLiteral("answer too large") : reply->errorString();
    } else {
        result.failed = false;
        result.body = reply->readAll();
    }
    Q_EMIT finished(result);
}
