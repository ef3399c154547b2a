#include "catalogue/Downloader.h"

#include "net/NetworkLimits.h"
#include "net/NetworkService.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

namespace {

// Small enough that a large book never sits in memory, large enough for full speed.
constexpr qint64 ChunkBytes = 256 * 1024;
constexpr qint64 ReplyBufferBytes = 2 * 1024 * 1024;

// Numbers of the start errors, as the message shows them.
constexpr int InvalidAddressError = 5;
constexpr int FileAccessError = 75;
constexpr int AlreadyRunningError = 58;

} // namespace

Downloader::Downloader(QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_manager(manager ? manager : NetworkService::manager()),
      m_timeoutMs(NetworkService::DefaultTransferTimeoutMs)
{}

Downloader::~Downloader()
{
    cancelAllDownload();
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
    task->saveFile = saveFile;
    task->file = std::make_unique<QSaveFile>(saveFile);
    if (!task->file->open(QIODevice::WriteOnly))
        return StartError{FileAccessError,
                          QStringLiteral("无法写入文件 %1：%2").arg(saveFile, task->file->errorString())};

    QNetworkReply *reply = m_manager->get(GuardedRequest(address, m_timeoutMs));
    reply->setReadBufferSize(ReplyBufferBytes);
    GuardReply(reply, NetworkLimits::BookBytes);
    task->reply = reply;
    task->sinceProgress.start();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    m_tasks.push_back(std::move(task));
    return std::nullopt;
}

bool Downloader::cancelAllDownload()
{
    // Taken out first: aborting a reply can emit signals that look tasks up.
    std::vector<std::unique_ptr<Task>> tasks;
    tasks.swap(m_tasks);
    for (const auto &task : tasks) {
        if (task->reply) {
            task->reply->disconnect(this);
            task->reply->abort();
            task->reply->deleteLater();
            task->reply = nullptr;
        }
        if (task->file)
            task->file->cancelWriting();
    }
    return true;
}

std::optional<Downloader::State> Downloader::stateOf(const QString &saveFile) const
{
    const Task *task = find(saveFile);
    return task ? std::optional<State>(task->state) : std::nullopt;
}

Downloader::Task *Downloader::find(const QString &saveFile) const
{
    for (const auto &task : m_tasks) {
        if (task->saveFile == saveFile)
            return task.get();
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
        if (task.writeFailed)
            continue; // keep the reply flowing until abort takes effect
        if (task.written + got > NetworkLimits::BookBytes || task.file->write(buffer, got) != got) {
            task.writeFailed = true;
            task.reply->abort();
            return;
        }
        task.written += got;
    }
}

void Downloader::onReadyRead(QNetworkReply *reply)
{
    if (Task *task = findByReply(reply)) {
        drain(*task);
        reportProgress(*task);
    }
}

void Downloader::reportProgress(Task &task)
{
    // Counted from the bytes written rather than from Qt's own progress signal, which Qt
    // throttles: every piece that arrives is a chance to report, and the last one always is.
    // Only a size the server announced counts.
    bool known = false;
    const qint64 total = task.reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (!known || total <= 0 || task.writeFailed)
        return;
    if (task.written < total && task.sinceProgress.elapsed() < m_progressIntervalMs)
        return;
    task.sinceProgress.restart();
    const qint64 written = task.written;
    const QString saveFile = task.saveFile;
    Q_EMIT downloadProgress(written, total, saveFile);
}

void Downloader::onFinished(QNetworkReply *reply)
{
    Task *task = findByReply(reply);
    if (!task)
        return;
    if (!task->writeFailed && reply->error() == QNetworkReply::NoError) {
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

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A connection that ends early is not always reported as an error: the size the server
    // announced is what tells a whole book from the start of one.
    bool announced = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&announced);
    const bool received = reply->error() == QNetworkReply::NoError && !task->writeFailed && status >= 200 &&
                          status < 300 && (!announced || task->written == length);
    const std::unique_ptr<QSaveFile> file = std::move(task->file);
    const QString saveFile = task->saveFile;
    const qint64 total = task->written;

    State outcome = Failed;
    if (received && file->commit()) {
        outcome = Finished;
        Q_EMIT downloadComplete(total, saveFile);
    } else {
        file->cancelWriting();
        Q_EMIT downloadError(saveFile);
    }

    // The handlers above may have cancelled everything or started new tasks.
    Task *after = find(saveFile);
    if (!after)
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
    cancelAllDownload();
    Q_EMIT allDownloadsDone(failed);
}

QString BeginDownloadErrorMessage(const Downloader::StartError &error)
{
    return QString::number(error.number) + QStringLiteral(":错误在调用 BeginDownload().\r\n\r\n错误描述: ") +
           error.description;
}
