#include "catalogue/Downloader.h"

#include "net/NetworkLimits.h"
#include "net/NetworkService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <filesystem>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Small enough that a large book never sits in memory, large enough for full speed.
constexpr qint64 ChunkBytes = 256 * 1024;
constexpr qint64 ReplyBufferBytes = 2 * 1024 * 1024;

// Numbers of the start errors, as the message shows them.
constexpr int InvalidAddressError = 5;
constexpr int FileAccessError = 75;
constexpr int AlreadyRunningError = 58;

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

// Puts the partial file in place of saveFile in one step: the old file stays whole until then.
bool replaceWith(const QString &part, const QString &saveFile)
{
    std::error_code error;
    std::filesystem::rename(QFileInfo(part).filesystemAbsoluteFilePath(), QFileInfo(saveFile).filesystemAbsoluteFilePath(),
                            error);
    return !error;
}

} // namespace

Downloader::Downloader(QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_manager(manager ? manager : NetworkService::manager()),
      m_timeoutMs(NetworkService::DefaultTransferTimeoutMs)
{}

Downloader::~Downloader()
{
    cancelAllDownload();
}

QString Downloader::PartFileOf(const QString &saveFile)
{
    const QFileInfo info(saveFile);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".part"));
}

std::optional<Downloader::StartError> Downloader::beginDownload(const QString &url, const QString &saveFile)
{
    const QUrl address(url, QUrl::TolerantMode);
    if (!address.isValid() || address.isRelative() ||
        (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https")))
        return StartError{InvalidAddressError, QStringLiteral("无效的下载地址：%1").arg(url)};
    if (const Task *running = find(saveFile); running && running->state == Running)
        return StartError{AlreadyRunningError, QStringLiteral("该文件正在下载：%1").arg(saveFile)};

    auto task = std::make_unique<Task>();
    task->url = url;
    task->saveFile = saveFile;
    task->part = std::make_unique<QFile>(PartFileOf(saveFile));
    // Bytes kept from a broken-off transfer are used only while their size still fits the file
    // they came from; anything else under the partial name is stale and starts over.
    const auto kept = m_resume.constFind(saveFile);
    const qint64 keptBytes = task->part->exists() ? task->part->size() : 0;
    const bool resume = kept != m_resume.cend() && keptBytes > 0 && keptBytes < kept->total;
    const QIODevice::OpenMode mode = resume ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!task->part->open(mode)) {
        m_resume.remove(saveFile);
        return StartError{FileAccessError,
                          QStringLiteral("无法写入文件 %1：%2").arg(saveFile, task->part->errorString())};
    }
    if (resume) {
        task->offset = keptBytes;
        task->total = kept->total;
        task->validator = kept->validator;
    }
    m_resume.remove(saveFile);
    // A retry replaces the ended task of the same name, so the batch counts only the retry.
    std::erase_if(m_tasks, [&saveFile](const auto &t) { return t->saveFile == saveFile && t->state != Running; });
    request(*task);
    m_tasks.push_back(std::move(task));
    return std::nullopt;
}

void Downloader::request(Task &task)
{
    QNetworkRequest request = GuardedRequest(QUrl(task.url, QUrl::TolerantMode), m_timeoutMs);
    if (task.offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(task.offset) + '-');
        if (!task.validator.isEmpty())
            request.setRawHeader("If-Range", task.validator);
    }
    QNetworkReply *reply = m_manager->get(request);
    reply->setReadBufferSize(ReplyBufferBytes);
    GuardReply(reply, NetworkLimits::BookBytes);
    task.reply = reply;
    task.written = 0;
    task.answered = false;
    task.discard = false;
    task.sinceProgress.start();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    // A second answer on the same reply after bytes were written (a transport that asks again
    // behind our back) would start from its first byte again: those bytes cannot be trusted.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        Task *task = findByReply(reply);
        if (task && task->written > 0 && !task->writeFailed) {
            task->failure = Failure::Interrupted;
            task->untrusted = true;
            task->writeFailed = true;
            reply->abort();
        }
    });
}

void Downloader::dropReply(Task &task)
{
    if (!task.reply)
        return;
    task.reply->disconnect(this);
    task.reply->abort();
    task.reply->deleteLater();
    task.reply = nullptr;
}

