#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

// The download component: any number of transfers side by side, each named by the full path
// it is saved to (its SaveFile). A file is streamed to disk through a QSaveFile and appears
// under its name only when every byte has arrived, so a failed or cancelled transfer never
// replaces a good file with half of one, and memory stays flat whatever the size.
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
        Finished = 6,
        Running = 255
    };

    struct StartError
    {
        int number = 0;
        QString description;
    };

    explicit Downloader(QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);
    ~Downloader() override; // cancels every registered task

    // Starts fetching url into saveFile (its folder must exist). On failure nothing is
    // registered and the reason comes back.
    std::optional<StartError> beginDownload(const QString &url, const QString &saveFile);
    // Cancels every registered task without further signals and empties the task list.
    // Files being written are discarded; files already complete stay. Always true.
    bool cancelAllDownload();

    int taskCount() const { return int(m_tasks.size()); }
    std::optional<State> stateOf(const QString &saveFile) const;

    // Without data for this long a transfer fails. Default 30 s.
    void setTransferTimeout(int ms) { m_timeoutMs = ms; }
    // At most one progress signal per task in this interval, besides the last one; 0 reports
    // every piece read.
    void setProgressInterval(int ms) { m_progressIntervalMs = ms; }

Q_SIGNALS:
    // Only while the server has announced the size (a Content-Length).
    void downloadProgress(qint64 bytesRead, qint64 bytesTotal, const QString &saveFile);
    void downloadError(const QString &saveFile);
    void downloadComplete(qint64 bytesTotal, const QString &saveFile);
    void allDownloadsDone(const QStringList &failedSaveFiles);

private:
    struct Task
    {
        QString saveFile;
        State state = Running;
        QNetworkReply *reply = nullptr; // owned until finished; deleted later
        std::unique_ptr<QSaveFile> file;
        qint64 written = 0;
        bool writeFailed = false;
        QElapsedTimer sinceProgress;
    };

    Task *find(const QString &saveFile) const;
    Task *findByReply(const QNetworkReply *reply) const;
    void onReadyRead(QNetworkReply *reply);
    void reportProgress(Task &task);
    void onFinished(QNetworkReply *reply);
    void drain(Task &task);
    void checkAllDone();

    QNetworkAccessManager *m_manager;
    std::vector<std::unique_ptr<Task>> m_tasks;
    int m_timeoutMs;
    int m_progressIntervalMs = 100;
    QByteArray m_buffer; // one read buffer for every task: drain() never lets events run
};

// The message shown when a transfer cannot be started.
QString BeginDownloadErrorMessage(const Downloader::StartError &error);
