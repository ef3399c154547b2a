#include "account/PrivateCopyUpload.h"

#include "net/AnswerReader.h"
#include "net/NetworkLimits.h"
#include "net/NetworkService.h"
#include "net/XmlTree.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QUrl>

namespace {

constexpr qint64 kAnswerBytes = 256 * 1024;
const QByteArray kSessionCookie = "folioway_session";

// The file read whole and its fingerprint as the library writes it ("<size>:<sha1>").
struct ReadBook
{
    QByteArray bytes;
    QString fingerprint;
    QString error;
};

ReadBook readBook(const QString &path)
{
    ReadBook out;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("找不到或无法打开文件：%1").arg(path);
        return out;
    }
    if (file.size() > PrivateCopyUpload::MaxBookBytes) {
        out.error = QStringLiteral("文件太大（超过%1MB）").arg(PrivateCopyUpload::MaxBookBytes >> 20);
        return out;
    }
    out.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        out.error = QStringLiteral("读取文件失败：%1").arg(file.errorString());
        return out;
    }
    out.fingerprint =
        QStringLiteral("%1:%2")
            .arg(out.bytes.size())
            .arg(QString::fromLatin1(QCryptographicHash::hash(out.bytes, QCryptographicHash::Sha1).toHex()));
    return out;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', bytes < 10 * 1024 * 1024 ? 1 : 0);
}

// Why a reply brought no usable answer, or empty when it did.
QString replyProblem(QNetworkReply *reply)
{
    if (ReplyTooLarge(reply))
        return QStringLiteral("服务器的回复太大，无法识别。");
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError)
        return QStringLiteral("服务器长时间没有回应，请稍后再试。");
    if (reply->error() != QNetworkReply::NoError &&
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 0)
        return QStringLiteral("无法连接服务器：%1").arg(BoundedServerText(reply->errorString(), 200));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 503)
        return QStringLiteral("服务器暂时无法使用，请稍后再试。");
    if (status != 200)
        return QStringLiteral("服务器答复了错误（HTTP %1）。").arg(status);
    return {};
}

} // namespace