void Downloader::restartFromScratch(Task &task)
{
    dropReply(task);
    task.part->resize(0);
    task.part->seek(0);
    task.offset = 0;
    task.total = -1;
    task.validator.clear();
    request(task);
}

// Looks at the status and headers once, before the first byte is written. False when the
// answer does not continue the partial file and the task has asked again from the start.
bool Downloader::takeAnswer(Task &task)
{
    if (task.answered)
        return true;
    task.answered = true;
    QNetworkReply *reply = task.reply;
    const int status = httpStatus(reply);
    if (status < 200 || status >= 300) {
        task.discard = true; // an error page is no part of the book; onFinished() fails the task
        return true;
    }
    const QByteArray etag = reply->rawHeader("ETag");
    const QByteArray validator = etag.isEmpty() ? reply->rawHeader("Last-Modified") : etag;
    if (task.offset > 0) {
        if (status != 206) {
            // The server sent the whole file instead: take it from the start.
            task.part->resize(0);
            task.part->seek(0);
            task.offset = 0;
            task.total = -1;
        } else {
            const auto range = parseContentRange(reply->rawHeader("Content-Range"));
            if (!range || range->from != task.offset || range->total != task.total ||
                (!task.validator.isEmpty() && validator != task.validator)) {
                restartFromScratch(task);
                return false;
            }
            task.ranges = true;
        }
    }
    if (task.offset == 0) {
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        task.total = known && length > 0 ? length : -1;
        task.ranges = reply->rawHeader("Accept-Ranges").trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    }
    task.validator = validator;
    return true;
}

bool Downloader::cancelAllDownload()
{
    // Taken out first: aborting a reply can emit signals that look tasks up.
    std::vector<std::unique_ptr<Task>> tasks;
    tasks.swap(m_tasks);
    for (const auto &task : tasks) {
        dropReply(*task);
        if (task->state == Running && task->part)
            task->part->remove();
    }
    for (auto it = m_resume.cbegin(); it != m_resume.cend(); ++it)
        QFile::remove(PartFileOf(it.key()));
    m_resume.clear();
    return true;
}

bool Downloader::cancel(const QString &saveFile)
{
    Task *task = find(saveFile);
    if (!task || task->state != Running)
        return false;
    dropReply(*task);
    task->failure = Failure::Cancelled;
    conclude(*task, false);
    return true;
}

void Downloader::forget(const QString &saveFile)
{
    if (m_resume.remove(saveFile) > 0)
        QFile::remove(PartFileOf(saveFile));
}

std::optional<Downloader::State> Downloader::stateOf(const QString &saveFile) const
{
    const Task *task = find(saveFile);
    return task ? std::optional<State>(task->state) : std::nullopt;
}

Downloader::Failure Downloader::failureOf(const QString &saveFile) const
{
    const Task *task = find(saveFile);
    return task ? task->failure : Failure::None;
}

qint64 Downloader::resumableBytes(const QString &saveFile) const
{
    if (!m_resume.contains(saveFile))
        return 0;
    return QFileInfo(PartFileOf(saveFile)).size();
}

Downloader::Task *Downloader::find(const QString &saveFile) const
{
    // The newest task of that name: an ended one may still be listed until its batch ends.
    for (auto it = m_tasks.rbegin(); it != m_tasks.rend(); ++it) {
        if ((*it)->saveFile == saveFile)
            return it->get();
    }
    return nullptr;
}

Downloader::Task *Downloader::findByReply(const QNetworkReply *reply) const
{
    for (const auto &task : m_tasks) {
        if (task->reply == reply)
            return task.get();
    }
    return nullptr;
}

void Downloader::drain(Task &task)
{
    if (m_buffer.size() < ChunkBytes)
        m_buffer.resize(ChunkBytes);
    char *buffer = m_buffer.data();
    while (task.reply->bytesAvailable() > 0) {
        const qint64 got = task.reply->read(buffer, ChunkBytes);
        if (got <= 0)
            break;
        if (task.writeFailed || task.discard)
            continue; // keep the reply flowing until it ends or abort takes effect
        if (task.offset + task.written + got > NetworkLimits::BookBytes) {
            task.failure = Failure::Refused;
            task.writeFailed = true;
            task.reply->abort();
            return;
        }
        if (task.part->write(buffer, got) != got) {
            task.failure = task.part->error() == QFileDevice::ResourceError ? Failure::DiskFull : Failure::WriteFailed;
            task.writeFailed = true;
            task.reply->abort();
            return;
        }
        task.written += got;
    }
}

