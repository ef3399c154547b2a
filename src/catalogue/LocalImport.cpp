#include "catalogue/LocalImport.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>

namespace {

QStringList booksInFolder(const QString &folder)
{
    QStringList found = FindFiles(folder, QStringLiteral("*.txt"));
    for (const QString &pattern : {QStringLiteral("*.zip"), QStringLiteral("*.rar"), QStringLiteral("*.7z")})
        found += FindFiles(folder, pattern);
    return found;
}

} // namespace

QString ArchiveBookFolder(const QString &downloadFolder, const QString &archivePath)
{
    return QDir(downloadFolder).filePath(QFileInfo(archivePath).completeBaseName());
}

QList<LocalImportItem> CollectLocalBooks(const LibraryDb &db, const QStringList &paths, const QString &downloadFolder)
{
    QList<LocalImportItem> items;
    LocalBookScan scan;
    scan.paths = paths;
    scan.downloadFolder = downloadFolder;
    scan.shelfTitles = ShelfTitlesByPath(db);
    scan.found = [&items](const QList<LocalImportItem> &found) { items += found; };
    ScanLocalBooks(scan);
    return items;
}

QHash<QString, QString> ShelfTitlesByPath(const LibraryDb &db)
{
    QHash<QString, QString> titles;
    QSqlQuery q(db.connection().db());
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT path, name FROM BookList"))) {
        while (q.next())
            titles.insert(q.value(0).toString(), q.value(1).toString());
    }
    return titles;
}

int ScanLocalBooks(const LocalBookScan &scan)
{
    const auto stopped = [&scan] { return scan.stop && scan.stop(); };
    QStringList files;
    for (const QString &path : scan.paths) {
        if (stopped())
            return 0;
        switch (KindOfLocalBook(path)) {
        case LocalBookKind::Folder:
            files += booksInFolder(path);
            break;
        case LocalBookKind::Text:
        case LocalBookKind::Archive:
            files << path;
            break;
        case LocalBookKind::None:
            break;
        }
    }

    QList<LocalImportItem> items;
    QSet<QString> seen;
    int count = 0;
    for (const QString &file : std::as_const(files)) {
        if (stopped())
            break;
        const QFileInfo info(file);
        const QString key = info.absoluteFilePath().toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        LocalImportItem item;
        item.source = info.absoluteFilePath();
        item.archive = KindOfLocalBook(file) == LocalBookKind::Archive;
        const TitleAuthor named = TitleAuthorFromFileName(info.fileName());
        item.title = named.title;
        item.author = named.author;
        if (!item.archive) {
            item.problem = CheckBookFile(item.source);
            // An archive named ".txt" is unpacked like one named as it is.
            item.archive = item.problem == BookFileProblem::Archive && !UnpackableArchiveSuffix(file).isEmpty();
            if (item.archive)
                item.problem = BookFileProblem::None;
        }
        // An archive unpacked before has its first text file in its book folder.
        const QStringList unpacked =
            item.archive ? FindFiles(ArchiveBookFolder(scan.downloadFolder, file)) : QStringList{item.source};
        if (!unpacked.isEmpty())
            item.onShelfAs = scan.shelfTitles.value(unpacked.first());
        items.append(item);
        ++count;
        if (items.size() >= scan.batch) {
            scan.found(items);
            items.clear();
        }
    }
    if (!items.isEmpty())
        scan.found(items);
    return count;
}

ImportResult ImportLocalBook(LibraryDb &db, const LocalImportItem &item, const QString &downloadFolder,
                             std::optional<QEventLoop::ProcessEventsFlags> keepHandling)
{
    ImportResult result;
    if (!item.archive) {
        result.textFile = item.source;
        if (item.problem != BookFileProblem::None) {
            result.outcome = ImportResult::Outcome::Failed;
            result.error = BookFileProblemShort(item.problem);
            return result;
        }
        if (db.findByPath(item.source)) {
            result.outcome = ImportResult::Outcome::AlreadyOnShelf;
            return result;
        }
        result.bookId = db.insertBook(item.category, item.title, item.author, item.source);
        result.outcome = result.bookId < 0 ? ImportResult::Outcome::Failed : ImportResult::Outcome::Added;
        if (result.bookId < 0)
            result.error = db.lastError();
        return result;
    }

    const QString folder = ArchiveBookFolder(downloadFolder, item.source);
    const QFileInfo source(item.source);
    // The copy is named for what it holds, so that it is unpacked whatever the user's file is called.
    const QString copy = QDir(folder).filePath(KindOfLocalBook(item.source) == LocalBookKind::Archive
                                                   ? source.fileName()
                                                   : source.completeBaseName() + UnpackableArchiveSuffix(item.source));
    bool copied = false;
    const auto copyIn = [&] {
        copied =
            QDir().mkpath(folder) && (!QFile::exists(copy) || QFile::remove(copy)) && QFile::copy(item.source, copy);
    };
    if (keepHandling)
        RunOffThread(copyIn, *keepHandling);
    else
        copyIn();
    if (!copied) {
        result.outcome = ImportResult::Outcome::Failed;
        result.error = QStringLiteral("无法复制到 ") + folder;
        return result;
    }
    CatalogueEntry row;
    row.name = item.title;
    row.author = item.author;
    row.category = item.category;
    row.downurl = QLatin1Char('/') + QFileInfo(copy).fileName();
    result = ImportDownloadedFile(db, copy, {row}, {}, keepHandling);
    // A copy that could not be unpacked is of no use beside the user's own file.
    QFile::remove(copy);
    return result;
}
