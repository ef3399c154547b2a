#include "library/LibraryDb.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>

namespace {

const auto kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const auto kBookColumns = QStringLiteral("id, type, name, author, path, marke, lastread");

// A null QString would bind as SQL NULL; the text columns hold empty text instead.
QVariant bindable(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString && v.toString().isNull())
        return QString::fromLatin1("");
    return v;
}

void bindAll(QSqlQuery &q, const QVariantList &values)
{
    for (const QVariant &v : values)
        q.addBindValue(bindable(v));
}

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
    const QString from = QStringLiteral(" FROM BookList b LEFT JOIN ReadingPosition r ON r.path = b.path") +
                         (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND ")));

    QSqlQuery q(d);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT count(*)") + from);
    bindAll(q, values);
    if (!readPageCount(q, page, pageSize, result, error))
        return result;

    const bool descending = query.sort == ShelfSort::Newest || query.descending;
    const QString direction = descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    q.prepare(QStringLiteral("SELECT b.id, b.type, b.name, b.author, b.path, b.marke, b.lastread%1 ORDER BY %2%3, "
                             "b.id DESC LIMIT ? OFFSET ?")
                  .arg(from, sortExpression(query.sort), direction));
    bindAll(q, values);
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

LibraryDb::LibraryDb(const QString &connectionName)
    : m_connectionName(connectionName), m_clock([] { return QDateTime::currentDateTime(); })
{
}

LibraryDb::~LibraryDb()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        {
            QSqlDatabase d = QSqlDatabase::database(m_connectionName, false);
            d.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

QSqlDatabase LibraryDb::db() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool LibraryDb::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && db().isOpen();
}

bool LibraryDb::open(const QString &filePath, QString *error)
{
    auto fail = [&](const QString &why) {
        m_lastError = why;
        if (error)
            *error = why;
        if (QSqlDatabase::contains(m_connectionName))
            db().close();
        return false;
    };

    m_filePath = filePath;
    const QFileInfo info(filePath);
    // An empty file holds nothing to lose; SQLite treats it as a new database.
    const bool isNew = !info.exists() || (info.isFile() && info.size() == 0);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("不是文件"));
    if (isNew && !QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("无法创建文件夹 %1").arg(info.absolutePath()));

    QSqlDatabase d = QSqlDatabase::contains(m_connectionName) ? db()
                                                                : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                                                            m_connectionName);
    d.setDatabaseName(filePath);
    if (!d.open())
        return fail(d.lastError().text());

    // Read before anything writes: a file that is not a database fails here untouched.
    {
        QSqlQuery probe(d);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            return fail(probe.lastError().text());
    }
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA busy_timeout=3000"}) {
        QSqlQuery q(d);
        q.exec(QString::fromLatin1(pragma));
    }

    if (!createSchema())
        return fail(m_lastError);
    return true;
}

bool LibraryDb::createSchema()
{
    QSqlDatabase d = db();
    if (!d.transaction()) {
        m_lastError = d.lastError().text();
        return false;
    }
    const char *statements[] = {
        "CREATE TABLE IF NOT EXISTS BookList ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " type TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
        " name TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
        " author TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
        " path TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
        " marke TEXT NOT NULL DEFAULT 'Null' COLLATE NOCASE,"
        " lastread TEXT)",
        "CREATE INDEX IF NOT EXISTS BookList_path ON BookList(path)",
        // A narrow index over the ids lets a deep page skip rows without reading them.
        "CREATE INDEX IF NOT EXISTS BookList_id ON BookList(id)",
        "CREATE INDEX IF NOT EXISTS BookList_name ON BookList(name)",
        "CREATE INDEX IF NOT EXISTS BookList_type ON BookList(type, id)",
        "CREATE TABLE IF NOT EXISTS SysSet ("
        " DownSavePath TEXT NOT NULL DEFAULT '',"
        " AutoRun INTEGER NOT NULL DEFAULT 0,"
        " BossKey TEXT NOT NULL DEFAULT '',"
        " TxtColor TEXT NOT NULL DEFAULT '',"
        " TxtSize TEXT NOT NULL DEFAULT '',"
        " BackColor TEXT NOT NULL DEFAULT '')",
        "CREATE TABLE IF NOT EXISTS ReadingPosition ("
        " path TEXT PRIMARY KEY COLLATE NOCASE,"
        " chapter INTEGER NOT NULL,"
        " chapterTitle TEXT NOT NULL DEFAULT '',"
        " fraction REAL NOT NULL DEFAULT 0,"
        " linesRead INTEGER NOT NULL DEFAULT 0,"
        " lineCount INTEGER NOT NULL DEFAULT 0,"
        " saved TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS ReadingPosition_saved ON ReadingPosition(saved)",
        "CREATE TABLE IF NOT EXISTS Options (name TEXT PRIMARY KEY, value TEXT NOT NULL DEFAULT '')",
    };
    QSqlQuery q(d);
    for (const char *sql : statements) {
        if (!q.exec(QString::fromLatin1(sql))) {
            m_lastError = q.lastError().text();
            d.rollback();
            return false;
        }
    }
    // The settings row must exist: every reader of a setting expects it.
    bool noSettingsRow = false;
    if (q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next())
        noSettingsRow = q.value(0).toInt() == 0;
    q.finish();
    if (noSettingsRow) {
        const SysSetRow defaults;
        q.prepare(QStringLiteral("INSERT INTO SysSet (DownSavePath, AutoRun, BossKey, TxtColor, TxtSize, BackColor) "
                                 "VALUES (?, ?, ?, ?, ?, ?)"));
        bindAll(q, {defaults.downSavePath, defaults.autoRun ? 1 : 0, defaults.bossKey, defaults.txtColor,
                    defaults.txtSize, defaults.backColor});
        if (!q.exec()) {
            m_lastError = q.lastError().text();
            d.rollback();
            return false;
        }
    }
    if (!d.commit()) {
        m_lastError = d.lastError().text();
        return false;
    }
    return true;
}

