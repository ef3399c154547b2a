#pragma once

#include "catalogue/BookImport.h"
#include "library/LocalBookFiles.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class LibraryDb;

// One book of a batch import: a text file registered where it lies, or an archive unpacked
// into the download folder the way a downloaded book is.
struct LocalImportItem
{
    QString source; // the text file or archive
    bool archive = false;
    QString title;
    QString author;
    QString category = QStringLiteral("其他分类");
    // Set when the book is on the shelf already: the title of that row. Such items are skipped.
    QString onShelfAs;
    // A text file with nothing to read or no text at all; such items are skipped too.
    BookFileProblem problem = BookFileProblem::None;
};

// The books in the given files and folders (folders searched with all their sub-folders), each
// once, text files before archives within a folder. Title and author come from the file names;
// text files are looked into for what would make them no book.
QList<LocalImportItem> CollectLocalBooks(const LibraryDb &db, const QStringList &paths, const QString &downloadFolder);

// The title of every shelf book by its path: what a scan away from the library needs of it.
QHash<QString, QString> ShelfTitlesByPath(const LibraryDb &db);
// The same as CollectLocalBooks() without the library, for a worker thread: found is given the
// books in batches as they are looked into, and stop is asked between files (true: the scan
// ends where it is). Returns how many were found.
struct LocalBookScan
{
    QStringList paths;
    QString downloadFolder;
    QHash<QString, QString> shelfTitles; // ShelfTitlesByPath()
    std::function<bool()> stop;
    std::function<void(const QList<LocalImportItem> &)> found;
    int batch = 100;
};
int ScanLocalBooks(const LocalBookScan &scan);

// The folder under downloadFolder an archive is unpacked into: its name without the extension.
QString ArchiveBookFolder(const QString &downloadFolder, const QString &archivePath);

// Puts one item on the shelf. An archive is copied into its book folder and imported from
// there like a finished download (the user's own file is left alone). With keepHandling, the
// copy and the unpacking run on a worker thread while the calling thread handles its events
// with those flags.
ImportResult ImportLocalBook(LibraryDb &db, const LocalImportItem &item, const QString &downloadFolder,
                             std::optional<QEventLoop::ProcessEventsFlags> keepHandling = std::nullopt);
