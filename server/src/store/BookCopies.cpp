#include "store/BookCopies.h"

#include "store/BookPrint.h"
#include "store/BookStorage.h"
#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>
#include <optional>

namespace BookCopies {

namespace {

// Runs one statement on the calling thread's connection; with a row to read when it selects.
std::optional<QSqlQuery> run(Store &store, const QString &sql, const QVariantList &binds, QString *error = nullptr)
{
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (!q.exec()) {
        if (error)
            *error = q.lastError().text();
        return std::nullopt;
    }
    return q;
}

} // namespace

qint64 successorOf(Store &store, qint64 id)
{
    auto q = run(store, QStringLiteral("SELECT new_id FROM book_successors WHERE old_id = ?"), {id});
    return q && q->next() ? q->value(0).toLongLong() : 0;
}

bool replaceFile(Store &store, const QString &booksDir, qint64 id, const QString &sourcePath, QString *error)
{
    const auto b = store.catalogue().book(id);
    if (!b) {
        *error = QStringLiteral("没有书号为 %1 的电子书 / no book with id %1").arg(id);
        return false;
    }
    const QString hash = BookStorage::contentHash(sourcePath);
    if (hash.isEmpty()) {
        *error = QStringLiteral("%1: cannot read").arg(sourcePath);
        return false;
    }
    // A copy of another kind (a .txt for a .zip) goes under its own name; the address changes
    // with it and is in the answer to the clients' question.
    const QString ext = BookStorage::extension(sourcePath);
    const QString name = BookStorage::extension(b->fileName) == ext
                             ? b->fileName
                             : BookStorage::safeFileName(QFileInfo(sourcePath).fileName(), QStringLiteral("book.") + ext);
    // Readers downloading the old copy meanwhile keep their open file; new ones get the new.
    const QDir folder(BookStorage(store, booksDir).folder(id));
    const QString target = folder.filePath(name);
    const QString beside = target + QStringLiteral(".new");
    QFile::remove(beside);
    if (!QFile::copy(sourcePath, beside)) {
        QFile::remove(beside);
        *error = QStringLiteral("无法写入 / cannot write %1").arg(beside);
        return false;
    }
    if (std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(beside);
        *error = QStringLiteral("无法替换 / cannot replace %1").arg(target);
        return false;
    }
    if (ext == u"txt")
        BookPrint::keep(target);
    if (!run(store, QStringLiteral("UPDATE books SET filename = ?, filesize = ?, hash = ?, ftime = ? WHERE id = ?"),
             {name, QFileInfo(target).size(), hash, storeTime(QDateTime::currentDateTime()), id}, error))
        return false;
    if (name != b->fileName)
        QFile::remove(folder.filePath(b->fileName));
    return true;
}

qint64 hostBookNamed(Store &store, const QString &title, const QString &author)
{
    auto q = run(store,
                 QStringLiteral("SELECT id FROM books WHERE name = ? AND author = ? AND uploader IS NULL "
                                "ORDER BY id DESC LIMIT 1"),
                 {title, author});
    return q && q->next() ? q->value(0).toLongLong() : 0;
}

bool recordSuccessor(Store &store, qint64 oldId, qint64 newId)
{
    return run(store, QStringLiteral("UPDATE book_successors SET new_id = ? WHERE new_id = ?"), {newId, oldId}) &&
           run(store, QStringLiteral("INSERT INTO book_successors (old_id, new_id) VALUES (?, ?)"), {oldId, newId});
}

} // namespace BookCopies
