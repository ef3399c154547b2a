#include "catalogue/DownloadQueue.h"

#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "startup/ProgramFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <cmath>
#include <memory>

DownloadProgressCells ProgressCells(qint64 bytesRead, qint64 bytesTotal)
{
    if (bytesTotal > 0 && bytesRead < bytesTotal) {
        const qint64 percent = (bytesRead * 100 + bytesTotal / 2) / bytesTotal;
        return {QString::number(percent) + QLatin1Char('%'),
                QStringLiteral("正在下载(") + QString::number(double(bytesRead) / 1024.0, 'f', 1) +
                    QStringLiteral("KB)"),
                false};
    }
    return {QStringLiteral("完成"), QStringLiteral("下载完成，已为你添加到书架！"), true};
}

void TransferRate::add(qint64 ms, qint64 bytes)
{
    constexpr qint64 WindowMs = 5000;
    m_samples.emplace_back(ms, bytes);
    // One sample older than the window stays, so the window is always spanned.
    while (m_samples.size() > 2 && ms - m_samples[1].first >= WindowMs)
        m_samples.pop_front();
}

std::optional<double> TransferRate::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return std::nullopt;
    const qint64 ms = m_samples.back().first - m_samples.front().first;
    if (ms < 500)
        return std::nullopt;
    return double(m_samples.back().second - m_samples.front().second) * 1000.0 / double(ms);
}

QString FormatSpeed(double bytesPerSecond)
{
    if (bytesPerSecond < 1024)
        return QString::number(qRound(bytesPerSecond)) + QStringLiteral(" B/s");
    if (bytesPerSecond < 1024 * 1024)
        return QString::number(bytesPerSecond / 1024, 'f', 1) + QStringLiteral(" KB/s");
    return QString::number(bytesPerSecond / 1024 / 1024, 'f', 1) + QStringLiteral(" MB/s");
}

QString FormatTimeLeft(double seconds)
{
    const qint64 s = qint64(std::ceil(std::max(0.0, seconds)));
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (s < 60)
        return QString::number(s) + QStringLiteral("秒");
    if (s < 3600)
        return QString::number(s / 60) + QStringLiteral("分") + two(s % 60) + QStringLiteral("秒");
    return QString::number(s / 3600) + QStringLiteral("小时") + two(s % 3600 / 60) + QStringLiteral("分");
}

QString FailureText(Downloader::Failure failure)
{
    switch (failure) {
    case Downloader::Failure::None:
        break;
    case Downloader::Failure::Interrupted:
        return QStringLiteral("连接中断");
    case Downloader::Failure::Refused:
        return QStringLiteral("服务器拒绝");
    case Downloader::Failure::DiskFull:
        return QStringLiteral("磁盘已满");
    case Downloader::Failure::WriteFailed:
        return QStringLiteral("无法写入文件");
    case Downloader::Failure::Cancelled:
        return QStringLiteral("已取消");
    case Downloader::Failure::Unsized:
        return QStringLiteral("服务器没有说明文件大小");
    }
    return {};
}

DownloadStart DownloadStartFor(const QString &serverBaseUrl, const QString &downurl)
{
    DownloadStart start;
    start.url = BookFileUrl(serverBaseUrl, downurl);
    const QString &address = start.url.isEmpty() ? downurl : start.url;
    start.fileName = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    start.caption = TaskCaption(FileNameFromPath(downurl));
    return start;
}

QString RefusedAddressText()
{
    return QStringLiteral("下载地址不在书库服务器上，已拒绝下载");
}

QString RedownloadQuestion(const QString &title)
{
    return QStringLiteral("《") + title + QStringLiteral("》已经存在你的书架中！ 是否重新下载并更新本书TXT文件？");
}

QString RedownloadQuestionTitle()
{
    return QStringLiteral("确认下载");
}

