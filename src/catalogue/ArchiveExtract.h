#pragma once

#include <QEventLoop>
#include <QString>

#include <functional>

// Unpacking of downloaded book archives: RAR (4 and 5), ZIP, 7z, and tar with the usual
// compressions, whatever the file is called.
//
// Result codes follow the RAR library's numbering so the download list can tell causes apart:
// 0 success; 100 + r when the archive cannot be opened; 212 when a header is damaged;
// 200 + p when an entry cannot be processed. The r and p values are the library's error numbers
// below, plus LimitExceeded for archives larger than the limits allow.
namespace RarError {
constexpr int NoMemory = 11;
constexpr int BadData = 12;
constexpr int BadArchive = 13;
constexpr int UnknownFormat = 14;
constexpr int OpenFailed = 15;
constexpr int CreateFailed = 16;
constexpr int ReadFailed = 18;
constexpr int WriteFailed = 19;
constexpr int MissingPassword = 22;
constexpr int BadPassword = 24;
constexpr int LimitExceeded = 30;
} // namespace RarError

enum class ExtractMode
{
    Extract = 0,
    Test = 1,
    List = 2
};

// Guards against archives made to fill the disk. The unpacked total may reach `ratio` times the
// archive's own size, but at least ratioFloorBytes (a small archive of well-compressed text) and
// never more than maxTotalBytes; no single file may exceed maxFileBytes.
struct ExtractLimits
{
    qint64 maxTotalBytes = qint64(2) * 1024 * 1024 * 1024;
    int maxEntries = 20000;
    qint64 ratio = 100;
    qint64 ratioFloorBytes = qint64(200) * 1024 * 1024;
    qint64 maxFileBytes = qint64(512) * 1024 * 1024;

    qint64 totalFor(qint64 archiveBytes) const;
};

struct ExtractResult
{
    int code = 0;
    QString reason; // Chinese text for the download list; empty on success
    int filesWritten = 0;
    int entriesSkipped = 0; // links, devices, names that would land outside the folder or that are
                            // too long for the file system

    bool ok() const { return code == 0; }
};

// Extracts (or tests, or lists) an archive into destination, keeping stored sub-folders.
// Only regular files and folders are made, never outside destination: absolute names, ".."
// and links are skipped, and so are names with a piece over 255 bytes. Entry names without a
// Unicode marking are read as UTF-8 when they are valid UTF-8 and as GBK otherwise. The entries
// go to a hidden staging folder first and are moved into destination only when the whole archive
// has been read, so an encrypted, damaged or oversized archive adds nothing. yield runs before
// each entry, on the extracting thread (a window that must keep answering unpacks through
// RunOffThread instead).
ExtractResult ExtractRar(ExtractMode mode, const QString &archivePath, const QString &destination,
                         const QString &password = {}, const ExtractLimits &limits = {},
                         const std::function<void()> &yield = {});

// Chinese reason text for a result code.
QString ExtractErrorText(int code);

// Runs work on a worker thread while the calling thread goes on handling its events with the
// given flags, so that a window stays responsive however long one archive entry takes. Returns
// when the work is done (also when the program quits meanwhile). Needs a running application.
void RunOffThread(const std::function<void()> &work, QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

// Removes the staging folders in folder that no running extraction holds: those left by an
// extraction that was killed or crashed. Each extraction into a folder does this first.
void RemoveStaleStaging(const QString &folder);
