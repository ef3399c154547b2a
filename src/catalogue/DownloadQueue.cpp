#include "catalogue/DownloadQueue.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "startup/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

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

DownloadStart DownloadStartFor(const QString &serverBaseUrl, const QString &downurl)
{
    DownloadStart start;
    start.url = serverBaseUrl + downurl;
    start.fileName = start.url.mid(start.url.lastIndexOf(QLatin1Char('/')) + 1);
    start.caption = TaskCaption(FileNameFromPath(downurl));
    return start;
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
    return downloadaFile(start.caption, start.url, start.fileName);
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
    m_rows.append(row);
    Q_EMIT rowAdded(int(m_rows.size()) - 1);

    // A task that cannot start keeps its row ("正在连接...") and is not registered.
    if (const auto error = m_downloader->beginDownload(url, saveFile)) {
        m_prompter.message(BeginDownloadErrorMessage(*error), Prompter::Icon::Critical, QStringLiteral("错误"));
        return false;
    }
    return true;
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
    const DownloadProgressCells cells = ProgressCells(bytesRead, bytesTotal);
    m_rows[i].progress = cells.progress;
    m_rows[i].status = cells.status;
    if (cells.complete)
        m_rows[i].look = DownloadRow::Look::Received;
    Q_EMIT rowChanged(i);
}

void DownloadQueue::onError(const QString &saveFile)
{
    const int i = rowOf(saveFile);
    if (i < 0)
        return;
    m_rows[i].look = DownloadRow::Look::Failed;
    Q_EMIT rowChanged(i);
}

void DownloadQueue::onComplete(qint64, const QString &saveFile)
{
    if (!m_db)
        return;
    const QList<CatalogueEntry> rows = m_catalogueRows ? m_catalogueRows() : QList<CatalogueEntry>();
    std::function<void()> yield;
    if (m_yield)
        yield = [] { QCoreApplication::processEvents(); };
    const ImportResult result = ImportDownloadedFile(*m_db, saveFile, rows, m_limits, yield);
    if (result.outcome == ImportResult::Outcome::Failed)
        m_prompter.message(result.error, Prompter::Icon::Critical);
    if (const QString note = result.rowNote(); !note.isEmpty()) {
        if (const int i = rowOf(saveFile); i >= 0) {
            m_rows[i].status = note;
            m_rows[i].look = DownloadRow::Look::ImportFailed;
            Q_EMIT rowChanged(i);
        }
    }
    Q_EMIT imported(saveFile, result);
}
