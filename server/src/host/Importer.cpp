#include "host/Importer.h"

#include "store/BookCopies.h"
#include "store/BookStorage.h"
#include "store/Store.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace Importer {

TitleAuthor fromFileName(const QString &fileName)
{
    QString stem = QFileInfo(fileName).completeBaseName();
    const QString ext = BookStorage::extension(fileName);
    if (ext == u"txt" || ext == u"zip" || ext == u"rar")
        stem = fileName.left(fileName.size() - ext.size() - 1);
    TitleAuthor out;
    qsizetype at = stem.indexOf(QStringLiteral("作者："));
    qsizetype markLength = 3;
    if (at < 0) {
        at = stem.indexOf(QStringLiteral("作者:"));
        markLength = 3;
    }
    if (at >= 0) {
        out.title = stem.left(at);
        out.author = stem.mid(at + markLength).trimmed();
    } else {
        out.title = stem;
    }
    out.title = out.title.trimmed();
    if (out.title.startsWith(u'《') && out.title.endsWith(u'》'))
        out.title = out.title.mid(1, out.title.size() - 2).trimmed();
    if (out.title.isEmpty())
        out.title = stem.trimmed();
    if (out.author.isEmpty())
        out.author = QStringLiteral("佚名");
    return out;
}

int importFolder(Store &store, const QString &booksDir, const QString &folder, const QString &category,
                 QStringList *skipped, QString *error, QStringList *replaced)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString ext = BookStorage::extension(path);
        if (ext == u"txt" || ext == u"zip" || ext == u"rar")
            files.append(path);
    }
    std::sort(files.begin(), files.end());

    BookStorage storage(store, booksDir);
    int added = 0;
    for (const QString &path : files) {
        const QFileInfo info(path);
        const QString hash = BookStorage::contentHash(path);
        if (hash.isEmpty()) {
            *error = QStringLiteral("%1: cannot read").arg(path);
            return -1;
        }
        if (store.catalogue().bookWithHash(hash)) {
            skipped->append(path);
            continue;
        }
        const TitleAuthor ta = fromFileName(info.fileName());
        if (const qint64 id = replaced ? BookCopies::hostBookNamed(store, ta.title, ta.author) : 0; id > 0) {
            QString why;
            if (!BookCopies::replaceFile(store, booksDir, id, path, &why)) {
                *error = QStringLiteral("%1: %2").arg(path, why);
                return -1;
            }
            replaced->append(path);
            continue;
        }
        BookRow row;
        row.name = ta.title;
        row.author = ta.author;
        row.category = category;
        row.status = QStringLiteral("全集");
        row.fileName =
            BookStorage::safeFileName(info.fileName(), QStringLiteral("book.") + BookStorage::extension(path));
        row.updated = storeTime(QDateTime::currentDateTime());
        row.review = Review::Approved;
        row.hash = hash;
        QString why;
        if (storage.add(row, {{}, path}, {}, &why) <= 0) {
            *error = QStringLiteral("%1: %2").arg(path, why);
            return -1;
        }
        ++added;
    }
    return added;
}

} // namespace Importer
