#pragma once

#include "catalogue/CatalogueProtocol.h"
#include "catalogue/DownloadRow.h"
#include "catalogue/Transfer.h"

#include <QList>
#include <QString>

#include <optional>

class Downloader;
class LibraryDb;

// A download that had not finished when the program closed: enough to show its row again and to
// continue its partial file where it stopped.
struct UnfinishedDownload
{
    QString saveFile;
    QString url;
    QString task;                  // the row's "下载任务" text
    std::optional<Transfer::Resume> resume; // absent: its bytes cannot be continued
    std::optional<CatalogueEntry> entry;    // the catalogue row it was started from
};

// The unfinished downloads of the last run, kept in a table of their own (UnfinishedDownload),
// oldest first. Saving replaces whatever the table held.
QList<UnfinishedDownload> LoadUnfinishedDownloads(LibraryDb &db);
bool SaveUnfinishedDownloads(LibraryDb &db, const QList<UnfinishedDownload> &downloads);
// A row that ended or was removed is no longer brought back, even after a crash.
bool ForgetUnfinishedDownload(LibraryDb &db, const QString &saveFile);

// Notes every row of the list that has not finished, with what its partial file needs to
// continue (the downloader has stopped them all by now).
bool KeepUnfinishedRows(LibraryDb &db, const QList<DownloadRow> &rows, const Downloader &downloader);
// The rows noted by the last run, paused, showing the bytes they hold; the downloader is told
// how each partial file continues.
QList<DownloadRow> RestoreUnfinishedRows(LibraryDb &db, Downloader &downloader);
