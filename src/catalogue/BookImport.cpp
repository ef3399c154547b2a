#include "catalogue/BookImport.h"

#include "library/LibraryDb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

QString FileNameFromPath(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? QString() : path.mid(cut + 1);
}

QString TaskCaption(const QString &fileName)
{
    // The rule is made for three-letter extensions; a ".7z" archive loses those three characters.
    const qsizetype cut = fileName.endsWith(QLatin1String(".7z"), Qt::CaseInsensitive) ? 3 : 4;
    if (fileName.size() <= cut)
        return fileName;
    QString caption = fileName;
    caption.remove(fileName.right(cut));
    return caption.isEmpty() ? fileName : caption;
}

namespace {

void findInto(const QString &folder, const QStringList &patterns, QStringList &found, int depth)
{
    if (depth > 64)
        return;
    const QDir dir(folder);
    const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase;
    for (const QFileInfo &file : dir.entryInfoList(patterns, QDir::Files | QDir::NoSymLinks | QDir::Hidden, order))
        found.append(file.filePath());
    for (const QFileInfo &sub : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, order)) {
        if (!sub.fileName().startsWith(QLatin1Char('.')))
            findInto(sub.filePath(), patterns, found, depth + 1);
    }
}

} // namespace

QStringList FindFiles(const QString &folder, const QString &pattern)
{
    QStringList found;
    if (!folder.isEmpty())
        findInto(folder, {pattern}, found, 0);
    return found;
}

QString ImportResult::rowNote() const
{
    switch (outcome) {
    case Outcome::ExtractFailed:
        return QStringLiteral("下载完成，但无法解压：") + extract.reason;
    case Outcome::NoTextFile:
        return QStringLiteral("下载完成，但其中没有找到TXT文件");
    case Outcome::Failed:
        return QStringLiteral("下载完成，但未能添加到书架：") + error;
    case Outcome::Added:
    case Outcome::AlreadyOnShelf:
    case Outcome::NoCatalogueRow:
        break;
    }
    return {};
}

ImportResult FindTxtAndSave(LibraryDb &db, const QString &savePath, const QString &saveFile,
                            const QList<CatalogueEntry> &catalogueRows)
{
    ImportResult result;
    const QStringList files = FindFiles(savePath);
    if (files.isEmpty())
        return result;
    result.textFile = files.first();

    const QString downloaded = FileNameFromPath(saveFile);
    for (const CatalogueEntry &row : catalogueRows) {
        if (FileNameFromPath(row.downurl) != downloaded)
            continue;
        if (db.findByPath(result.textFile)) {
            // Downloaded again over the shelf's file: the book's synchronised items follow its content.
            db.sync().bookReplaced(result.textFile);
            result.outcome = ImportResult::Outcome::AlreadyOnShelf;
            return result;
        }
        result.bookId = db.insertBook(row.category, row.name, row.author, result.textFile);
        if (result.bookId < 0) {
            result.outcome = ImportResult::Outcome::Failed;
            result.error = db.lastError();
        } else {
            result.outcome = ImportResult::Outcome::Added;
        }
        return result;
    }
    result.outcome = ImportResult::Outcome::NoCatalogueRow;
    return result;
}

ImportResult ImportDownloadedFile(LibraryDb &db, const QString &saveFile, const QList<CatalogueEntry> &catalogueRows,
                                  const ExtractLimits &limits,
                                  std::optional<QEventLoop::ProcessEventsFlags> keepHandling)
{
    // The folder the task was saved in (download folder + caption).
    const QString bookFolder = QFileInfo(saveFile).path();
    const QString name = QFileInfo(saveFile).fileName();
    if (name.right(4).toLower() == QLatin1String(".txt"))
        return FindTxtAndSave(db, bookFolder, saveFile, catalogueRows);

    ImportResult result;
    const auto unpack = [&] {
        // An extraction killed midway leaves its staging folder in the book folder it was filling;
        // the download folder holds them all.
        RemoveStaleStagingUnder(QFileInfo(bookFolder).path());
        result.extract = ExtractRar(ExtractMode::Extract, saveFile, bookFolder, {}, limits);
    };
    if (keepHandling)
        RunOffThread(unpack, *keepHandling);
    else
        unpack();
    if (!result.extract.ok()) {
        result.outcome = ImportResult::Outcome::ExtractFailed;
        return result;
    }
    result = [&] {
        ImportResult found = FindTxtAndSave(db, bookFolder, saveFile, catalogueRows);
        found.extract = result.extract;
        return found;
    }();
    // A leftover archive only costs space; the book itself is in place.
    QFile::remove(saveFile);
    return result;
}

void RemoveStaleStagingUnder(const QString &downloadFolder)
{
    if (downloadFolder.isEmpty())
        return;
    const QDir downloads(downloadFolder);
    for (const QFileInfo &folder : downloads.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        RemoveStaleStaging(folder.filePath());
}

void StartStaleStagingCleanup(const QString &downloadFolder)
{
    QThreadPool::globalInstance()->start([downloadFolder] { RemoveStaleStagingUnder(downloadFolder); });
}
