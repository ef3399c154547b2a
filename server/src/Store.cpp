#include "Store.h"

#include <QAtomicInteger>
#include <QDir>
#include <QSqlError>
#include <QVariant>

namespace {

const auto kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const auto kBookColumns = QStringLiteral("id, name, author, class, statue, newchap, memo, filename, filesize, cover, "
                                         "ftime, uploader, checkif");
const auto kUserColumns = QStringLiteral("id, name, passhash, email, sex, qq, question, answerhash, logins, lastlogin, "
                                         "prevlogin, points, money, created, disabled");

// A null QString binds as SQL NULL; the text columns are NOT NULL.
QString notNull(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(kTimeFormat) : QStringLiteral("");
}

QDateTime timeFrom(const QVariant &v)
{
    return QDateTime::fromString(v.toString(), kTimeFormat);
}

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
    return b;
}

UserRow userFrom(const QSqlQuery &q)
{
    UserRow u;
    u.id = q.value(0).toLongLong();
    u.name = q.value(1).toString();
    u.passHash = q.value(2).toString();
    u.email = q.value(3).toString();
    u.sex = q.value(4).toString();
    u.qq = q.value(5).toString();
    u.question = q.value(6).toString();
    u.answerHash = q.value(7).toString();
    u.logins = q.value(8).toLongLong();
    u.lastLogin = timeFrom(q.value(9));
    u.previousLogin = timeFrom(q.value(10));
    u.points = q.value(11).toLongLong();
    u.money = q.value(12).toLongLong();
    u.created = timeFrom(q.value(13));
    u.disabled = q.value(14).toInt() != 0;
    return u;
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

Store::Store(const QString &dataDir) : m_dataDir(dataDir)
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

Store &Store::forThread(const QString &dataDir)
{
    thread_local std::map<QString, std::unique_ptr<Store>> stores;
    auto &slot = stores[dataDir];
    if (!slot)
        slot = std::make_unique<Store>(dataDir);
    if (!slot->isOpen())
        slot->open();
    return *slot;
}

QString Store::databasePath(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral("catalogue.db"));
}

bool Store::open(QString *error)
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(databasePath(m_dataDir));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        m_lastError = db.lastError().text();
        if (error)
            *error = m_lastError;
        return false;
    }
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    m_open = createSchema();
    if (!m_open && error)
        *error = m_lastError;
    return m_open;
}

bool Store::createSchema()
{
    const char *statements[] = {
        "CREATE TABLE IF NOT EXISTS users ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
        " passhash TEXT NOT NULL,"
        " email TEXT NOT NULL DEFAULT '',"
        " sex TEXT NOT NULL DEFAULT '',"
        " qq TEXT NOT NULL DEFAULT '',"
        " question TEXT NOT NULL DEFAULT '',"
        " answerhash TEXT NOT NULL DEFAULT '',"
        " logins INTEGER NOT NULL DEFAULT 0,"
        " lastlogin TEXT NOT NULL DEFAULT '',"
        " prevlogin TEXT NOT NULL DEFAULT '',"
        " points INTEGER NOT NULL DEFAULT 0,"
        " money INTEGER NOT NULL DEFAULT 0,"
        " created TEXT NOT NULL DEFAULT '')",
        "CREATE TABLE IF NOT EXISTS books ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL,"
        " author TEXT NOT NULL DEFAULT '',"
        " class TEXT NOT NULL,"
        " statue TEXT NOT NULL DEFAULT '',"
        " newchap TEXT NOT NULL DEFAULT '',"
        " memo TEXT NOT NULL DEFAULT '',"
        " filename TEXT NOT NULL DEFAULT '',"
        " filesize INTEGER NOT NULL DEFAULT 0,"
        " cover TEXT NOT NULL DEFAULT '',"
        " ftime TEXT NOT NULL DEFAULT '',"
        " uploader INTEGER REFERENCES users(id) ON DELETE SET NULL,"
        " checkif INTEGER NOT NULL DEFAULT 1)",
        "CREATE INDEX IF NOT EXISTS books_public ON books(checkif, id)",
        "CREATE INDEX IF NOT EXISTS books_class ON books(checkif, class, id)",
        "CREATE INDEX IF NOT EXISTS books_uploader ON books(uploader, id)",
        "CREATE TABLE IF NOT EXISTS sessions ("
        " token BLOB PRIMARY KEY,"
        " userid INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
        " expires INTEGER NOT NULL)",
        "CREATE INDEX IF NOT EXISTS sessions_user ON sessions(userid)",
        "CREATE TABLE IF NOT EXISTS login_failures ("
        " key TEXT PRIMARY KEY,"
        " count INTEGER NOT NULL,"
        " last INTEGER NOT NULL,"
        " until INTEGER NOT NULL)",
    };
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    for (const char *sql : statements) {
        if (!q.exec(QString::fromLatin1(sql))) {
            m_lastError = q.lastError().text();
            db.rollback();
            return false;
        }
    }
    // Columns added after the first release.
    if (!q.exec(QStringLiteral("SELECT disabled FROM users LIMIT 0")) &&
        !q.exec(QStringLiteral("ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0"))) {
        m_lastError = q.lastError().text();
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        m_lastError = db.lastError().text();
        return false;
    }
    return true;
}

