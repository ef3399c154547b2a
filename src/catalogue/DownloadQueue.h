#pragma once

#include "catalogue/BookImport.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/Downloader.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class LibraryDb;
class Prompter;

// The cells of a download row while bytes arrive: "50%" and "正在下载(50.0KB)", or "完成" and
// the finished text once every announced byte is in.
struct DownloadProgressCells
{
    QString progress;
    QString status;
    bool complete = false;
};
DownloadProgressCells ProgressCells(qint64 bytesRead, qint64 bytesTotal);

// The speed of a transfer over its last few seconds, from (milliseconds, bytes) samples.
class TransferRate
{
public:
    void reset() { m_samples.clear(); }
    void add(qint64 ms, qint64 bytes);
    // Nothing until the samples span half a second.
    std::optional<double> bytesPerSecond() const;

private:
    std::deque<std::pair<qint64, qint64>> m_samples;
};
// "850 B/s", "12.5 KB/s", "3.2 MB/s".
QString FormatSpeed(double bytesPerSecond);
// "45秒", "3分07秒", "2小时05分"; whole seconds rounded up.
QString FormatTimeLeft(double seconds);
// Why a download failed, as its row's tool tip says it: "连接中断", "服务器拒绝", "磁盘已满"...
QString FailureText(Downloader::Failure failure);

// One row of the download list. The widget shows rows()[i] and repaints on rowAdded/rowChanged;
// it never changes a row itself.
struct DownloadRow
{
    enum class Look
    {
        Normal,
        Received,     // status text blue
        Failed,       // whole row red, the transfer failed
        ImportFailed, // status text red: the bytes arrived but the book did not reach the shelf
    };
    QString saveFile; // unique key
    QString task;     // " " + caption
    QString progress = QStringLiteral(" ");
    QString status = QStringLiteral("正在连接...");
    Look look = Look::Normal;

    // Beside the cells above, which keep their texts:
    QString url;
    qint64 bytesRead = 0;
    qint64 bytesTotal = 0; // 0: the server has not said
    QString speed;         // while bytes arrive
    QString timeLeft;
    QString failure; // why a Failed row failed
    QString bookPath; // the shelf book it became
    std::optional<CatalogueEntry> entry; // the catalogue row it was started from
    TransferRate rate;
    bool paused = false;      // stopped by the user; continues where it stopped
    bool startFailed = false; // the transfer could not start (the status keeps "正在连接...")
    bool finished = false;    // every byte arrived and went to the import
    int autoRetries = 0;      // automatic retries since the last one the user asked for
    quint64 retryTicket = 0;  // an automatic retry is waiting; 0: none
};

// What a double-click on a catalogue row downloads: caption (folder name), address and file
// name. The file name is the last piece of the address. The address is empty when downurl is
// not a path on the catalogue's server (BookFileUrl).
struct DownloadStart
{
    QString caption;
    QString url;
    QString fileName;
};
DownloadStart DownloadStartFor(const QString &serverBaseUrl, const QString &downurl);
// The status and tool tip of the failed row such an address leaves.
QString RefusedAddressText();
// Asked (Yes/No, title "确认下载") when a book of that title is already on the shelf.
QString RedownloadQuestion(const QString &title);
QString RedownloadQuestionTitle();

// The main window's side of the download component: the download list's rows, the queueing
// rules, and the import of each finished file into the library. Rows are never removed; a
// SaveFile can be queued once per run. Messages go through the prompter. Owned by the main
// window; its Downloader is a child.
//
// Beyond that, a row can be cancelled, paused, retried in place (its transfer continues where
// it stopped when the server allows), downloaded again from scratch and removed, after which
// its file can be queued again. A row whose connection broke is retried by itself after the
// waits of setAutoRetryWaits(). The reason a row failed or waits is its speed cell.
class DownloadQueue : public QObject
{
    Q_OBJECT
public:
    DownloadQueue(LibraryDb *db, Prompter &prompter, QObject *parent = nullptr,
                  QNetworkAccessManager *manager = nullptr);

