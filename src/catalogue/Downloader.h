#pragma once

#include "catalogue/Transfer.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;

// The download component: any number of transfers side by side, each named by the full path
// it is saved to (its SaveFile). Bytes are streamed into a hidden partial file beside SaveFile
// (PartFileOf) that takes SaveFile's place only when every byte has arrived, so a failed or
// cancelled transfer never replaces a good file with half of one, and memory stays flat
// whatever the size. A book must come with its length or as a chunked body: an answer that
// simply ends with its connection fails (Unsized), since a cut line would look the same.
//
// A transfer that breaks off keeps its partial file when the server accepts byte ranges; the
// next beginDownload() of the same SaveFile asks only for the rest, and takes it only when the
// server's answer starts where the partial file ends and names the same total size (and the
// same ETag or Last-Modified, when the server sent one). Otherwise it starts again from the
// first byte. The same holds for a transfer stopped by a full disk, which keeps what it wrote
// (every byte, when only the final rename found the disk full), and for a paused one.
// Cancelling, forget() and the component's end remove the partial files.
//
// Each task is a Transfer (the request, its limits, progress, ranges and length checks) writing
// into a PartFile (the partial file, its commit under SaveFile and its removal); the Downloader
// pairs them, keeps what a retry needs and runs the batch.
//
// A batch opens with the first beginDownload() after a reset and ends when no registered task
// is still running: allDownloadsDone() then names the failed tasks and the task list empties.
// Every signal is emitted on the owner's thread. downloadComplete() is emitted before the
// task's state is stored, so whatever its handler does (the import of the book) is finished
// before allDownloadsDone() can follow; a handler that lets events run may see other tasks
// complete in between.
class Downloader : public QObject
{
    Q_OBJECT
public:
    enum State : quint8
    {
        Failed = 0,
        Paused = 2,
        Finished = 6,
        Running = 255
    };

    // Why a transfer failed, as failureOf() reports it.
    using Failure = DownloadFailure;

    struct StartError
    {
        int number = 0;
        QString description;
        QString cause; // why the file cannot be written, in Chinese; empty for other errors
    };

    explicit Downloader(QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);
    ~Downloader() override; // cancels every registered task

    // Starts fetching url into saveFile (its folder must exist). On failure nothing is
    // registered and the reason comes back.
    // A SaveFile whose earlier transfer broke off continues where it stopped.
    std::optional<StartError> beginDownload(const QString &url, const QString &saveFile);
    // Cancels every registered task without further signals and empties the task list.
    // Files being written and kept partial files are discarded; files already complete stay.
    // Always true.
    bool cancelAllDownload();
    // Stops one running transfer and discards its bytes: it fails (Cancelled) with the usual
    // downloadError() and may end the batch. False when saveFile is not running.
    bool cancel(const QString &saveFile);
    // Stops one running transfer quietly, keeping its bytes for the next beginDownload() when
    // the server allows; the task ends neither finished nor failed. False when not running.
    bool pause(const QString &saveFile);
    // Discards the partial file kept for a later retry of saveFile, if any.
    void forget(const QString &saveFile);
    // For the end of the program: every running transfer stops quietly, as pause() stops one,
    // and the partial files kept for later stay on disk when the component ends.
    void keepForLater();
    // How a later beginDownload() of saveFile would continue; nothing when it starts from scratch.
    std::optional<Transfer::Resume> kept(const QString &saveFile) const;
    // A partial file kept by an earlier run: the next beginDownload() of saveFile continues it.
    void adopt(const QString &saveFile, const Transfer::Resume &resume) { m_resume.insert(saveFile, resume); }

    int taskCount() const { return int(m_tasks.size()); }
    std::optional<State> stateOf(const QString &saveFile) const;
    // Why the task failed, while it is listed (its batch has not ended): downloadError()
    // handlers ask. None for a task that did not fail or is unknown.
    Failure failureOf(const QString &saveFile) const;
    // Bytes a retry of saveFile would not fetch again; 0 when it would start from scratch.
    qint64 resumableBytes(const QString &saveFile) const;
    // Where the bytes of saveFile wait until the transfer is whole: ".<name>.part" beside it.
    static QString PartFileOf(const QString &saveFile);

    // Without data for this long a transfer fails. Default 30 s.
    void setTransferTimeout(int ms) { m_context.timeoutMs = ms; }
    // At most one progress signal per task in this interval, besides the last one; 0 reports
    // every piece read.
    void setProgressInterval(int ms) { m_context.progressIntervalMs = ms; }

Q_SIGNALS:
    // Only while the server has announced the size. A resumed transfer counts the bytes kept
    // from before and the size of the whole file.
    void downloadProgress(qint64 bytesRead, qint64 bytesTotal, const QString &saveFile);
    void downloadError(const QString &saveFile);
    void downloadComplete(qint64 bytesTotal, const QString &saveFile);
    void allDownloadsDone(const QStringList &failedSaveFiles);

private:
    struct Task;

    Task *find(const QString &saveFile) const;
    void checkAllDone();
    void conclude(Task &task, bool received);

    std::vector<std::unique_ptr<Task>> m_tasks;
    Transfer::Context m_context;
    QHash<QString, Transfer::Resume> m_resume; // by SaveFile; outlives the batch so a retry can continue
    bool m_keepParts = false; // keepForLater(): the component's end leaves the kept files
};

// The message shown when a transfer cannot be started.
QString BeginDownloadErrorMessage(const Downloader::StartError &error);
