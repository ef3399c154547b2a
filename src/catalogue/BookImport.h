#pragma once

#include "catalogue/ArchiveExtract.h"
#include "catalogue/CatalogueProtocol.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class LibraryDb;

// The text after the last "/" or "\" of a path or address; empty when it holds neither.
QString FileNameFromPath(const QString &path);
// A download's task caption: its file name without its last four characters wherever they
// occur ("abc.rar" gives "abc"), or without ".7z" wherever it occurs for a ".7z" archive; the
// whole name when nothing would be left.
QString TaskCaption(const QString &fileName);

// Every file under folder whose name matches the pattern (letter case ignored), each folder's
// files in name order before its sub-folders, sub-folders depth-first in name order. Folders
// whose names start with "." and symbolic links are passed over.
QStringList FindFiles(const QString &folder, const QString &pattern = QStringLiteral("*.txt"));

struct ImportResult
{
    enum class Outcome
    {
        Added,          // a new shelf row for textFile
        AlreadyOnShelf, // textFile is already registered; nothing added
        NoTextFile,
        NoCatalogueRow, // no row on screen names the downloaded file (the user moved on)
        ExtractFailed,  // archive left in place; extract holds the code and the reason
        Failed,         // file system or database error; error says what
    };
    Outcome outcome = Outcome::NoTextFile;
    QString textFile;
    qint64 bookId = -1;
    ExtractResult extract;
    QString error;

    // Text for the download row when the book did not reach the shelf for a reason the
    // user can act on; empty otherwise.
    QString rowNote() const;
};

// Looks for text files in savePath and puts the first one on the shelf with the title, author
// and category of the catalogue row whose download address names the same file as saveFile.
ImportResult FindTxtAndSave(LibraryDb &db, const QString &savePath, const QString &saveFile,
                            const QList<CatalogueEntry> &catalogueRows);

// What happens to a finished download: a ".txt" file is used as it is; anything else is
// unpacked next to itself, searched and then deleted. An archive that fails to unpack adds
// nothing and stays. With keepHandling, the unpacking runs on a worker thread while the calling
// thread handles its events with those flags (RunOffThread); the shelf is written on the
// calling thread.
ImportResult ImportDownloadedFile(LibraryDb &db, const QString &saveFile, const QList<CatalogueEntry> &catalogueRows,
                                  const ExtractLimits &limits = {},
                                  std::optional<QEventLoop::ProcessEventsFlags> keepHandling = std::nullopt);

// Removes what killed or crashed extractions left in the book folders of a download folder.
void RemoveStaleStagingUnder(const QString &downloadFolder);
// The same on a worker thread of its own, for the start of the program: a killed unpack can
// leave gigabytes behind, and the window does not wait for them.
void StartStaleStagingCleanup(const QString &downloadFolder);