ShelfPage LibraryDb::shelfPage(const ShelfQuery &query, int page, int pageSize) const
{
    if (!query.isPlain())
        return narrowedShelfPage(db(), query, page, pageSize, m_lastError);
    ShelfPage result;
    const bool all = query.category.isEmpty();
    QSqlQuery q(db());
    q.prepare(all ? QStringLiteral("SELECT count(*) FROM BookList")
                  : QStringLiteral("SELECT count(*) FROM BookList WHERE type = ?"));
    q.setForwardOnly(true);
    if (!all)
        q.addBindValue(query.category);
    if (!readPageCount(q, page, pageSize, result, m_lastError))
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
        m_lastError = q.lastError().text();
        return result;
    }
    result.rows.reserve(pageSize);
    while (q.next())
        result.rows.append(recordFrom(q));
    return result;
}

std::optional<BookRecord> LibraryDb::lookup(const QString &where, const QVariantList &values, bool *failed) const
{
    if (failed)
        *failed = false;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM BookList WHERE %2 ORDER BY id LIMIT 1").arg(kBookColumns, where));
    bindAll(q, values);
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        if (failed)
            *failed = true;
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return recordFrom(q);
}

std::optional<BookRecord> LibraryDb::findByPath(const QString &path) const
{
    return lookup(QStringLiteral("path = ?"), {path});
}

std::optional<BookRecord> LibraryDb::findByPathExcept(const QString &path, qint64 exceptId) const
{
    return lookup(QStringLiteral("path = ? AND id <> ?"), {path, exceptId});
}

std::optional<BookRecord> LibraryDb::findByName(const QString &name, bool *failed) const
{
    return lookup(QStringLiteral("name = ?"), {name}, failed);
}

std::optional<BookRecord> LibraryDb::findById(qint64 id) const
{
    return lookup(QStringLiteral("id = ?"), {id});
}

qint64 LibraryDb::insertBook(const QString &type, const QString &name, const QString &author, const QString &path)
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("INSERT INTO BookList (type, name, author, path, marke, lastread) "
                             "VALUES (?, ?, ?, ?, 'Null', ?)"));
    bindAll(q, {type, name, author, path, m_clock().toString(kTimeFormat)});
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        return -1;
    }
    return q.lastInsertId().toLongLong();
}

namespace {
bool run(QSqlDatabase d, const QString &sql, const QVariantList &values, QString &error)
{
    QSqlQuery q(d);
    q.prepare(sql);
    bindAll(q, values);
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    return true;
}
} // namespace

bool LibraryDb::updateBook(qint64 id, const QString &type, const QString &name, const QString &author,
                           const QString &path)
{
    return run(db(), QStringLiteral("UPDATE BookList SET type = ?, name = ?, author = ?, path = ? WHERE id = ?"),
               {type, name, author, path, id}, m_lastError);
}

bool LibraryDb::deleteBook(qint64 id)
{
    return run(db(), QStringLiteral("DELETE FROM BookList WHERE id = ?"), {id}, m_lastError);
}

bool LibraryDb::touchLastRead(const QString &path)
{
    return run(db(), QStringLiteral("UPDATE BookList SET lastread = ? WHERE path = ?"),
               {m_clock().toString(kTimeFormat), path}, m_lastError);
}

