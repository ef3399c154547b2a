// The embedded back end: one SQLite file in WAL mode, shared by the threads and the
// command-line runs of one machine.

#include "store/StoreDialect.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Each entry brings the schema from its index to the next version (PRAGMA user_version).
// Databases made before versions were kept have user_version 0 and the tables of version 1.
const QStringList kSteps[] = {
    {
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
        // The first releases added this column later; its absence is the only difference.
        "DISABLED COLUMN",
    },
    {
        "ALTER TABLE books ADD COLUMN hash TEXT NOT NULL DEFAULT ''",
        "CREATE INDEX books_hash ON books(hash) WHERE hash <> ''",
        "CREATE TABLE promotion_visits ("
        " userid INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
        " visitor TEXT NOT NULL,"
        " day TEXT NOT NULL,"
        " PRIMARY KEY (userid, visitor, day))",
        "CREATE INDEX promotion_visits_day ON promotion_visits(day)",
        "CREATE INDEX sessions_expires ON sessions(expires)",
        // Bumped by every change the public catalogue shows, so answer caches of every
        // process know when to forget.
        "CREATE TABLE catalogue_version (version INTEGER NOT NULL)",
        "INSERT INTO catalogue_version VALUES (0)",
        "CREATE TRIGGER books_added AFTER INSERT ON books WHEN new.checkif = 1 "
        "BEGIN UPDATE catalogue_version SET version = version + 1; END",
        "CREATE TRIGGER books_changed AFTER UPDATE ON books WHEN old.checkif = 1 OR new.checkif = 1 "
        "BEGIN UPDATE catalogue_version SET version = version + 1; END",
        "CREATE TRIGGER books_removed AFTER DELETE ON books WHEN old.checkif = 1 "
        "BEGIN UPDATE catalogue_version SET version = version + 1; END",
    },
    {
        // Each user's synchronised reading: per kind and key the version kept, numbered in
        // the user's own sequence, whose newest number and item count sync_users holds.
        "CREATE TABLE sync_users ("
        " userid INTEGER PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,"
        " seq INTEGER NOT NULL DEFAULT 0,"
        " items INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE sync_items ("
        " userid INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
        " kind TEXT NOT NULL,"
        " key TEXT NOT NULL,"
        " seq INTEGER NOT NULL,"
        " changed INTEGER NOT NULL,"
        " deleted INTEGER NOT NULL DEFAULT 0,"
        " payload TEXT NOT NULL DEFAULT '',"
        " PRIMARY KEY (userid, kind, key))",
        "CREATE UNIQUE INDEX sync_items_seq ON sync_items(userid, seq)",
    },
    {
        // Which copy took the place of a book an approved upload withdrew.
        "CREATE TABLE book_successors (old_id INTEGER PRIMARY KEY, new_id INTEGER NOT NULL)",
    },
    {
        // The bytes (UTF-8) of each user's synchronised keys and payloads, held to a quota.
        "ALTER TABLE sync_users ADD COLUMN bytes INTEGER NOT NULL DEFAULT 0",
        "UPDATE sync_users SET bytes = (SELECT COALESCE(SUM(LENGTH(CAST(key AS BLOB)) + LENGTH(CAST(payload AS BLOB))), 0) "
        "FROM sync_items WHERE sync_items.userid = sync_users.userid)",
    },
    {
        // Books kept for their owner alone; the bytes of one fingerprint lie once on disk.
        "CREATE TABLE private_copies ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " userid INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
        " fingerprint TEXT NOT NULL,"
        " name TEXT NOT NULL DEFAULT '',"
        " author TEXT NOT NULL DEFAULT '',"
        " filesize INTEGER NOT NULL,"
        " created TEXT NOT NULL DEFAULT '',"
        " UNIQUE (userid, fingerprint))",
        "CREATE INDEX private_copies_fingerprint ON private_copies(fingerprint)",
    },
};

class SqliteDialect final : public StoreDialect
{
public:
    explicit SqliteDialect(QString path) : m_path(std::move(path)) {}

    QString driver() const override { return QStringLiteral("QSQLITE"); }
    void configure(QSqlDatabase &db) const override
    {
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    bool prepareConnection(QSqlDatabase &db, QString *error) const override
    {
        return run(db, {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA foreign_keys=ON"}, error);
    }
    bool upgradeSchema(QSqlDatabase &db, QString *error) const override
    {
        // The write lock is taken before the version is read: a second process starting at
        // the same moment waits and then finds the work done.
        if (!run(db, {begin()}, error))
            return false;
        QSqlQuery q(db);
        const bool ok = [&] {
            if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
                *error = q.lastError().text();
                return false;
            }
            const int version = q.value(0).toInt();
            q.finish();
            const int newest = int(std::size(kSteps));
            for (int v = version; v < newest; ++v) {
                for (const QString &sql : kSteps[v]) {
                    if (sql == u"DISABLED COLUMN") {
                        if (!q.exec(QStringLiteral("SELECT count(*) FROM pragma_table_info('users') "
                                                   "WHERE name = 'disabled'")) ||
                            !q.next()) {
                            *error = q.lastError().text();
                            return false;
                        }
                        const bool has = q.value(0).toInt() > 0;
                        q.finish();
                        if (!has && !run(db, {"ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0"},
                                         error))
                            return false;
                    } else if (!run(db, {sql}, error)) {
                        return false;
                    }
                }
            }
            return version == newest || run(db, {QStringLiteral("PRAGMA user_version = %1").arg(newest)}, error);
        }();
        QString ignored;
        return run(db, {ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")}, ok ? error : &ignored) && ok;
    }
    // BEGIN IMMEDIATE takes the write lock up front, so a busy writer makes us wait
    // instead of failing half-way through.
    QString begin() const override { return QStringLiteral("BEGIN IMMEDIATE"); }
    // The name column compares without case (COLLATE NOCASE), so its index serves this.
    QString nameMatches() const override { return QStringLiteral("name = ?"); }
    // SQLite's LIKE ignores the case of ASCII letters; Chinese has none.
    QString likeCondition(const QString &column) const override
    {
        return column + QStringLiteral(" LIKE ? ESCAPE '\\'");
    }
    QString describe() const override { return m_path; }

private:
    QString m_path;
};

} // namespace

bool StoreDialect::run(QSqlDatabase &db, const QStringList &statements, QString *error)
{
    QSqlQuery q(db);
    for (const QString &sql : statements) {
        if (!q.exec(sql)) {
            *error = q.lastError().text();
            return false;
        }
    }
    return true;
}

std::unique_ptr<StoreDialect> makeSqliteDialect(const QString &path)
{
    return std::make_unique<SqliteDialect>(path);
}