QSqlQuery &Store::prepared(const QString &sql)
{
    auto &slot = m_statements[sql];
    if (!slot) {
        slot = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connectionName, false));
        slot->setForwardOnly(true);
        slot->prepare(sql);
    }
    slot->finish();
    return *slot;
}

bool Store::exec(QSqlQuery &q)
{
    if (q.exec()) {
        if (!q.isSelect())
            m_answers.clear();
        return true;
    }
    m_lastError = q.lastError().text();
    return false;
}

bool Store::transaction(const std::function<bool()> &work)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    // BEGIN IMMEDIATE takes the write lock up front, so a busy writer makes us wait
    // instead of failing half-way through.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        m_lastError = begin.lastError().text();
        return false;
    }
    QSqlQuery end(db);
    if (!work()) {
        end.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!end.exec(QStringLiteral("COMMIT"))) {
        m_lastError = end.lastError().text();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

BookPage Store::page(const QString &where, const QVariantList &binds, int pageNumber, int pageSize)
{
    BookPage result;
    QSqlQuery &count = prepared(QStringLiteral("SELECT count(*) FROM books WHERE ") + where);
    for (const QVariant &v : binds)
        count.addBindValue(v);
    if (!exec(count) || !count.next())
        return result;
    result.totalBooks = count.value(0).toLongLong();
    count.finish();
    result.totalPages = std::max<qint64>(1, (result.totalBooks + pageSize - 1) / pageSize);
    result.page = std::clamp(pageNumber, 1, result.totalPages);
    if (result.totalBooks == 0)
        return result;

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
    return page(QStringLiteral("checkif = 1 AND (name LIKE ? ESCAPE '\\' OR author LIKE ? ESCAPE '\\')"),
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
                                           "filesize, cover, ftime, uploader, checkif) "
                                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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
    if (!exec(q))
        return 0;
    return q.lastInsertId().toLongLong();
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
        if (b->review == verdict)
            return true;
        QSqlQuery &set = prepared(QStringLiteral("UPDATE books SET checkif = ? WHERE id = ?"));
        set.addBindValue(static_cast<int>(verdict));
        set.addBindValue(id);
        if (!exec(set))
            return false;
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

std::optional<UserRow> Store::userByName(const QString &name)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1 FROM users WHERE name = ?").arg(kUserColumns));
    q.addBindValue(name);
    if (!exec(q) || !q.next())
        return std::nullopt;
    UserRow u = userFrom(q);
    q.finish();
    return u;
}

std::optional<UserRow> Store::userById(qint64 id)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1 FROM users WHERE id = ?").arg(kUserColumns));
    q.addBindValue(id);
    if (!exec(q) || !q.next())
        return std::nullopt;
    UserRow u = userFrom(q);
    q.finish();
    return u;
}

qint64 Store::insertUser(const UserRow &u)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT OR IGNORE INTO users (name, passhash, email, sex, qq, question, "
                                           "answerhash, created) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(notNull(u.name));
    q.addBindValue(notNull(u.passHash));
    q.addBindValue(notNull(u.email));
    q.addBindValue(notNull(u.sex));
    q.addBindValue(notNull(u.qq));
    q.addBindValue(notNull(u.question));
    q.addBindValue(notNull(u.answerHash));
    q.addBindValue(timeText(u.created));
    if (!exec(q) || q.numRowsAffected() != 1)
        return 0;
    return q.lastInsertId().toLongLong();
}

bool Store::updateProfile(const UserRow &u)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE users SET passhash = ?, email = ?, sex = ?, qq = ?, answerhash = ? "
                                           "WHERE id = ?"));
    q.addBindValue(notNull(u.passHash));
    q.addBindValue(notNull(u.email));
    q.addBindValue(notNull(u.sex));
    q.addBindValue(notNull(u.qq));
    q.addBindValue(notNull(u.answerHash));
    q.addBindValue(u.id);
    return exec(q) && q.numRowsAffected() == 1;
}