bool LibraryDb::setBookmark(const QString &path, const QString &chapterTitle)
{
    return run(db(), QStringLiteral("UPDATE BookList SET marke = ? WHERE path = ?"), {chapterTitle, path},
               m_lastError);
}

QVariant LibraryDb::sysSetValue(const char *column) const
{
    // Column names come from this file only, never from input.
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM SysSet LIMIT 1").arg(QLatin1String(column))) || !q.next()) {
        m_lastError = q.lastError().text();
        return {};
    }
    return q.value(0);
}

QString LibraryDb::downSavePath() const
{
    return sysSetValue("DownSavePath").toString();
}

bool LibraryDb::setDownSavePath(const QString &folder)
{
    return run(db(), QStringLiteral("UPDATE SysSet SET DownSavePath = ?"), {folder}, m_lastError);
}

QString LibraryDb::bossKey() const
{
    return sysSetValue("BossKey").toString();
}

bool LibraryDb::autoRun() const
{
    return sysSetValue("AutoRun").toInt() != 0;
}

QString LibraryDb::txtColor() const
{
    return sysSetValue("TxtColor").toString();
}

QString LibraryDb::txtSize() const
{
    return sysSetValue("TxtSize").toString();
}

QString LibraryDb::backColor() const
{
    return sysSetValue("BackColor").toString();
}

bool LibraryDb::saveSettings(const SysSetRow &row)
{
    QSqlDatabase d = db();
    if (!d.transaction()) {
        m_lastError = d.lastError().text();
        return false;
    }
    QSqlQuery q(d);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) || !q.next()) {
        m_lastError = q.lastError().text();
        d.rollback();
        return false;
    }
    const bool empty = q.value(0).toInt() < 1;
    q.finish();
    const QVariantList values{row.downSavePath, row.autoRun ? 1 : 0, row.bossKey,
                              row.txtColor,     row.txtSize,         row.backColor};
    const bool ok =
        run(d,
            empty ? QStringLiteral("INSERT INTO SysSet (DownSavePath, AutoRun, BossKey, TxtColor, TxtSize, BackColor) "
                                   "VALUES (?, ?, ?, ?, ?, ?)")
                  : QStringLiteral("UPDATE SysSet SET DownSavePath = ?, AutoRun = ?, BossKey = ?, TxtColor = ?, "
                                   "TxtSize = ?, BackColor = ? WHERE rowid = (SELECT min(rowid) FROM SysSet)"),
            values, m_lastError);
    if (!ok) {
        d.rollback();
        return false;
    }
    return d.commit();
}

int ReadingPosition::progressPercent() const
{
    if (lineCount <= 0)
        return 0;
    return int(std::clamp<qint64>(linesRead * 100 / lineCount, 0, 100));
}

namespace {

const auto kPositionColumns = QStringLiteral("path, chapter, chapterTitle, fraction, linesRead, lineCount, saved");

ReadingPosition positionFrom(const QSqlQuery &q)
{
    ReadingPosition p;
    p.path = q.value(0).toString();
    p.chapter = q.value(1).toInt();
    p.chapterTitle = q.value(2).toString();
    p.fraction = q.value(3).toDouble();
    p.linesRead = q.value(4).toLongLong();
    p.lineCount = q.value(5).toLongLong();
    p.saved = QDateTime::fromString(q.value(6).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return p;
}

} // namespace

bool LibraryDb::saveReadingPosition(const ReadingPosition &p)
{
    // Milliseconds, so that of two books saved within a second the later one is the last book.
    const QString saved = (p.saved.isValid() ? p.saved : m_clock()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return run(db(),
               QStringLiteral("INSERT OR REPLACE INTO ReadingPosition (%1) VALUES (?, ?, ?, ?, ?, ?, ?)")
                   .arg(kPositionColumns),
               {p.path, p.chapter, p.chapterTitle, p.fraction, p.linesRead, p.lineCount, saved}, m_lastError);
}

std::optional<ReadingPosition> LibraryDb::readingPosition(const QString &path) const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM ReadingPosition WHERE path = ?").arg(kPositionColumns));
    q.addBindValue(bindable(path));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return positionFrom(q);
}

std::optional<ReadingPosition> LibraryDb::lastReadingPosition() const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM ReadingPosition ORDER BY saved DESC LIMIT 1").arg(kPositionColumns)) ||
        !q.next())
        return std::nullopt;
    return positionFrom(q);
}

QString LibraryDb::option(const QString &name, const QString &fallback) const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return fallback;
    return q.value(0).toString();
}

bool LibraryDb::setOption(const QString &name, const QString &value)
{
    return run(db(), QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, ?)"), {name, value},
               m_lastError);
}
