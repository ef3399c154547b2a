#include "BookUpdates.h"

#include "BookStorage.h"
#include "FormCodec.h"
#include "Importer.h"
#include "RouterSupport.h"
#include "Store.h"
#include "StoreSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>

using namespace RouterSupport;

namespace BookUpdates {

namespace {

struct Asked
{
    qint64 id = 0;
    QString size;
    QString date;
};

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

// The copy that replaced a withdrawn book, 0 when none did.
qint64 successorOf(Store &store, qint64 id)
{
    auto q = run(store, QStringLiteral("SELECT new_id FROM book_successors WHERE old_id = ?"), {id});
    return q && q->next() ? q->value(0).toLongLong() : 0;
}

} // namespace

Response answer(Store &store, const QByteArray &body)
{
    const auto fields = FormCodec::parseQuery(body);
    if (!fields)
        return badRequest("form");
    QList<Asked> asked;
    for (const auto &[key, value] : *fields) {
        if (key != u"b")
            continue;
        if (asked.size() == kMaxBooksPerRequest)
            return Response::text(413, "413 Too Many Books\n");
        const QStringList parts = value.split(u'|');
        bool ok = false;
        const qint64 id = parts.value(0).toLongLong(&ok);
        if (parts.size() != 3 || !ok || id <= 0)
            return badRequest("book");
        asked.append({id, parts[1].trimmed(), parts[2].trimmed()});
    }

    XmlOut x;
    x.open("updates");
    for (const Asked &a : asked) {
        std::optional<BookRow> b = store.catalogue().book(a.id);
        bool replaced = false;
        if (!b || b->review != Review::Approved) {
            const qint64 next = successorOf(store, a.id);
            b = next > 0 ? store.catalogue().book(next) : std::nullopt;
            replaced = true;
        }
        if (!b || b->review != Review::Approved)
            continue;
        if (!replaced && b->updated == a.date && kilobytes(b->fileSize) == a.size)
            continue;
        x.open("book")
            .element("asked", a.id)
            .element("id", b->id)
            .element("name", b->name)
            .element("size", kilobytes(b->fileSize))
            .element("ftime", b->updated)
            .element("downurl", QStringLiteral("/books/%1/%2").arg(b->id).arg(BookStorage::publicName(*b)))
            .close("book");
    }
    x.close("updates");
    return xml(x.take());
}

bool replaceFile(Store &store, const QString &booksDir, qint64 id, const QString &sourcePath, QString *error)
{
    const auto b = store.catalogue().book(id);
    if (!b) {
        *error = QStringLiteral("没有书号为 %1 的电子书 / no book with id %1").arg(id);
        return false;
    }
    const QString hash = Importer::contentHash(sourcePath);
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

} // namespace BookUpdates