bool Store::recordLogin(qint64 userId, const QDateTime &now, int dailyPoints)
{
    return transaction([&] {
        const auto u = userById(userId);
        if (!u)
            return false;
        const bool firstToday = !u->lastLogin.isValid() || u->lastLogin.date() != now.date();
        QSqlQuery &q = prepared(QStringLiteral("UPDATE users SET logins = logins + 1, prevlogin = ?, lastlogin = ?, "
                                               "points = points + ? WHERE id = ?"));
        q.addBindValue(timeText(u->lastLogin.isValid() ? u->lastLogin : u->created));
        q.addBindValue(timeText(now));
        q.addBindValue(firstToday ? dailyPoints : 0);
        q.addBindValue(userId);
        return exec(q);
    });
}

QList<Store::UserSummary> Store::users()
{
    QList<UserSummary> out;
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1, (SELECT count(*) FROM books WHERE uploader = users.id) "
                                           "FROM users ORDER BY id").arg(kUserColumns));
    if (!exec(q))
        return out;
    while (q.next())
        out.append({userFrom(q), q.value(15).toInt()});
    q.finish();
    return out;
}

bool Store::setDisabled(qint64 userId, bool disabled)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE users SET disabled = ? WHERE id = ?"));
    q.addBindValue(disabled ? 1 : 0);
    q.addBindValue(userId);
    return exec(q) && q.numRowsAffected() == 1;
}

bool Store::setPassword(qint64 userId, const QString &passHash)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE users SET passhash = ? WHERE id = ?"));
    q.addBindValue(passHash);
    q.addBindValue(userId);
    if (!exec(q) || q.numRowsAffected() != 1)
        return false;
    QSqlQuery &end = prepared(QStringLiteral("DELETE FROM sessions WHERE userid = ?"));
    end.addBindValue(userId);
    return exec(end);
}

UploadUsage Store::uploadUsage(qint64 userId, const QString &since)
{
    UploadUsage usage;
    QSqlQuery &q = prepared(QStringLiteral("SELECT coalesce(sum(checkif = 0), 0), "
                                           "coalesce(sum(CASE WHEN checkif = 0 THEN filesize ELSE 0 END), 0), "
                                           "coalesce(sum(ftime >= ?), 0) FROM books WHERE uploader = ?"));
    q.addBindValue(since);
    q.addBindValue(userId);
    if (!exec(q) || !q.next())
        return usage;
    usage.pending = q.value(0).toInt();
    usage.pendingBytes = q.value(1).toLongLong();
    usage.lastHour = q.value(2).toInt();
    q.finish();
    return usage;
}

LoginFailures Store::loginFailures(const QString &key)
{
    LoginFailures f;
    QSqlQuery &q = prepared(QStringLiteral("SELECT count, last, until FROM login_failures WHERE key = ?"));
    q.addBindValue(key);
    if (!exec(q) || !q.next())
        return f;
    f.count = q.value(0).toInt();
    f.last = q.value(1).toLongLong();
    f.until = q.value(2).toLongLong();
    q.finish();
    return f;
}

bool Store::setLoginFailures(const QString &key, const LoginFailures &f)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT OR REPLACE INTO login_failures (key, count, last, until) "
                                           "VALUES (?, ?, ?, ?)"));
    q.addBindValue(key);
    q.addBindValue(f.count);
    q.addBindValue(f.last);
    q.addBindValue(f.until);
    return exec(q);
}

bool Store::clearLoginFailures(const QString &key)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM login_failures WHERE key = ?"));
    q.addBindValue(key);
    return exec(q);
}

bool Store::insertSession(const QByteArray &tokenHash, qint64 userId, qint64 expiresAt)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT INTO sessions (token, userid, expires) VALUES (?, ?, ?)"));
    q.addBindValue(tokenHash);
    q.addBindValue(userId);
    q.addBindValue(expiresAt);
    return exec(q);
}

std::optional<qint64> Store::sessionUser(const QByteArray &tokenHash, qint64 now)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT userid FROM sessions WHERE token = ? AND expires > ?"));
    q.addBindValue(tokenHash);
    q.addBindValue(now);
    if (!exec(q) || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool Store::deleteSession(const QByteArray &tokenHash)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM sessions WHERE token = ?"));
    q.addBindValue(tokenHash);
    return exec(q);
}

bool Store::deleteOtherSessions(qint64 userId, const QByteArray &keepTokenHash)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM sessions WHERE userid = ? AND token <> ?"));
    q.addBindValue(userId);
    q.addBindValue(keepTokenHash);
    return exec(q);
}

bool Store::purgeSessions(qint64 now)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM sessions WHERE expires <= ?"));
    q.addBindValue(now);
    return exec(q);
}

QByteArray Store::cachedAnswer(const QByteArray &key)
{
    QSqlQuery &q = prepared(QStringLiteral("PRAGMA data_version"));
    if (!q.exec() || !q.next())
        return {};
    const qint64 version = q.value(0).toLongLong();
    q.finish();
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
