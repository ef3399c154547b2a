#include "net/RequestSlot.h"

#include "net/NetworkLimits.h"
#include "net/NetworkService.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

RequestSlot::RequestSlot(QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_manager(manager ? manager : NetworkService::manager()),
      m_timeoutMs(NetworkService::DefaultTransferTimeoutMs), m_maxBody(NetworkLimits::AnswerBytes)
{}

RequestSlot::~RequestSlot()
{
    abort();
}

void RequestSlot::get(const QString &address)
{
    abort();
    start(m_manager->get(GuardedRequest(QUrl(address, QUrl::TolerantMode), m_timeoutMs)));
}

void RequestSlot::postForm(const QString &address, const QByteArray &body)
{
    post(address, body, QByteArrayLiteral("application/x-www-form-urlencoded"));
}

void RequestSlot::post(const QString &address, const QByteArray &body, const QByteArray &contentType)
{
    abort();
    QNetworkRequest request = GuardedRequest(QUrl(address, QUrl::TolerantMode), m_timeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
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
    GuardReply(reply, m_maxBody);
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
    // After a redirect the reply can still hold the hop's Content-Type before the final one
    // ("text/html, text/xml"); only the last answer's type counts.
    const QByteArray contentType = reply->rawHeader(QByteArrayLiteral("Content-Type"));
    result.contentType = QString::fromLatin1(contentType.mid(contentType.lastIndexOf(',') + 1).trimmed());
    const int error = reply->error();
    // Codes below 200 are transport and proxy failures (refused, dropped, timed out). Above
    // that the server did answer, with an error status the caller looks at.
    const bool transportFailure = error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    const bool tooLarge = ReplyTooLarge(reply);
    if (tooLarge || transportFailure || result.status == 0) {
        result.status = 0;
        result.tooLarge = tooLarge;
        // The slot's own aborts are never delivered: a cancelled reply that was neither too
        // large nor refused a redirect ran out of time.
        result.timedOut = error == QNetworkReply::OperationCanceledError && !tooLarge && !ReplyRedirectRefused(reply);
        if (result.timedOut)
            result.errorText = QStringLiteral("服务器在 %1 秒内没有回答。").arg((m_timeoutMs + 999) / 1000);
        else
            result.errorText = tooLarge ? QStringLiteral("answer too large") : reply->errorString();
    } else {
        result.failed = false;
        result.body = reply->readAll();
    }
    Q_EMIT finished(result);
}

QString NoAnswerText(const HttpResult &result)
{
    if (result.timedOut)
        return result.errorText;
    return QStringLiteral("无法连接服务器：%1").arg(BoundedServerText(result.errorText, 200));
}
