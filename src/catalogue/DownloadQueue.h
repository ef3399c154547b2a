#pragma once

#include "catalogue/BookImport.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/DownloadRetry.h"
#include "catalogue/DownloadRow.h"
#include "catalogue/Downloader.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class LibraryDb;
class Prompter;

// The main window's side of the download component: the download list's rows, the queueing
// rules, and the import of each finished file into the library. Rows are never removed; a
// SaveFile can be queued once per run. Messages go through the prompter. Owned by the main
// window; its Downloader is a child.
//
// Beyond that, a row can be cancelled, paused, retried in place (its transfer continues where
// it stopped when the server allows), downloaded again from scratch and removed, after which
// its file can be queued again. With "连接中断时自动重试" on, a row whose connection broke is
// retried by itself after the waits of setAutoRetryWaits(); otherwise it turns red at once. The
// reason a row failed or waits is its speed cell. A finished download joins the shelf only when
// its catalogue row is still on screen, unless "下载完成后总是加入书架" is on or the book was asked
// for from elsewhere. Unfinished rows outlive the program: keepUnfinished() at its end,
// restoreUnfinished() at the next start.
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
    using Scheduler = RetrySchedule::Scheduler;
    void setScheduler(Scheduler schedule) { m_retries.setScheduler(std::move(schedule)); }
    // Seconds before each automatic retry of a row whose connection broke.
    void setAutoRetryWaits(const QList<int> &seconds) { m_retries.setWaits(seconds); }
    // The two switches of "网络设置"; unless set here, read from the library's options at each
    // use (both off without a library).
    void setAutoRetry(std::optional<bool> on) { m_autoRetry = on; }
    void setAlwaysShelve(std::optional<bool> on) { m_alwaysShelve = on; }
    bool autoRetry() const;
    bool alwaysShelve() const;
    Prompter &prompter() const { return m_prompter; }

    // A double-click on a catalogue row: asks first when a book of that title is already on the
    // shelf (No: nothing happens), emits downloadStarting() so the window can show the download
    // panel, then queues the row's file. False when nothing was queued. A row whose address
    // leads off the catalogue's server leaves a failed row that cannot be retried. An entry that
    // was never on the catalogue page (offPage: asked for by its id) joins the shelf whatever
    // page is on screen when it ends.
    bool downloadCatalogueEntry(const CatalogueEntry &entry, const QString &serverBaseUrl, bool offPage = false);
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

    // The end of the program: every transfer stops, each unfinished row is noted in the library
    // with what its partial file needs to continue, and the partial files stay on disk.
    void keepUnfinished();
    // The start of the next: the rows noted come back paused, to continue where they stopped.
    // Returns how many.
    int restoreUnfinished();

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
    void forgetKept(const QString &saveFile);

    LibraryDb *m_db;
    Prompter &m_prompter;
    Downloader *m_downloader;
    QString m_downloadFolder;
    std::function<QList<CatalogueEntry>()> m_catalogueRows;
    ExtractLimits m_limits;
    bool m_yield = false;
    QList<DownloadRow> m_rows;
    std::function<qint64()> m_clock;
    RetrySchedule m_retries{this};
    std::optional<bool> m_autoRetry;
    std::optional<bool> m_alwaysShelve;
    QHash<QString, std::function<void(const QString &)>> m_handOvers; // by save file
};
