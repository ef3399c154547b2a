#include "catalogue/DownloadQueue.h"

#include "catalogue/DownloadStore.h"
#include "catalogue/WriteFailure.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "library/NetworkOptions.h"
#include "platform/Prompter.h"
#include "startup/ProgramFolder.h"

#include <QDir>
#include <QElapsedTimer>

#include <memory>

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
}

bool DownloadQueue::autoRetry() const
{
    return m_autoRetry.value_or(NetworkOptions::isOn(m_db, NetworkOptions::autoRetry()));
}

bool DownloadQueue::alwaysShelve() const
{
    return m_alwaysShelve.value_or(NetworkOptions::isOn(m_db, NetworkOptions::alwaysShelve()));
}

bool DownloadQueue::downloadCatalogueEntry(const CatalogueEntry &entry, const QString &serverBaseUrl, bool offPage)
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
    if (m_rows.size() > before) {
        m_rows.last().entry = entry;
        m_rows.last().offPage = offPage;
    }
    return queued;
}

bool DownloadQueue::downloadaFile(const QString &caption, const QString &url, const QString &fileName)
{
    if (!UsableDownloadName(caption) || !UsableDownloadName(fileName)) {
        m_prompter.message(QStringLiteral("下载地址中的文件名无效，无法保存：") + fileName, Prompter::Icon::Critical,
                           QStringLiteral("错误"));
        return false;
    }
    const QString folder = JoinPath(m_downloadFolder, caption);
    bool made = false;
    EnsureFolderPath(folder, &made);
    if (!made || !QFileInfo(folder).isDir()) {
        const QString cause = FolderMakeFailure(folder);
        m_prompter.message(QStringLiteral("无法创建下载文件夹：\r\n") + QDir::toNativeSeparators(folder) +
                               (cause.isEmpty() ? QString() : QStringLiteral("\r\n原因：") + cause) +
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
    if (!error.cause.isEmpty())
        r.speed += QStringLiteral("：") + error.cause;
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
    ShowKeptBytes(row, *m_downloader);
    if (failure == Downloader::Failure::Interrupted && autoRetry() && m_retries.hasTry(row.autoRetries))
        scheduleRetry(i);
    Q_EMIT rowChanged(i);
}

void DownloadQueue::scheduleRetry(int row)
{
    DownloadRow &r = m_rows[row];
    r.speed = m_retries.waitingText(r.failure, r.autoRetries);
    // The row may be retried by hand, removed or paused meanwhile: only its own ticket runs.
    r.retryTicket = m_retries.schedule(r.autoRetries, [this, saveFile = r.saveFile](quint64 ticket) {
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
    forgetKept(saveFile);
    QList<CatalogueEntry> rows = m_catalogueRows ? m_catalogueRows() : QList<CatalogueEntry>();
    // A book asked for by its id (from another computer's shelf) was never on the page; one whose
    // page the user has left joins the shelf only when the user wants every download there.
    if (const int i = rowOf(saveFile); i >= 0 && m_rows[i].entry && (m_rows[i].offPage || alwaysShelve()))
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
    // A row that holds bytes keeps its cells until the rest of them come.
    if (!r.paused && m_downloader->resumableBytes(r.saveFile) <= 0) {
        r.progress = QStringLiteral(" ");
        r.status = QStringLiteral("正在连接...");
    }
    r.look = DownloadRow::Look::Normal;
    r.failure.clear();
    r.speed = automatic ? m_retries.tryingText(r.autoRetries) : QString();
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
    forgetKept(saveFile);
    // Cancelling may have run handlers that changed the rows.
    if (const int i = rowOf(saveFile); i >= 0) {
        m_rows.removeAt(i);
        Q_EMIT rowRemoved(i);
    }
}

void DownloadQueue::forgetKept(const QString &saveFile)
{
    if (m_db)
        ForgetUnfinishedDownload(*m_db, saveFile);
}

void DownloadQueue::keepUnfinished()
{
    m_downloader->keepForLater();
    QList<DownloadRow> unfinished;
    // A newer copy for the update of a shelf book is asked for again by the next update.
    std::copy_if(m_rows.cbegin(), m_rows.cend(), std::back_inserter(unfinished),
                 [this](const DownloadRow &r) { return !m_handOvers.contains(r.saveFile); });
    if (m_db)
        KeepUnfinishedRows(*m_db, unfinished, *m_downloader);
}

int DownloadQueue::restoreUnfinished()
{
    const QList<DownloadRow> rows = m_db ? RestoreUnfinishedRows(*m_db, *m_downloader) : QList<DownloadRow>();
    int restored = 0;
    for (const DownloadRow &row : rows) {
        if (rowOf(row.saveFile) >= 0)
            continue;
        m_rows.append(row);
        Q_EMIT rowAdded(int(m_rows.size()) - 1);
        ++restored;
    }
    return restored;
}
