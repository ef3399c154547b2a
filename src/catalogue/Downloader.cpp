#include "catalogue/Downloader.h"

#include "catalogue/PartFile.h"
#include "catalogue/WriteFailure.h"
#include "net/NetworkService.h"

#include <QFileInfo>
#include <QUrl>

namespace {

// Numbers of the start errors, as the message shows them.
constexpr int InvalidAddressError = 5;
constexpr int FileAccessError = 75;
constexpr int AlreadyRunningError = 58;

} // namespace

struct Downloader::Task
{
    QString saveFile;
    State state = Running;
    Failure failure = Failure::None;
    std::unique_ptr<PartFile> part; // handed to conclude() once the transfer has ended
    std::unique_ptr<Transfer> transfer;
};

Downloader::Downloader(QObject *parent, QNetworkAccessManager *manager) : QObject(parent)
{
    m_context.manager = manager ? manager : NetworkService::manager();
    m_context.timeoutMs = NetworkService::DefaultTransferTimeoutMs;
}

Downloader::~Downloader()
{
    cancelAllDownload();
}

QString Downloader::PartFileOf(const QString &saveFile)
{
    return PartFile::pathOf(saveFile);
}

std::optional<Downloader::StartError> Downloader::beginDownload(const QString &url, const QString &saveFile)
{
    const QUrl address(url, QUrl::TolerantMode);
    if (!address.isValid() || address.isRelative() ||
        (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https")))
        return StartError{InvalidAddressError, QStringLiteral("无效的下载地址：%1").arg(url), {}};
    if (const Task *running = find(saveFile); running && running->state == Running)
        return StartError{AlreadyRunningError, QStringLiteral("该文件正在下载：%1").arg(saveFile), {}};

    auto task = std::make_unique<Task>();
    task->saveFile = saveFile;
    task->part = std::make_unique<PartFile>(saveFile);
    // Bytes kept from a broken-off transfer are used only while their size still fits the file
    // they came from; anything else under the partial name is stale and starts over.
    const Transfer::Resume kept = m_resume.value(saveFile);
    const qint64 keptBytes = task->part->size();
    const bool resume = m_resume.contains(saveFile) && keptBytes > 0 && keptBytes <= kept.total;
    m_resume.remove(saveFile);
    if (!task->part->open(resume)) {
        QString cause = FileWriteFailure(PartFile::pathOf(saveFile));
        if (cause.isEmpty())
            cause = task->part->errorString();
        return StartError{FileAccessError, QStringLiteral("无法写入文件 %1：%2").arg(saveFile, cause), cause};
    }
    // A retry replaces the ended task of the same name, so the batch counts only the retry.
    std::erase_if(m_tasks, [&saveFile](const auto &t) { return t->saveFile == saveFile && t->state != Running; });
    task->transfer = std::make_unique<Transfer>(m_context, url);
    connect(task->transfer.get(), &Transfer::progress, this,
            [this, saveFile](qint64 done, qint64 total) { Q_EMIT downloadProgress(done, total, saveFile); });
    connect(task->transfer.get(), &Transfer::ended, this, [this, t = task.get()](Failure failure) {
        t->failure = failure;
        conclude(*t, failure == Failure::None);
    });
    task->transfer->start(*task->part, resume ? keptBytes : 0, kept);
    m_tasks.push_back(std::move(task));
    return std::nullopt;
}

bool Downloader::cancelAllDownload()
{
    // Taken out first: aborting a reply can emit signals that look tasks up.
    std::vector<std::unique_ptr<Task>> tasks;
    tasks.swap(m_tasks);
    for (const auto &task : tasks) {
        task->transfer->stop();
        if (task->state == Running && task->part)
            task->part->remove();
    }
    if (!m_keepParts) {
        for (auto it = m_resume.cbegin(); it != m_resume.cend(); ++it)
            PartFile::removeOf(it.key());
    }
    m_resume.clear();
    return true;
}

void Downloader::keepForLater()
{
    for (const auto &task : m_tasks) {
        if (task->state != Running || !task->part)
            continue;
        task->transfer->stop();
        const std::unique_ptr<PartFile> part = std::move(task->part);
        part->close();
        if (const auto resume = task->transfer->resumeAt(part->size()))
            m_resume.insert(task->saveFile, *resume);
        else
            part->remove();
        task->state = Paused;
    }
    m_keepParts = true;
}

std::optional<Transfer::Resume> Downloader::kept(const QString &saveFile) const
{
    const auto it = m_resume.constFind(saveFile);
    return it != m_resume.cend() ? std::optional<Transfer::Resume>(*it) : std::nullopt;
}

bool Downloader::pause(const QString &saveFile)
{
    Task *task = find(saveFile);
    // Without its partial file the transfer has ended and its task is being concluded.
    if (!task || task->state != Running || !task->part)
        return false;
    task->transfer->stop();
    const std::unique_ptr<PartFile> part = std::move(task->part);
    part->close();
    if (const auto resume = task->transfer->resumeAt(part->size()))
        m_resume.insert(saveFile, *resume);
    else
        part->remove();
    task->state = Paused;
    checkAllDone();
    return true;
}

bool Downloader::cancel(const QString &saveFile)
{
    Task *task = find(saveFile);
    if (!task || task->state != Running || !task->part)
        return false;
    task->transfer->stop();
    task->failure = Failure::Cancelled;
    conclude(*task, false);
    return true;
}

void Downloader::forget(const QString &saveFile)
{
    if (m_resume.remove(saveFile) > 0)
        PartFile::removeOf(saveFile);
}

std::optional<Downloader::State> Downloader::stateOf(const QString &saveFile) const
{
    const Task *task = find(saveFile);
    return task ? std::optional<State>(task->state) : std::nullopt;
}

Downloader::Failure Downloader::failureOf(const QString &saveFile) const
{
    const Task *task = find(saveFile);
    if (!task)
        return Failure::None;
    // While the reply is being aborted the transfer knows why before its task does.
    return task->failure != Failure::None ? task->failure : task->transfer->failure();
}

qint64 Downloader::resumableBytes(const QString &saveFile) const
{
    if (!m_resume.contains(saveFile))
        return 0;
    return QFileInfo(PartFile::pathOf(saveFile)).size();
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

// Ends a task whose transfer is over: its partial file takes SaveFile's place, is kept for a
// retry, or is removed; then the signals, the stored state and the batch check.
void Downloader::conclude(Task &task, bool received)
{
    const QString saveFile = task.saveFile;
    const qint64 total = task.transfer->bytes();
    const std::unique_ptr<PartFile> part = std::move(task.part);

    State outcome = Failed;
    const PartFile::WriteResult committed = received ? part->commit() : PartFile::WriteResult::Failed;
    if (committed == PartFile::WriteResult::Written) {
        outcome = Finished;
    } else {
        if (received)
            task.failure = committed == PartFile::WriteResult::DiskFull ? Failure::DiskFull : Failure::WriteFailed;
        else
            part->close();
        // An error answer may be passing (a busy server), and a full disk may be cleared: what
        // came is still worth keeping.
        const bool worthKeeping = task.failure == Failure::Interrupted || task.failure == Failure::Refused ||
                                  task.failure == Failure::DiskFull;
        const bool whole = task.failure == Failure::DiskFull;
        if (const auto resume = worthKeeping ? task.transfer->resumeAt(part->size(), whole) : std::nullopt)
            m_resume.insert(saveFile, *resume);
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
        else if (task->state == Running)
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