namespace {

// A name that can stand as one folder or file name inside the download folder.
bool usableName(const QString &name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

} // namespace

DownloadQueue::DownloadQueue(LibraryDb *db, Prompter &prompter, QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_db(db), m_prompter(prompter), m_downloader(new Downloader(this, manager))
{
    connect(m_downloader, &Downloader::downloadProgress, this, &DownloadQueue::onProgress);
    connect(m_downloader, &Downloader::downloadError, this, &DownloadQueue::onError);
    connect(m_downloader, &Downloader::downloadComplete, this, &DownloadQueue::onComplete);
    connect(m_downloader, &Downloader::allDownloadsDone, this, &DownloadQueue::allDownloadsDone);
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    m_clock = [steady] { return steady->elapsed(); };
    m_schedule = [this](int ms, std::function<void()> fn) { QTimer::singleShot(ms, this, std::move(fn)); };
}

bool DownloadQueue::downloadCatalogueEntry(const CatalogueEntry &entry, const QString &serverBaseUrl)
{
    bool lookupFailed = false;
    const bool onShelf = m_db && m_db->findByName(entry.name, &lookupFailed);
    if (lookupFailed) {
        // Without knowing what is on the shelf a download could silently replace a book.
        m_prompter.message(QStringLiteral("无法查询书架，下载没有开始：\r\n") + m_db->lastError(), Prompter::Icon::Critical,
                           QStringLiteral("错误"));
        return false;
    }
    if (onShelf && !m_prompter.question(RedownloadQuestion(entry.name), RedownloadQuestionTitle()))
        return false;
    const DownloadStart start = DownloadStartFor(serverBaseUrl, entry.downurl);
    Q_EMIT downloadStarting();
    if (start.url.isEmpty()) {
        refuseAddress(start, entry);
        return false;
    }
    const qsizetype before = m_rows.size();
    const bool queued = downloadaFile(start.caption, start.url, start.fileName);
    if (m_rows.size() > before)
        m_rows.last().entry = entry;
    return queued;
}

bool DownloadQueue::downloadaFile(const QString &caption, const QString &url, const QString &fileName)
{
    if (!usableName(caption) || !usableName(fileName)) {
        m_prompter.message(QStringLiteral("下载地址中的文件名无效，无法保存：") + fileName, Prompter::Icon::Critical,
                           QStringLiteral("错误"));
        return false;
    }
    const QString folder = JoinPath(m_downloadFolder, caption);
    bool made = false;
    EnsureFolderPath(folder, &made);
    if (!made || !QFileInfo(folder).isDir()) {
        m_prompter.message(QStringLiteral("无法创建下载文件夹：\r\n") + QDir::toNativeSeparators(folder) +
                               QStringLiteral("\r\n\r\n请在设置中检查下载文件夹是否存在并且可以写入。"),
                           Prompter::Icon::Critical, QStringLiteral("错误"));
        return false;
    }
    return queueDownload(url, JoinPath(folder, fileName), QLatin1Char(' ') + caption);
}

bool DownloadQueue::downloadNewerCopy(const QString &caption, const QString &url, const QString &fileName,
                                      std::function<void(const QString &)> done)
{
    const QString folderCaption = caption + QStringLiteral("-更新");
    const QString saveFile = JoinPath(JoinPath(m_downloadFolder, folderCaption), fileName);
    if (const int old = rowOf(saveFile); old >= 0 && !isRunning(old))
        remove(old);
    Q_EMIT downloadStarting();
    const bool queued = downloadaFile(folderCaption, url, fileName);
    if (rowOf(saveFile) >= 0)
        m_handOvers.insert(saveFile, std::move(done));
    return queued;
}

bool DownloadQueue::queueDownload(const QString &url, const QString &saveFile, const QString &rowText)
{
    if (rowOf(saveFile) >= 0) {
        m_prompter.message(QStringLiteral("不要重复下载，该书已在下载列表中！"), Prompter::Icon::Exclamation,
                           QStringLiteral("重复下载"));
        return false;
    }
    DownloadRow row;
    row.saveFile = saveFile;
    row.task = rowText;
    row.url = url;
    m_rows.append(row);
    Q_EMIT rowAdded(int(m_rows.size()) - 1);

    // A task that cannot start keeps its row ("正在连接...") and is not registered.
    if (const auto error = m_downloader->beginDownload(url, saveFile)) {
        startFailed(int(m_rows.size()) - 1, *error);
        return false;
    }
    return true;
}

// After the box, the row says why beside its status and can be retried once the cause is gone.
void DownloadQueue::startFailed(int row, const Downloader::StartError &error)
{
    m_prompter.message(BeginDownloadErrorMessage(error), Prompter::Icon::Critical, QStringLiteral("错误"));
    if (row < 0 || row >= m_rows.size())
        return;
    DownloadRow &r = m_rows[row];
    r.startFailed = true;
    r.speed = QStringLiteral("无法开始下载");
    r.failure = error.description;
    Q_EMIT rowChanged(row);
}

void DownloadQueue::refuseAddress(const DownloadStart &start, const CatalogueEntry &entry)
{
    // Keyed by the address: nothing is saved, and the same row clicked again adds no second one.
    const QString key = QStringLiteral("refused:") + entry.downurl;
    if (rowOf(key) >= 0)
        return;
    DownloadRow row;
    row.saveFile = key;
    row.task = QLatin1Char(' ') + start.caption;
    row.status = RefusedAddressText();
    row.failure = row.status;
    row.look = DownloadRow::Look::Failed;
    row.entry = entry;
    m_rows.append(row);
    Q_EMIT rowAdded(int(m_rows.size()) - 1);
}

int DownloadQueue::rowOf(const QString &saveFile) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].saveFile == saveFile)
            return i;
    }
    return -1;
}