PrivateCopyUpload::PrivateCopyUpload(QString serverBaseUrl, QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_serverBaseUrl(std::move(serverBaseUrl)),
      m_manager(manager ? manager : NetworkService::manager()), m_reader(new AnswerReader(this))
{}

PrivateCopyUpload::~PrivateCopyUpload()
{
    for (QNetworkReply *reply : {m_reply.data(), m_usageReply.data()}) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
}

bool PrivateCopyUpload::signedIn(const QString &knownAccount) const
{
    if (!knownAccount.isEmpty())
        return true;
    const QNetworkCookieJar *jar = m_manager->cookieJar();
    if (!jar)
        return false;
    const QList<QNetworkCookie> cookies = jar->cookiesForUrl(QUrl(m_serverBaseUrl + QStringLiteral("/folioway/")));
    return std::any_of(cookies.begin(), cookies.end(),
                       [](const QNetworkCookie &c) { return c.name() == kSessionCookie && !c.value().isEmpty(); });
}

void PrivateCopyUpload::send(const QList<BookRecord> &books)
{
    if (!isBusy()) {
        m_position = 0;
        m_total = 0;
        m_sent = 0;
        m_failures.clear();
    }
    for (const BookRecord &book : books) {
        const auto same = [&](const BookRecord &other) { return other.path == book.path; };
        if (book.id == 0 || same(m_current) || std::any_of(m_queue.begin(), m_queue.end(), same))
            continue;
        m_queue.append(book);
        ++m_total;
    }
    if (m_current.id == 0)
        next();
}

void PrivateCopyUpload::next()
{
    if (m_queue.isEmpty()) {
        m_current = {};
        m_progress.clear();
        Q_EMIT finished(m_sent, m_failures);
        return;
    }
    m_current = m_queue.takeFirst();
    ++m_position;
    report(0, 0);
    m_reader->read([path = m_current.path] { return readBook(path); },
                   [this](const ReadBook &read) {
                       if (!read.error.isEmpty())
                           return fail(read.error);
                       upload(read.bytes, read.fingerprint);
                   });
}

void PrivateCopyUpload::upload(const QByteArray &bytes, const QString &fingerprint)
{
    QUrl url(m_serverBaseUrl + QStringLiteral("/folioway/private/v1/put"), QUrl::TolerantMode);
    url.setQuery(QStringLiteral("fingerprint=%1&name=%2&author=%3")
                     .arg(fingerprint, QString::fromLatin1(QUrl::toPercentEncoding(m_current.name.trimmed().left(100))),
                          QString::fromLatin1(QUrl::toPercentEncoding(m_current.author.trimmed().left(100)))),
                 QUrl::StrictMode);
    QNetworkRequest request = GuardedRequest(url, NetworkService::DefaultTransferTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    m_reply = m_manager->post(request, bytes);
    GuardReply(m_reply, kAnswerBytes);
    connect(m_reply, &QNetworkReply::uploadProgress, this, &PrivateCopyUpload::report);
    connect(m_reply, &QNetworkReply::finished, this, &PrivateCopyUpload::onReply);
}

void PrivateCopyUpload::onReply()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (const QString problem = replyProblem(reply); !problem.isEmpty())
        return fail(problem);
    const XmlTree answer = XmlTree::parse(reply->readAll());
    const QString status = answer.first(QStringLiteral("status")).text();
    const QString message = BoundedServerText(answer.first(QStringLiteral("message")).text(), 300);
    if (status == u"login")
        return fail(QStringLiteral("没有登录，或登录已过期。请在“用户中心”重新登录后再试。"));
    if (status != u"ok")
        return fail(message.isEmpty() ? QStringLiteral("服务器的回复无法识别。") : message);
    bool ok = false;
    const qint64 used = answer.first(QStringLiteral("used")).text().toLongLong(&ok);
    if (ok) {
        m_used = used;
        m_quota = answer.first(QStringLiteral("quota")).text().toLongLong();
    }
    ++m_sent;
    refreshUsage();
    next();
}

void PrivateCopyUpload::fail(const QString &why)
{
    m_failures << QStringLiteral("《%1》：%2").arg(m_current.name, why);
    next();
}

void PrivateCopyUpload::report(qint64 sentBytes, qint64 totalBytes)
{
    QString text = QStringLiteral("正在放到我的服务器：《%1》").arg(m_current.name);
    if (m_total > 1)
        text += QStringLiteral("（%1/%2）").arg(m_position).arg(m_total);
    if (totalBytes > 0)
        text += QStringLiteral(" %1%").arg(sentBytes * 100 / totalBytes);
    if (text == m_progress)
        return;
    m_progress = text;
    Q_EMIT progress(text);
}

void PrivateCopyUpload::refreshUsage()
{
    if (m_usageReply) {
        m_usageStale = true;
        return;
    }
    m_usageStale = false;
    QNetworkRequest request = GuardedRequest(QUrl(m_serverBaseUrl + QStringLiteral("/folioway/private/v1/list")),
                                             NetworkService::DefaultTransferTimeoutMs);
    m_usageReply = m_manager->get(request);
    GuardReply(m_usageReply, NetworkLimits::AnswerBytes);
    connect(m_usageReply, &QNetworkReply::finished, this, [this] {
        QNetworkReply *reply = m_usageReply;
        m_usageReply = nullptr;
        if (!reply)
            return;
        reply->deleteLater();
        // The answer may predate a copy stored meanwhile: ask again rather than show the old count.
        if (m_usageStale)
            return refreshUsage();
        if (!replyProblem(reply).isEmpty())
            return;
        const XmlTree answer = XmlTree::parse(reply->readAll());
        if (answer.first(QStringLiteral("status")).text() != u"ok")
            return;
        m_used = answer.first(QStringLiteral("used")).text().toLongLong();
        m_quota = answer.first(QStringLiteral("quota")).text().toLongLong();
        m_count = int(answer.all(QStringLiteral("item")).size());
        Q_EMIT usageChanged();
    });
}

QString PrivateCopyUpload::usageText() const
{
    if (m_used < 0 || m_quota < 0)
        return QStringLiteral("未知（登录后可以在书架的右键菜单里“放到我的服务器”）");
    return QStringLiteral("%1 本，已用 %2，上限 %3").arg(m_count).arg(sizeText(m_used), sizeText(m_quota));
}
