#include "catalogue/Transfer.h"

#include "catalogue/PartFile.h"
#include "net/NetworkLimits.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

namespace {

// Small enough that a large book never sits in memory, large enough for full speed.
constexpr qint64 ChunkBytes = 256 * 1024;
constexpr qint64 ReplyBufferBytes = 2 * 1024 * 1024;

struct ContentRange
{
    qint64 from = -1;
    qint64 total = -1;
};

// "bytes 100-199/1000"; nothing for any other form, an unknown total included.
std::optional<ContentRange> parseContentRange(const QByteArray &header)
{
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const qsizetype dash = value.indexOf('-');
    const qsizetype slash = value.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    bool okFrom = false;
    bool okTotal = false;
    ContentRange range{value.mid(6, dash - 6).trimmed().toLongLong(&okFrom),
                       value.mid(slash + 1).trimmed().toLongLong(&okTotal)};
    if (!okFrom || !okTotal || range.from < 0 || range.total <= range.from)
        return std::nullopt;
    return range;
}

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Whether the answer itself says where the body ends: a length, a chunked body (whose last chunk
// the transport checks) or HTTP/2 framing. Without any of them the end of the connection is the
// end of the body, and a connection cut midway cannot be told from a whole book.
bool delimited(const QNetworkReply *reply)
{
    return reply->hasRawHeader("Content-Length") ||
           reply->rawHeader("Transfer-Encoding").toLower().contains("chunked") ||
           reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
}

} // namespace

Transfer::Transfer(Context &context, const QString &url) : m_context(context), m_url(url) {}

Transfer::~Transfer()
{
    dropReply();
}

void Transfer::start(PartFile &part, qint64 kept, const Resume &resume)
{
    m_part = &part;
    if (kept > 0) {
        m_offset = kept;
        m_total = resume.total;
        m_validator = resume.validator;
        m_ranges = true; // the bytes were kept because the server offered ranges
    }
    if (kept > 0 && kept == m_total) {
        // Every byte is in already: nothing to ask, and the ending comes as a reply's would.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_part)
                    return;
                m_part = nullptr;
                Q_EMIT progress(m_total, m_total);
                Q_EMIT ended(DownloadFailure::None);
            },
            Qt::QueuedConnection);
        return;
    }
    request();
}

void Transfer::stop()
{
    dropReply();
    m_part = nullptr;
}

std::optional<Transfer::Resume> Transfer::resumeAt(qint64 partBytes, bool whole) const
{
    if (m_untrusted || m_total <= 0 || partBytes <= 0 || partBytes > m_total)
        return std::nullopt;
    if (partBytes == m_total ? !whole : !m_ranges)
        return std::nullopt;
    return Resume{m_total, m_validator};
}

void Transfer::request()
{
    QNetworkRequest request = GuardedRequest(QUrl(m_url, QUrl::TolerantMode), m_context.timeoutMs);
    if (m_offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_offset) + '-');
        if (!m_validator.isEmpty())
            request.setRawHeader("If-Range", m_validator);
    }
    QNetworkReply *reply = m_context.manager->get(request);
    reply->setReadBufferSize(ReplyBufferBytes);
    GuardReply(reply, NetworkLimits::BookBytes);
    m_reply = reply;
    m_written = 0;
    m_answered = false;
    m_discard = false;
    m_sinceProgress.start();
    connect(reply, &QNetworkReply::readyRead, this, &Transfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Transfer::onFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this, &Transfer::onMetaDataChanged);
}

void Transfer::dropReply()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void Transfer::restartFromScratch()
{
    dropReply();
    m_part->clear();
    m_offset = 0;
    m_total = -1;
    m_validator.clear();
    request();
}

// Fails the transfer while bytes are still coming: the reply is aborted, which ends it.
void Transfer::halt(DownloadFailure failure)
{
    m_failure = failure;
    m_halted = true;
    m_reply->abort();
}