void DownloadQueue::onProgress(qint64 bytesRead, qint64 bytesTotal, const QString &saveFile)
{
    const int i = rowOf(saveFile);
    if (i < 0)
        return;
    DownloadRow &row = m_rows[i];
    const DownloadProgressCells cells = ProgressCells(bytesRead, bytesTotal);
    row.progress = cells.progress;
    row.status = cells.status;
    row.bytesRead = bytesRead;
    row.bytesTotal = bytesTotal;
    row.rate.add(m_clock(), bytesRead);
    const std::optional<double> speed = cells.complete ? std::nullopt : row.rate.bytesPerSecond();
    row.speed = speed ? FormatSpeed(*speed) : QString();
    row.timeLeft = speed && *speed > 0 ? FormatTimeLeft(double(bytesTotal - bytesRead) / *speed) : QString();
    if (cells.complete)
        row.look = DownloadRow::Look::Received;
    Q_EMIT rowChanged(i);
}

void DownloadQueue::onError(const QString &saveFile)
{
    const int i = rowOf(saveFile);
    if (i < 0)
        return;
    DownloadRow &row = m_rows[i];
    const Downloader::Failure failure = m_downloader->failureOf(saveFile);
    row.look = DownloadRow::Look::Failed;
    row.failure = FailureText(failure);
    row.speed = row.failure;
    row.timeLeft.clear();
    if (failure == Downloader::Failure::Interrupted && row.autoRetries < m_retryWaits.size())
        scheduleRetry(i);
    Q_EMIT rowChanged(i);
}

void DownloadQueue::scheduleRetry(int row)
{
    DownloadRow &r = m_rows[row];
    const int wait = m_retryWaits[r.autoRetries];
    const quint64 ticket = ++m_lastTicket;
    r.retryTicket = ticket;
    r.speed = QStringLiteral("%1，%2秒后重试（%3/%4）")
                  .arg(r.failure)
                  .arg(wait)
                  .arg(r.autoRetries + 1)
                  .arg(m_retryWaits.size());
    // The row may be retried by hand, removed or paused meanwhile: only its own ticket runs.
    m_schedule(wait * 1000, [this, saveFile = r.saveFile, ticket] {
        const int i = rowOf(saveFile);
        if (i < 0 || m_rows[i].retryTicket != ticket || isRunning(i))
            return;
        ++m_rows[i].autoRetries;
        restart(i, true);
    });
}

void DownloadQueue::onComplete(qint64, const QString &saveFile)
{
    if (const int i = rowOf(saveFile); i >= 0) {
        m_rows[i].finished = true;
        Q_EMIT rowChanged(i);
    }
    if (const auto handOver = m_handOvers.find(saveFile); handOver != m_handOvers.end()) {
        const auto done = std::move(handOver.value());
        m_handOvers.erase(handOver);
        done(saveFile);
        return;
    }
    if (!m_db)
        return;
    QList<CatalogueEntry> rows = m_catalogueRows ? m_catalogueRows() : QList<CatalogueEntry>();
    // A retry can end long after the user has left the page it came from, and a book asked for
    // by its id (from another computer's shelf) was never on the page.
    if (const int i = rowOf(saveFile); i >= 0 && m_rows[i].entry)
        rows.append(*m_rows[i].entry);
    std::optional<QEventLoop::ProcessEventsFlags> keepHandling;
    if (m_yield)
        keepHandling = QEventLoop::AllEvents;
    const ImportResult result = ImportDownloadedFile(*m_db, saveFile, rows, m_limits, keepHandling);
    if (result.outcome == ImportResult::Outcome::Failed)
        m_prompter.message(result.error, Prompter::Icon::Critical);
    if (result.outcome == ImportResult::Outcome::Added || result.outcome == ImportResult::Outcome::AlreadyOnShelf) {
        if (const int i = rowOf(saveFile); i >= 0)
            m_rows[i].bookPath = result.textFile;
        // The catalogue's id, size and date of the copy, to learn later when it grew.
        if (const int i = rowOf(saveFile); i >= 0 && m_rows[i].entry) {
            const std::optional<BookRecord> book = m_db->findByPath(result.textFile);
            if (book)
                RememberCatalogueOrigin(*m_db, book->id, m_rows[i].entry->id, m_rows[i].entry->size,
                                        m_rows[i].entry->ftime);
        }
    }
    if (const QString note = result.rowNote(); !note.isEmpty()) {
        if (const int i = rowOf(saveFile); i >= 0) {
            m_rows[i].status = note;
            m_rows[i].look = DownloadRow::Look::ImportFailed;
            Q_EMIT rowChanged(i);
        }
    }
    Q_EMIT imported(saveFile, result);
}

