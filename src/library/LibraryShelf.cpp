#include "library/LibraryShelf.h"

#include "library/LibrarySql.h"

#include <QCollator>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

const auto kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const auto kBookColumns = QStringLiteral("id, type, name, author, path, marke, lastread");

BookRecord recordFrom(const QSqlQuery &q)
{
    BookRecord r;
    r.id = q.value(0).toLongLong();
    r.type = q.value(1).toString();
    r.name = q.value(2).toString();
    r.author = q.value(3).toString();
    r.path = q.value(4).toString();
    r.marke = q.value(5).toString();
    r.lastread = QDateTime::fromString(q.value(6).toString(), kTimeFormat);
    return r;
}

QString sortExpression(ShelfSort sort)
{
    switch (sort) {
    case ShelfSort::Newest:
    case ShelfSort::Id:
        return QStringLiteral("b.id");
    case ShelfSort::Type:
        return QStringLiteral("b.type");
    case ShelfSort::Name:
        return QStringLiteral("b.name");
    case ShelfSort::Marke:
        return QStringLiteral("b.marke");
    case ShelfSort::LastRead:
        return QStringLiteral("b.lastread");
    case ShelfSort::Path:
        return QStringLiteral("b.path");
    case ShelfSort::Progress:
        // Books never opened count as below 0 %, so they gather at one end.
        return QStringLiteral("CASE WHEN r.lineCount > 0 THEN min(max(r.linesRead * 100 / r.lineCount, 0), 100) "
                              "ELSE -1 END");
    case ShelfSort::Author:
        return QStringLiteral("b.author");
    }
    return QStringLiteral("b.id");
}

// Text columns are ordered as a Chinese reader expects: by pinyin, numbers by their value.
bool inPinyinOrder(ShelfSort sort)
{
    return sort == ShelfSort::Type || sort == ShelfSort::Name || sort == ShelfSort::Marke || sort == ShelfSort::Path ||
           sort == ShelfSort::Author;
}

QString likePattern(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('%'), QStringLiteral("\\%"));
    escaped.replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

// Runs the prepared count and places the page in the result: false when the query failed or
// there is nothing to show, with the page fields left as they were.
bool readPageCount(QSqlQuery &q, int page, int pageSize, ShelfPage &result, QString &error)
{
    if (!q.exec() || !q.next()) {
        error = q.lastError().text();
        return false;
    }
    result.total = q.value(0).toLongLong();
    if (result.total == 0)
        return false;
    result.pageCount = int((result.total + pageSize - 1) / pageSize);
    // A page beyond the last (the last book of it removed, a shorter category) shows the last.
    result.page = std::clamp(page, 1, result.pageCount);
    return true;
}

// Orders the ids of every matching row by the column's text in pinyin order (SQLite knows only
// character codes), ties newest first, then reads the page's rows.
void readPinyinPage(const QSqlDatabase &d, const QString &from, const QVariantList &values, ShelfSort sort,
                    bool descending, int pageSize, ShelfPage &result, QString &error)
{
    QSqlQuery q(d);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT b.id, %1%2").arg(sortExpression(sort), from));
    BindAll(q, values);
    if (!q.exec()) {
        error = q.lastError().text();
        return;
    }
    QList<std::pair<QString, qint64>> keys;
    keys.reserve(result.total);
    while (q.next())
        keys.append({q.value(1).toString(), q.value(0).toLongLong()});
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        const int order = collator.compare(a.first, b.first);
        if (order != 0)
            return descending ? order > 0 : order < 0;
        return a.second > b.second;
    });
    const qsizetype first = qsizetype(result.page - 1) * pageSize;
    QVariantList ids;
    QStringList marks;
    for (qsizetype i = first; i < std::min<qsizetype>(keys.size(), first + pageSize); ++i) {
        ids << keys[i].second;
        marks << QStringLiteral("?");
    }
    if (ids.isEmpty())
        return;
    q.prepare(QStringLiteral("SELECT %1 FROM BookList WHERE id IN (%2)").arg(kBookColumns, marks.join(u',')));
    BindAll(q, ids);
    if (!q.exec()) {
        error = q.lastError().text();
        return;
    }
    QHash<qint64, BookRecord> byId;
    while (q.next()) {
        const BookRecord r = recordFrom(q);
        byId.insert(r.id, r);
    }
    for (const QVariant &id : std::as_const(ids)) {
        if (byId.contains(id.toLongLong()))
            result.rows.append(byId.value(id.toLongLong()));
    }
}

