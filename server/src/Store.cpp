#include "Store.h"

#include "StoreDialect.h"
#include "StoreSupport.h"

#include <QAtomicInteger>
#include <QSqlError>
#include <QVariant>

using namespace StoreSupport;

namespace {

const auto kBookColumns = QStringLiteral("id, name, author, class, statue, newchap, memo, filename, filesize, cover, "
                                         "ftime, uploader, checkif, hash");

BookRow bookFrom(const QSqlQuery &q)
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

QString storeTime(const QDateTime &t)
{
    return timeText(t);
}

std::unique_ptr<StoreDialect> StoreDialect::forLocation(const QString &location, QString *error)
{
    if (location.startsWith(u"sqlite:"))
        return makeSqliteDialect(location.mid(7));
    if (location.startsWith(u"postgresql://") || location.startsWith(u"postgres://"))
        return makePostgresDialect(location, error);
    *error = QStringLiteral("unknown database address (sqlite:PATH or postgresql://…): %1").arg(location);
    return nullptr;
}

Store::Store(const QString &location) : m_location(location)
{
    static QAtomicInteger<quint64> counter;
    m_connectionName = QStringLiteral("folioway-server-%1").arg(counter.fetchAndAddRelaxed(1));
}

Store::~Store()
{
    m_statements.clear();
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

Store &Store::forThread(const QString &location)
{
    thread_local std::map<QString, std::unique_ptr<Store>> stores;
    auto &slot = stores[location];
    if (!slot)
        slot = std::make_unique<Store>(location);
    // A lost database is tried again at most once a second, so requests during an outage
    // fail at once instead of each waiting for a connection.
    if (!slot->isOpen() && (!slot->m_retryTimer.isValid() || slot->m_retryTimer.hasExpired(1000)))
        slot->open();
    return *slot;
}

QString Store::describe() const
{
    return m_dialect ? m_dialect->describe() : m_location;
}

bool Store::isPostgres() const
{
    return m_dialect && m_dialect->isPostgres();
}

QStringList Store::afterCopy() const
{
    return m_dialect ? m_dialect->afterCopy() : QStringList();
}

QSqlDatabase Store::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool Store::open(QString *error)
{
    const auto failed = [&](const QString &why) {
        m_lastError = why;
        if (error)
            *error = why;
        m_retryTimer.start();
        return false;
    };
    QString why;
    if (!m_dialect && !(m_dialect = StoreDialect::forLocation(m_location, &why)))
        return failed(why);
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(m_dialect->driver(), m_connectionName);
    if (!db.isValid())
        return failed(QStringLiteral("the Qt Sql driver %1 is not installed").arg(m_dialect->driver()));
    db.close();
    m_dialect->configure(db);
    if (!db.open())
        return failed(db.lastError().text());
    if (!m_dialect->prepareConnection(db, &why) || !m_dialect->upgradeSchema(db, &why)) {
        db.close();
        return failed(why);
    }
    // Statements prepared on a lost connection are prepared again on this one, in place,
    // so references held by callers stay good.
    for (auto &[sql, query] : m_statements) {
        *query = QSqlQuery(db);
        query->setForwardOnly(true);
        query->prepare(sql);
    }
    m_open = true;
    m_retryTimer.invalidate();
    return true;
}

QSqlQuery &Store::prepared(const QString &sql)
{
    auto &slot = m_statements[sql];
    if (!slot) {
        slot = std::make_unique<QSqlQuery>(database());
        slot->setForwardOnly(true);
        slot->prepare(sql);
    }
    slot->finish();
    return *slot;
}

bool Store::lost(const QSqlError &error)
{
    if (!m_open || !m_dialect->connectionLost(error))
        return false;
    ++m_lostCount;
    m_open = false;
    return true;
}

bool Store::exec(QSqlQuery &q)
{
    if (q.exec())
        return true;
    m_lastError = q.lastError().text();
    if (!m_open) {
        ++m_lostCount;
        return false;
    }
    if (!lost(q.lastError()))
        return false;
    // Reading again on a new connection is safe; a write might have happened before the
    // connection dropped, so it fails and the client tries again.
    if (m_inTransaction || !q.lastQuery().startsWith(u"SELECT"))
        return false;
    const QVariantList binds = q.boundValues();
    if (!open())
        return false;
    q.finish();
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (q.exec()) {
        --m_lostCount;
        return true;
    }
    m_lastError = q.lastError().text();
    lost(q.lastError());
    return false;
}

bool Store::transaction(const std::function<bool()> &work)
{
    if (!m_open) {
        ++m_lostCount;
        return false;
    }
    QSqlQuery begin(database());
    if (!begin.exec(m_dialect->begin())) {
        m_lastError = begin.lastError().text();
        // Nothing was done yet, so a connection found lost is replaced and the work goes on.
        if (!lost(begin.lastError()) || !open())
            return false;
        --m_lostCount;
        begin = QSqlQuery(database());
        if (!begin.exec(m_dialect->begin())) {
            m_lastError = begin.lastError().text();
            lost(begin.lastError());
            return false;
        }
    }
    m_inTransaction = true;
    const bool done = work();
    m_inTransaction = false;
    QSqlQuery end(database());
    if (!done) {
        end.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!end.exec(QStringLiteral("COMMIT"))) {
        m_lastError = end.lastError().text();
        if (!lost(end.lastError()))
            QSqlQuery(database()).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

BookPage Store::page(const QString &where, const QVariantList &binds, int pageNumber, int pageSize)
{
    BookPage result;
    result.ok = false;
    QSqlQuery &count = prepared(QStringLiteral("SELECT count(*) FROM books WHERE ") + where);
    for (const QVariant &v : binds)
        count.addBindValue(v);
    if (!exec(count) || !count.next())
        return result;
    result.totalBooks = count.value(0).toLongLong();
    count.finish();
    result.totalPages = std::max<qint64>(1, (result.totalBooks + pageSize - 1) / pageSize);
    result.page = std::clamp(pageNumber, 1, result.totalPages);
    if (result.totalBooks == 0) {
        result.ok = true;
        return result;
    }

    QSqlQuery &rows = prepared(
        QStringLiteral("SELECT %1 FROM books WHERE %2 ORDER BY id DESC LIMIT ? OFFSET ?").arg(kBookColumns, where));
    for (const QVariant &v : binds)
        rows.addBindValue(v);
    rows.addBindValue(pageSize);
    rows.addBindValue(qint64(result.page - 1) * pageSize);
    if (!exec(rows))
        return result;
    result.rows.reserve(pageSize);
    while (rows.next())
        result.rows.append(bookFrom(rows));
    rows.finish();
    result.ok = true;
    return result;
}

BookPage Store::listBooks(const QString &category, int pageNumber, int pageSize)
{
    if (category.isEmpty())
        return page(QStringLiteral("checkif = 1"), {}, pageNumber, pageSize);
    return page(QStringLiteral("checkif = 1 AND class = ?"), {category}, pageNumber, pageSize);
}

BookPage Store::searchBooks(const QString &key, int pageNumber, int pageSize)
{
    const QString pattern = likePattern(key);
    return page(QStringLiteral("checkif = 1 AND (%1 OR %2)")
                    .arg(m_dialect->likeCondition(QStringLiteral("name")),
                         m_dialect->likeCondition(QStringLiteral("author"))),
                {pattern, pattern}, pageNumber, pageSize);
}

BookPage Store::userBooks(qint64 userId, int pageNumber, int pageSize)
{
    return page(QStringLiteral("uploader = ?"), {userId}, pageNumber, pageSize);
}

std::optional<BookRow> Store::book(qint64 id)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1 FROM books WHERE id = ?").arg(kBookColumns));
    q.addBindValue(id);
    if (!exec(q) || !q.next())
        return std::nullopt;
    BookRow b = bookFrom(q);
    q.finish();
    return b;
}

std::optional<qint64> Store::bookWithHash(const QString &hash)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT id FROM books WHERE hash = ? AND hash <> ''"));
    q.addBindValue(hash);
    if (!exec(q) || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

qint64 Store::countBooks()
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT count(*) FROM books"));
    if (!exec(q) || !q.next())
        return -1;
    const qint64 n = q.value(0).toLongLong();
    q.finish();
    return n;
}

qint64 Store::insertBook(const BookRow &b)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT INTO books (name, author, class, statue, newchap, memo, filename, "
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
    if (!exec(q) || !q.next())
        return 0;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool Store::setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE books SET filename = ?, filesize = ?, cover = ? WHERE id = ?"));
    q.addBindValue(notNull(fileName));
    q.addBindValue(fileSize);
    q.addBindValue(notNull(coverName));
    q.addBindValue(id);
    return exec(q) && q.numRowsAffected() == 1;
}

bool Store::deleteBook(qint64 id)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM books WHERE id = ?"));
    q.addBindValue(id);
    return exec(q);
}

QList<BookRow> Store::pendingBooks()
{
    QList<BookRow> rows;
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1 FROM books WHERE checkif = 0 ORDER BY id").arg(kBookColumns));
    if (!exec(q))
        return rows;
    while (q.next())
        rows.append(bookFrom(q));
    q.finish();
    return rows;
}

ReviewOutcome Store::review(qint64 id, Review verdict, int newBookCoins, int updateCoins)
{
    ReviewOutcome outcome;
    transaction([&] {
        const auto b = book(id);
        if (!b)
            return true;
        outcome.found = true;
        // Conditional, so of two reviews racing from different processes only one pays.
        QSqlQuery &set = prepared(QStringLiteral("UPDATE books SET checkif = ? WHERE id = ? AND checkif <> ?"));
        set.addBindValue(static_cast<int>(verdict));
        set.addBindValue(id);
        set.addBindValue(static_cast<int>(verdict));
        if (!exec(set))
            return false;
        if (set.numRowsAffected() != 1)
            return true;
        if (verdict == Review::Approved && b->uploader > 0) {
            // A newly approved copy of a book the uploader already shares replaces it.
            QSqlQuery &older = prepared(QStringLiteral("SELECT id FROM books WHERE uploader = ? AND name = ? "
                                                       "AND checkif = 1 AND id <> ?"));
            older.addBindValue(b->uploader);
            older.addBindValue(b->name);
            older.addBindValue(id);
            if (!exec(older))
                return false;
            while (older.next())
                outcome.replacedIds.append(older.value(0).toLongLong());
            older.finish();
            for (qint64 old : outcome.replacedIds) {
                if (!deleteBook(old))
                    return false;
            }
            QSqlQuery &pay = prepared(QStringLiteral("UPDATE users SET money = money + ? WHERE id = ?"));
            pay.addBindValue(outcome.replacedIds.isEmpty() ? newBookCoins : updateCoins);
            pay.addBindValue(b->uploader);
            if (!exec(pay))
                return false;
        }
        outcome.changed = true;
        return true;
    });
    if (!outcome.changed)
        outcome.replacedIds.clear();
    return outcome;
}

qint64 Store::catalogueVersion()
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT version FROM catalogue_version"));
    if (!exec(q) || !q.next())
        return -1;
    const qint64 version = q.value(0).toLongLong();
    q.finish();
    return version;
}

QByteArray Store::cachedAnswer(const QByteArray &key)
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

void Store::rememberAnswer(const QByteArray &key, const QByteArray &answer)
{
    if (m_answers.size() >= 512)
        m_answers.clear();
    m_answers.insert(key, answer);
}
