#include "StoreCatalogue.h"

#include "Store.h"
#include "StoreDialect.h"
#include "StoreSupport.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

using namespace StoreSupport;

namespace {

QString likePattern(const QString &key)
{
    QString escaped = key;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

QVariant uploaderValue(qint64 uploader)
{
    return uploader > 0 ? QVariant(uploader) : QVariant(QMetaType::fromType<qint64>());
}

} // namespace

BookRow StoreSupport::bookFrom(const QSqlQuery &q)
{
    BookRow b;
    b.id = q.value(0).toLongLong();
    b.name = q.value(1).toString();
    b.author = q.value(2).toString();
    b.category = q.value(3).toString();
    b.status = q.value(4).toString();
    b.newestChapter = q.value(5).toString();
    b.memo = q.value(6).toString();
    b.fileName = q.value(7).toString();
    b.fileSize = q.value(8).toLongLong();
    b.coverName = q.value(9).toString();
    b.updated = q.value(10).toString();
    b.uploader = q.value(11).toLongLong();
    b.review = static_cast<Review>(q.value(12).toInt());
    b.hash = q.value(13).toString();
    return b;
}

BookPage StoreCatalogue::page(const QString &where, const QVariantList &binds, int pageNumber, int pageSize)
{
    BookPage result;
    result.ok = false;
    QSqlQuery &count = m_store.prepared(QStringLiteral("SELECT count(*) FROM books WHERE ") + where);
    for (const QVariant &v : binds)
        count.addBindValue(v);
    if (!m_store.exec(count) || !count.next())
        return result;
    result.totalBooks = count.value(0).toLongLong();
    count.finish();
    result.totalPages = std::max<qint64>(1, (result.totalBooks + pageSize - 1) / pageSize);
    result.page = std::clamp(pageNumber, 1, result.totalPages);
    if (result.totalBooks == 0) {
        result.ok = true;
        return result;
    }

    QSqlQuery &rows = m_store.prepared(
        QStringLiteral("SELECT %1 FROM books WHERE %2 ORDER BY id DESC LIMIT ? OFFSET ?").arg(kBookColumns, where));
    for (const QVariant &v : binds)
        rows.addBindValue(v);
    rows.addBindValue(pageSize);
    rows.addBindValue(qint64(result.page - 1) * pageSize);
    if (!m_store.exec(rows))
        return result;
    result.rows.reserve(pageSize);
    while (rows.next())
        result.rows.append(bookFrom(rows));
    rows.finish();
    result.ok = true;
    return result;
}

BookPage StoreCatalogue::listBooks(const QString &category, int pageNumber, int pageSize)
{
    if (category.isEmpty())
        return page(QStringLiteral("checkif = 1"), {}, pageNumber, pageSize);
    return page(QStringLiteral("checkif = 1 AND class = ?"), {category}, pageNumber, pageSize);
}

BookPage StoreCatalogue::searchBooks(const QString &key, int pageNumber, int pageSize)
{
    const QString pattern = likePattern(key);
    return page(QStringLiteral("checkif = 1 AND (%1 OR %2)")
                    .arg(m_store.dialect().likeCondition(QStringLiteral("name")),
                         m_store.dialect().likeCondition(QStringLiteral("author"))),
                {pattern, pattern}, pageNumber, pageSize);
}

BookPage StoreCatalogue::userBooks(qint64 userId, int pageNumber, int pageSize)
{
    return page(QStringLiteral("uploader = ?"), {userId}, pageNumber, pageSize);
}

std::optional<BookRow> StoreCatalogue::book(qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT %1 FROM books WHERE id = ?").arg(kBookColumns));
    q.addBindValue(id);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    BookRow b = bookFrom(q);
    q.finish();
    return b;
}

std::optional<qint64> StoreCatalogue::bookWithHash(const QString &hash)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT id FROM books WHERE hash = ? AND hash <> ''"));
    q.addBindValue(hash);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

qint64 StoreCatalogue::countBooks()
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT count(*) FROM books"));
    if (!m_store.exec(q) || !q.next())
        return -1;
    const qint64 n = q.value(0).toLongLong();
    q.finish();
    return n;
}

qint64 StoreCatalogue::insertBook(const BookRow &b)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("INSERT INTO books (name, author, class, statue, newchap, memo, filename, "
                                        "filesize, cover, ftime, uploader, checkif, hash) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    q.addBindValue(notNull(b.name));
    q.addBindValue(notNull(b.author));
    q.addBindValue(notNull(b.category));
    q.addBindValue(notNull(b.status));
    q.addBindValue(notNull(b.newestChapter));
    q.addBindValue(notNull(b.memo));
    q.addBindValue(notNull(b.fileName));
    q.addBindValue(b.fileSize);
    q.addBindValue(notNull(b.coverName));
    q.addBindValue(b.updated.isEmpty() ? timeText(QDateTime::currentDateTime()) : b.updated);
    q.addBindValue(uploaderValue(b.uploader));
    q.addBindValue(static_cast<int>(b.review));
    q.addBindValue(notNull(b.hash));
    if (!m_store.exec(q) || !q.next())
        return 0;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool StoreCatalogue::setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("UPDATE books SET filename = ?, filesize = ?, cover = ? WHERE id = ?"));
    q.addBindValue(notNull(fileName));
    q.addBindValue(fileSize);
    q.addBindValue(notNull(coverName));
    q.addBindValue(id);
    return m_store.exec(q) && q.numRowsAffected() == 1;
}

bool StoreCatalogue::deleteBook(qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM books WHERE id = ?"));
    q.addBindValue(id);
    return m_store.exec(q);
}

qint64 StoreCatalogue::catalogueVersion()
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT version FROM catalogue_version"));
    if (!m_store.exec(q) || !q.next())
        return -1;
    const qint64 version = q.value(0).toLongLong();
    q.finish();
    return version;
}

QByteArray StoreCatalogue::cachedAnswer(const QByteArray &key)
{
    const qint64 version = catalogueVersion();
    if (version < 0)
        return {};
    if (version != m_answersVersion) {
        m_answers.clear();
        m_answersVersion = version;
        return {};
    }
    return m_answers.value(key);
}

void StoreCatalogue::rememberAnswer(const QByteArray &key, const QByteArray &answer)
{
    if (m_answers.size() >= 512)
        m_answers.clear();
    m_answers.insert(key, answer);
}