// The shelf page for a filter or a column order: a plain OFFSET walk, which is fine for the
// sizes a filtered or re-ordered list is read at.
ShelfPage narrowedShelfPage(const QSqlDatabase &d, const ShelfQuery &query, int page, int pageSize, QString &error)
{
    ShelfPage result;
    QStringList where;
    QVariantList values;
    if (!query.category.isEmpty()) {
        where << QStringLiteral("b.type = ?");
        values << query.category;
    }
    if (!query.filter.trimmed().isEmpty()) {
        where << QStringLiteral("(b.name LIKE ? ESCAPE '\\' OR b.author LIKE ? ESCAPE '\\' OR b.path LIKE ? "
                                "ESCAPE '\\')");
        const QString pattern = likePattern(query.filter.trimmed());
        values << pattern << pattern << pattern;
    }
    const QString from =
        QStringLiteral(" FROM BookList b LEFT JOIN ReadingPosition r ON r.path = b.path") +
        (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND ")));

    QSqlQuery q(d);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT count(*)") + from);
    BindAll(q, values);
    if (!readPageCount(q, page, pageSize, result, error))
        return result;

    const bool descending = query.sort == ShelfSort::Newest || query.descending;
    if (inPinyinOrder(query.sort)) {
        readPinyinPage(d, from, values, query.sort, descending, pageSize, result, error);
        return result;
    }
    const QString direction = descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    q.prepare(QStringLiteral("SELECT b.id, b.type, b.name, b.author, b.path, b.marke, b.lastread%1 ORDER BY %2%3, "
                             "b.id DESC LIMIT ? OFFSET ?")
                  .arg(from, sortExpression(query.sort), direction));
    BindAll(q, values);
    q.addBindValue(pageSize);
    q.addBindValue(qint64(result.page - 1) * pageSize);
    if (!q.exec()) {
        error = q.lastError().text();
        return result;
    }
    while (q.next())
        result.rows.append(recordFrom(q));
    return result;
}

} // namespace

ShelfPage LibraryShelf::page(const ShelfQuery &query, int page, int pageSize) const
{
    if (!query.isPlain())
        return narrowedShelfPage(m_connection.db(), query, page, pageSize, m_connection.lastError);
    ShelfPage result;
    const bool all = query.category.isEmpty();
    QSqlQuery q(m_connection.db());
    q.prepare(all ? QStringLiteral("SELECT count(*) FROM BookList")
                  : QStringLiteral("SELECT count(*) FROM BookList WHERE type = ?"));
    q.setForwardOnly(true);
    if (!all)
        q.addBindValue(query.category);
    if (!readPageCount(q, page, pageSize, result, m_connection.lastError))
        return result;

    // Find the first id of the page in an index, then read only the page's rows.
    q.prepare(all ? QStringLiteral("SELECT %1 FROM BookList WHERE id <= (SELECT id FROM BookList INDEXED BY "
                                   "BookList_id ORDER BY id DESC LIMIT 1 OFFSET ?) ORDER BY id DESC LIMIT ?")
                        .arg(kBookColumns)
                  : QStringLiteral("SELECT %1 FROM BookList WHERE type = ? AND id <= (SELECT id FROM BookList "
                                   "WHERE type = ? ORDER BY id DESC LIMIT 1 OFFSET ?) ORDER BY id DESC LIMIT ?")
                        .arg(kBookColumns));
    if (!all) {
        q.addBindValue(query.category);
        q.addBindValue(query.category);
    }
    q.addBindValue(qint64(result.page - 1) * pageSize);
    q.addBindValue(pageSize);
    if (!q.exec()) {
        m_connection.lastError = q.lastError().text();
        return result;
    }
    result.rows.reserve(pageSize);
    while (q.next())
        result.rows.append(recordFrom(q));
    return result;
}

std::optional<BookRecord> LibraryShelf::lookup(const QString &where, const QVariantList &values, bool *failed) const
{
    if (failed)
        *failed = false;
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM BookList WHERE %2 ORDER BY id LIMIT 1").arg(kBookColumns, where));
    BindAll(q, values);
    if (!q.exec()) {
        m_connection.lastError = q.lastError().text();
        if (failed)
            *failed = true;
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return recordFrom(q);
}

std::optional<BookRecord> LibraryShelf::findByPath(const QString &path) const
{
    return lookup(QStringLiteral("path = ?"), {path});
}

std::optional<BookRecord> LibraryShelf::findByPathExcept(const QString &path, qint64 exceptId) const
{
    return lookup(QStringLiteral("path = ? AND id <> ?"), {path, exceptId});
}

std::optional<BookRecord> LibraryShelf::findByName(const QString &name, bool *failed) const
{
    return lookup(QStringLiteral("name = ?"), {name}, failed);
}

std::optional<BookRecord> LibraryShelf::findById(qint64 id) const
{
    return lookup(QStringLiteral("id = ?"), {id});
}

qint64 LibraryShelf::insertBook(const QString &type, const QString &name, const QString &author, const QString &path)
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("INSERT INTO BookList (type, name, author, path, marke, lastread) "
                             "VALUES (?, ?, ?, ?, 'Null', ?)"));
    BindAll(q, {type, name, author, path, m_connection.clock().toString(kTimeFormat)});
    if (!q.exec()) {
        m_connection.lastError = q.lastError().text();
        return -1;
    }
    return q.lastInsertId().toLongLong();
}

bool LibraryShelf::updateBook(qint64 id, const QString &type, const QString &name, const QString &author,
                              const QString &path)
{
    return m_connection.run(QStringLiteral("UPDATE BookList SET type = ?, name = ?, author = ?, path = ? WHERE id = ?"),
                            {type, name, author, path, id});
}

bool LibraryShelf::deleteBook(qint64 id)
{
    return m_connection.run(QStringLiteral("DELETE FROM BookList WHERE id = ?"), {id});
}

bool LibraryShelf::touchLastRead(const QString &path)
{
    return m_connection.run(QStringLiteral("UPDATE BookList SET lastread = ? WHERE path = ?"),
                            {m_connection.clock().toString(kTimeFormat), path});
}

bool LibraryShelf::setBookmark(const QString &path, const QString &chapterTitle)
{
    return m_connection.run(QStringLiteral("UPDATE BookList SET marke = ? WHERE path = ?"), {chapterTitle, path});
}