    void setDownloadFolder(const QString &folder) { m_downloadFolder = folder; }
    QString downloadFolder() const { return m_downloadFolder; }
    // The catalogue rows on screen; a finished download is matched against them to find its
    // title, author and category.
    void setCatalogueRows(std::function<QList<CatalogueEntry>()> rows) { m_catalogueRows = std::move(rows); }
    void setExtractLimits(const ExtractLimits &limits) { m_limits = limits; }
    // Unpacks archives on a worker thread while the window goes on handling its events; off by
    // default (tests).
    void setYieldDuringExtraction(bool yield) { m_yield = yield; }
    // Milliseconds of a steady clock, for the speed; a QElapsedTimer unless a test sets one.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // Runs fn once ms have passed; a single-shot QTimer unless a test runs the waits itself.
    using Scheduler = std::function<void(int ms, std::function<void()> fn)>;
    void setScheduler(Scheduler schedule) { m_schedule = std::move(schedule); }
    // Seconds before each automatic retry of a row whose connection broke; empty: none.
    void setAutoRetryWaits(const QList<int> &seconds) { m_retryWaits = seconds; }
    Prompter &prompter() const { return m_prompter; }

    // A double-click on a catalogue row: asks first when a book of that title is already on the
    // shelf (No: nothing happens), emits downloadStarting() so the window can show the download
    // panel, then queues the row's file. False when nothing was queued. A row whose address
    // leads off the catalogue's server leaves a failed row that cannot be retried.
    bool downloadCatalogueEntry(const CatalogueEntry &entry, const QString &serverBaseUrl);
    // Makes download folder + caption and queues the file there. False (after a message)
    // when the folder cannot be made, the names are unusable or the task is a duplicate.
    bool downloadaFile(const QString &caption, const QString &url, const QString &fileName);
    bool queueDownload(const QString &url, const QString &saveFile, const QString &rowText);
    // A newer copy of a shelf book: queued like any download (in a folder of its own, caption +
    // "-更新"), but once every byte is in, done gets the file instead of the import. A finished
    // earlier row of the same file makes way for it.
    bool downloadNewerCopy(const QString &caption, const QString &url, const QString &fileName,
                           std::function<void(const QString &saveFile)> done);

    const QList<DownloadRow> &rows() const { return m_rows; }
    int rowOf(const QString &saveFile) const;
    Downloader *downloader() const { return m_downloader; }

    bool isRunning(int row) const;
    bool canRetry(int row) const; // a failed, cancelled, paused or unstarted transfer
    bool isPaused(int row) const { return row >= 0 && row < m_rows.size() && m_rows[row].paused; }
    // The shelf book the row became, while it is still on the shelf; empty otherwise.
    QString shelfBook(int row) const;
    bool cancel(int row);
    // Starts the row's transfer again in its place, from where it stopped when it can.
    bool retry(int row);
    // Cancels the row's transfer if it runs, drops its kept bytes and the row.
    void remove(int row);
    // A running row, or one waiting for its automatic retry: what pause() and pauseAll() act on.
    bool canPause(int row) const;
    // Stops a running row, keeping its bytes for retry() or resumeAll(); a row waiting for its
    // automatic retry waits no more and is paused the same way.
    bool pause(int row);
    // Drops the row and whatever it kept, and queues its file again at the end of the list.
    bool canRedownload(int row) const;
    bool redownload(int row);
    // The queue's controls; each returns how many rows it acted on.
    int pauseAll();
    int resumeAll();
    int retryAllFailed();
    int clearFinished();

Q_SIGNALS:
    void downloadStarting();
    void rowAdded(int row);
    void rowChanged(int row);
    void rowRemoved(int row);
    // A finished download went through the import; result says what became of it.
    void imported(const QString &saveFile, const ImportResult &result);
    // No task is left running: the bookshelf page should be filled again.
    void allDownloadsDone(const QStringList &failedSaveFiles);

private:
    void onProgress(qint64 bytesRead, qint64 bytesTotal, const QString &saveFile);
    void onError(const QString &saveFile);
    void onComplete(qint64 bytesTotal, const QString &saveFile);
    void refuseAddress(const DownloadStart &start, const CatalogueEntry &entry);
    bool restart(int row, bool automatic);
    void startFailed(int row, const Downloader::StartError &error);
    void scheduleRetry(int row);

    LibraryDb *m_db;
    Prompter &m_prompter;
    Downloader *m_downloader;
    QString m_downloadFolder;
    std::function<QList<CatalogueEntry>()> m_catalogueRows;
    ExtractLimits m_limits;
    bool m_yield = false;
    QList<DownloadRow> m_rows;
    std::function<qint64()> m_clock;
    Scheduler m_schedule;
    QList<int> m_retryWaits{5, 15, 60};
    quint64 m_lastTicket = 0;
    QHash<QString, std::function<void(const QString &)>> m_handOvers; // by save file
};
