#pragma once

#include "catalogue/CatalogueProtocol.h"
#include "catalogue/Downloader.h"

#include <QString>

#include <deque>
#include <optional>

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
    bool offPage = false;     // asked for by id, never on the catalogue page: always shelved
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
// Whether a caption or file name can stand as one folder or file name inside the download folder.
bool UsableDownloadName(const QString &name);
// The status and tool tip of the failed row such an address leaves.
QString RefusedAddressText();
// Asked (Yes/No, title "确认下载") when a book of that title is already on the shelf.
QString RedownloadQuestion(const QString &title);
QString RedownloadQuestionTitle();

// A row that broke off, or comes back from an earlier run, shows the bytes its partial file
// holds, even when no progress report came before.
void ShowKeptBytes(DownloadRow &row, const Downloader &downloader);
