#include "catalogue/DownloadRow.h"

#include "catalogue/BookImport.h"

#include <cmath>

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

bool UsableDownloadName(const QString &name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
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

void ShowKeptBytes(DownloadRow &row, const Downloader &downloader)
{
    const std::optional<Transfer::Resume> kept = downloader.kept(row.saveFile);
    const qint64 bytes = kept ? downloader.resumableBytes(row.saveFile) : 0;
    if (bytes <= 0 || row.bytesRead >= bytes)
        return;
    row.bytesRead = bytes;
    row.bytesTotal = kept->total;
    const DownloadProgressCells cells = ProgressCells(bytes, kept->total);
    if (!cells.complete) {
        row.progress = cells.progress;
        row.status = cells.status;
    }
}