bool DownloadQueue::isRunning(int row) const
{
    return row >= 0 && row < m_rows.size() && m_downloader->stateOf(m_rows[row].saveFile) == Downloader::Running;
}

bool DownloadQueue::canRetry(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return false;
    const DownloadRow &r = m_rows[row];
    return (r.look == DownloadRow::Look::Failed || r.paused || r.startFailed) && !r.url.isEmpty() && !isRunning(row);
}

QString DownloadQueue::shelfBook(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_rows[row].bookPath.isEmpty() || !m_db)
        return {};
    return m_db->findByPath(m_rows[row].bookPath) ? m_rows[row].bookPath : QString();
}

bool DownloadQueue::cancel(int row)
{
    return isRunning(row) && m_downloader->cancel(m_rows[row].saveFile);
}

bool DownloadQueue::retry(int row)
{
    if (!canRetry(row))
        return false;
    m_rows[row].autoRetries = 0;
    return restart(row, false);
}

bool DownloadQueue::restart(int row, bool automatic)
{
    DownloadRow &r = m_rows[row];
    // A paused row keeps its cells until the rest of its bytes come.
    if (!r.paused) {
        r.progress = QStringLiteral(" ");
        r.status = QStringLiteral("正在连接...");
    }
    r.look = DownloadRow::Look::Normal;
    r.failure.clear();
    r.speed = automatic ? QStringLiteral("自动重试（%1/%2）").arg(r.autoRetries).arg(m_retryWaits.size()) : QString();
    r.timeLeft.clear();
    r.rate.reset();
    r.paused = false;
    r.startFailed = false;
    r.retryTicket = 0;
    const QString url = r.url;
    const QString saveFile = r.saveFile;
    Q_EMIT rowChanged(row);
    if (const auto error = m_downloader->beginDownload(url, saveFile)) {
        startFailed(rowOf(saveFile), *error);
        return false;
    }
    return true;
}

bool DownloadQueue::canPause(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return false;
    // A row is told of its end before the downloader stops counting it as running.
    const DownloadRow &r = m_rows[row];
    const bool ended = r.look == DownloadRow::Look::Failed || r.finished;
    return r.retryTicket != 0 || (isRunning(row) && !ended);
}

bool DownloadQueue::pause(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    DownloadRow &r = m_rows[row];
    if (r.retryTicket != 0 && !isRunning(row)) {
        r.retryTicket = 0; // its retry, when due, finds the ticket gone
        r.look = DownloadRow::Look::Normal;
    } else if (!isRunning(row) || !m_downloader->pause(r.saveFile)) {
        return false;
    }
    r.paused = true;
    r.speed = QStringLiteral("已暂停");
    r.timeLeft.clear();
    Q_EMIT rowChanged(row);
    return true;
}

bool DownloadQueue::canRedownload(int row) const
{
    return row >= 0 && row < m_rows.size() && !m_rows[row].url.isEmpty() && !isRunning(row);
}

bool DownloadQueue::redownload(int row)
{
    if (!canRedownload(row))
        return false;
    const DownloadRow old = m_rows[row];
    remove(row);
    const bool queued = queueDownload(old.url, old.saveFile, old.task);
    if (const int i = rowOf(old.saveFile); i >= 0)
        m_rows[i].entry = old.entry; // its catalogue page may be gone when it ends
    return queued;
}

int DownloadQueue::pauseAll()
{
    int paused = 0;
    for (int i = 0; i < m_rows.size(); ++i)
        paused += pause(i);
    return paused;
}

int DownloadQueue::resumeAll()
{
    int resumed = 0;
    for (int i = 0; i < m_rows.size(); ++i)
        resumed += isPaused(i) && canRetry(i) && restart(i, false);
    return resumed;
}

int DownloadQueue::retryAllFailed()
{
    int retried = 0;
    for (int i = 0; i < m_rows.size(); ++i)
        retried += (m_rows[i].look == DownloadRow::Look::Failed || m_rows[i].startFailed) && retry(i);
    return retried;
}

int DownloadQueue::clearFinished()
{
    int cleared = 0;
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (i < m_rows.size() && m_rows[i].finished && !isRunning(i)) {
            remove(i);
            ++cleared;
        }
    }
    return cleared;
}

void DownloadQueue::remove(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const QString saveFile = m_rows[row].saveFile;
    if (isRunning(row))
        m_downloader->cancel(saveFile);
    m_downloader->forget(saveFile);
    // Cancelling may have run handlers that changed the rows.
    if (const int i = rowOf(saveFile); i >= 0) {
        m_rows.removeAt(i);
        Q_EMIT rowRemoved(i);
    }
}