// Looks at the status and headers once, before the first byte is written. False when the
// answer does not continue the partial file and the transfer has asked again from the start.
bool Transfer::takeAnswer()
{
    if (m_answered)
        return true;
    m_answered = true;
    const int status = httpStatus(m_reply);
    if (status < 200 || status >= 300) {
        m_discard = true; // an error page is no part of the book; onFinished() fails the transfer
        return true;
    }
    const QByteArray etag = m_reply->rawHeader("ETag");
    const QByteArray validator = etag.isEmpty() ? m_reply->rawHeader("Last-Modified") : etag;
    if (m_offset > 0) {
        if (status != 206) {
            // The server sent the whole file instead: take it from the start.
            m_part->clear();
            m_offset = 0;
            m_total = -1;
        } else {
            const auto range = parseContentRange(m_reply->rawHeader("Content-Range"));
            if (!range || range->from != m_offset || range->total != m_total ||
                (!m_validator.isEmpty() && validator != m_validator)) {
                restartFromScratch();
                return false;
            }
            m_ranges = true;
        }
    }
    if (m_offset == 0) {
        bool known = false;
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        m_total = known && length > 0 ? length : -1;
        m_ranges = m_reply->rawHeader("Accept-Ranges").trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    }
    m_validator = validator;
    return true;
}

void Transfer::drain()
{
    if (m_context.buffer.size() < ChunkBytes)
        m_context.buffer.resize(ChunkBytes);
    char *buffer = m_context.buffer.data();
    while (m_reply->bytesAvailable() > 0) {
        const qint64 got = m_reply->read(buffer, ChunkBytes);
        if (got <= 0)
            break;
        if (m_halted || m_discard)
            continue; // keep the reply flowing until it ends or abort takes effect
        if (m_offset + m_written + got > NetworkLimits::BookBytes) {
            halt(DownloadFailure::Refused);
            return;
        }
        if (const auto written = m_part->write(buffer, got); written != PartFile::WriteResult::Written) {
            halt(written == PartFile::WriteResult::DiskFull ? DownloadFailure::DiskFull : DownloadFailure::WriteFailed);
            return;
        }
        m_written += got;
    }
}

void Transfer::onReadyRead()
{
    if (!takeAnswer())
        return;
    // A failed write aborts the reply, which can end the transfer and its owner with it.
    const QPointer<Transfer> alive(this);
    drain();
    if (alive)
        reportProgress();
}

// A second answer on the same reply after bytes were written (a transport that asks again
// behind our back) would start from its first byte again: those bytes cannot be trusted.
void Transfer::onMetaDataChanged()
{
    if (m_written > 0 && !m_halted) {
        m_untrusted = true;
        halt(DownloadFailure::Interrupted);
    }
}

void Transfer::reportProgress()
{
    // Counted from the bytes written rather than from Qt's own progress signal, which Qt
    // throttles: every piece that arrives is a chance to report, and the last one always is.
    // Only a size the server announced counts.
    if (m_total <= 0 || m_halted)
        return;
    const qint64 done = m_offset + m_written;
    if (done < m_total && m_sinceProgress.elapsed() < m_context.progressIntervalMs)
        return;
    m_sinceProgress.restart();
    Q_EMIT progress(done, m_total);
}

void Transfer::onFinished()
{
    QNetworkReply *reply = m_reply;
    const int status = httpStatus(reply);
    // The file shrank below the bytes kept: fetch it whole.
    if (status == 416 && m_offset > 0) {
        restartFromScratch();
        return;
    }
    if (!m_halted && reply->error() == QNetworkReply::NoError) {
        if (!takeAnswer())
            return;
        drain();
        const QPointer<Transfer> alive(this);
        reportProgress();
        // The progress handler may have stopped this transfer or cancelled everything.
        if (!alive || m_reply != reply)
            return;
    }
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;
    m_part = nullptr;

    // A connection that ends early is not always reported as an error: the size the server
    // announced is what tells a whole book from the start of one.
    bool announced = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&announced);
    const bool whole = (!announced || m_written == length) && (m_total <= 0 || m_offset + m_written == m_total);
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    if (m_failure == DownloadFailure::None && !(ok && whole)) {
        if (ReplyTooLarge(reply) || (status > 0 && (status < 200 || status >= 300)))
            m_failure = DownloadFailure::Refused;
        else
            m_failure = DownloadFailure::Interrupted;
    }
    if (m_failure == DownloadFailure::None && !delimited(reply))
        m_failure = DownloadFailure::Unsized;
    Q_EMIT ended(m_failure);
}