void Downloader::onReadyRead(QNetworkReply *reply)
{
    Task *task = findByReply(reply);
    if (!task || !takeAnswer(*task))
        return;
    drain(*task);
    reportProgress(*task);
}

void Downloader::reportProgress(Task &task)
{
    // Counted from the bytes written rather than from Qt's own progress signal, which Qt
    // throttles: every piece that arrives is a chance to report, and the last one always is.
    // Only a size the server announced counts.
    if (task.total <= 0 || task.writeFailed)
        return;
    const qint64 done = task.offset + task.written;
    if (done < task.total && task.sinceProgress.elapsed() < m_progressIntervalMs)
        return;
    task.sinceProgress.restart();
    const qint64 total = task.total;
    const QString saveFile = task.saveFile;
    Q_EMIT downloadProgress(done, total, saveFile);
}

void Downloader::onFinished(QNetworkReply *reply)
{
    Task *task = findByReply(reply);
    if (!task)
        return;
    const int status = httpStatus(reply);
    // The file shrank below the bytes kept: fetch it whole.
    if (status == 416 && task->offset > 0) {
        restartFromScratch(*task);
        return;
    }
    if (!task->writeFailed && reply->error() == QNetworkReply::NoError) {
        if (!takeAnswer(*task))
            return;
        drain(*task);
        reportProgress(*task);
        // The progress handler may have cancelled everything.
        task = findByReply(reply);
        if (!task)
            return;
    }
    reply->disconnect(this);
    reply->deleteLater();
    task->reply = nullptr;

    // A connection that ends early is not always reported as an error: the size the server
    // announced is what tells a whole book from the start of one.
    bool announced = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&announced);
    const bool whole = (!announced || task->written == length) &&
                       (task->total <= 0 || task->offset + task->written == task->total);
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    if (task->failure == Failure::None && !(ok && whole)) {
        if (ReplyTooLarge(reply) || (status > 0 && (status < 200 || status >= 300)))
            task->failure = Failure::Refused;
        else
            task->failure = Failure::Interrupted;
    }
    if (task->failure == Failure::None && !delimited(reply))
        task->failure = Failure::Unsized;
    conclude(*task, task->failure == Failure::None);
}

// Ends a task whose reply is gone: its partial file takes SaveFile's place, is kept for a
// retry, or is removed; then the signals, the stored state and the batch check.
void Downloader::conclude(Task &task, bool received)
{
    const QString saveFile = task.saveFile;
    const qint64 total = task.offset + task.written;
    const std::unique_ptr<QFile> part = std::move(task.part);
#ifdef Q_OS_UNIX
    // On disk before it takes the book's name, so a crash just after cannot leave an empty book.
    if (received && part->flush())
        ::fsync(part->handle());
#endif
    part->close();

    State outcome = Failed;
    if (received && replaceWith(part->fileName(), saveFile)) {
        outcome = Finished;
    } else {
        if (received)
            task.failure = Failure::WriteFailed;
        // An error answer may be passing (a busy server); what it refused is still worth keeping.
        const bool keep = (task.failure == Failure::Interrupted || task.failure == Failure::Refused) && !task.untrusted &&
                          task.ranges && task.total > 0 && part->size() > 0 &&
                          part->size() < task.total;
        if (keep)
            m_resume.insert(saveFile, Resume{task.total, task.validator});
        else
            part->remove();
    }

    if (outcome == Finished)
        Q_EMIT downloadComplete(total, saveFile);
    else
        Q_EMIT downloadError(saveFile);

    // The handlers above may have cancelled everything or started new tasks.
    Task *after = find(saveFile);
    if (!after || after->state != Running)
        return;
    after->state = outcome;
    checkAllDone();
}

void Downloader::checkAllDone()
{
    QStringList failed;
    for (const auto &task : m_tasks) {
        if (task->state == Failed)
            failed.append(task->saveFile);
        else if (task->state != Finished)
            return;
    }
    // Every task has ended: no reply to drop, and the partial files kept for retries stay.
    m_tasks.clear();
    Q_EMIT allDownloadsDone(failed);
}

QString BeginDownloadErrorMessage(const Downloader::StartError &error)
{
    return QString::number(error.number) + QStringLiteral(":错误在调用 BeginDownload().\r\n\r\n错误描述: ") +
           error.description;
}
