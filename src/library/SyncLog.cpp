#include "library/SyncLog.h"

#include "library/LibrarySql.h"
#include "library/SyncKinds.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const auto kOn = QStringLiteral("On");
// Set once the bookmark lists were queued, which a log started before they travelled did not.
const auto kListQueued = QStringLiteral("ListQueued");
// Set once the ways books are read were queued, which a log started before they travelled did not.
const auto kReadingQueued = QStringLiteral("ReadingQueued");

// Milliseconds since 1970 UTC, as the server and every computer count them.
const char kNowMs[] = "CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER)";

// The tables an older library kept inside itself, with the columns that move.
struct OldTable
{
    const char *name;
    const char *columns;
};
constexpr OldTable kOldTables[] = {
    {"SyncFingerprint", "path, size, modified, fingerprint"},
    {"SyncChange", "kind, path, changed"},
    {"SyncRemote", "kind, key, changed, deleted, payload"},
    {"SyncMarkChange", "book, id, changed"},
};

// Digits at [from, from + count) of text as a number, or -1.
int digitsAt(const QString &text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

qint64 SyncLocalTimeMs(const QString &text)
{
    // The library writes "yyyy-MM-dd HH:mm:ss[.zzz]"; read directly, as a format string is slow
    // for a shelf of thousands queued while the window waits.
    if ((text.size() == 19 || (text.size() == 23 && text.at(19) == u'.')) && text.at(4) == u'-' &&
        text.at(7) == u'-' && text.at(10) == u' ' && text.at(13) == u':' && text.at(16) == u':') {
        const QDate date(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
        const QTime time(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2),
                         text.size() == 23 ? digitsAt(text, 20, 3) : 0);
        if (date.isValid() && time.isValid())
            return QDateTime(date, time).toMSecsSinceEpoch();
    }
    for (const char *format : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss"}) {
        const QDateTime t = QDateTime::fromString(text, QString::fromLatin1(format));
        if (t.isValid())
            return t.toMSecsSinceEpoch();
    }
    return 1;
}

bool SyncTransaction(LibraryConnection &connection, const std::function<bool()> &work)
{
    QSqlDatabase d = connection.db();
    if (!d.transaction())
        return false;
    if (!work() || !d.commit()) {
        d.rollback();
        return false;
    }
    return true;
}

QString SyncLog::fileFor(const QString &dataFile)
{
    QDir folder = QFileInfo(dataFile).absoluteDir();
    if (folder.dirName().compare(QLatin1String("DataFile"), Qt::CaseInsensitive) == 0)
        folder.cdUp();
    return folder.filePath(QStringLiteral("Sync.db"));
}

bool SyncLog::open(const QString &dataFile)
{
    m_file = fileFor(dataFile);
    m_attached = false;
    QSqlQuery q(m_connection.db());
    const bool oldLog = q.exec(QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = 'SyncChange'")) && q.next();
    q.finish();
    if (!oldLog && !QFileInfo(m_file).isFile())
        return true;
    return attach(true) && (!oldLog || moveOldLog()) && createTriggers();
}

bool SyncLog::attach(bool create)
{
    if (m_attached)
        return true;
    if (m_file.isEmpty() || (!create && !QFileInfo(m_file).isFile()))
        return false;
    QFile file(m_file);
    // Made by its owner's hand only: it names the account.
    if (!file.exists() && !file.open(QIODevice::WriteOnly)) {
        m_connection.lastError = file.errorString();
        return false;
    }
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!m_connection.run(QStringLiteral("ATTACH DATABASE ? AS sync"), {m_file}))
        return false;
    m_attached = true;
    const QStringList schema{
        QStringLiteral("PRAGMA sync.journal_mode=WAL"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncState (name TEXT PRIMARY KEY, value TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncFingerprint (path TEXT PRIMARY KEY COLLATE NOCASE,"
                       " size INTEGER NOT NULL, modified INTEGER NOT NULL, fingerprint TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS sync.SyncFingerprint_fingerprint ON SyncFingerprint(fingerprint)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncChange (kind TEXT NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
                       " changed INTEGER NOT NULL, first INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (kind, path))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncRemote (kind TEXT NOT NULL, key TEXT NOT NULL,"
                       " changed INTEGER NOT NULL, deleted INTEGER NOT NULL, payload TEXT NOT NULL DEFAULT '',"
                       " PRIMARY KEY (kind, key))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncMarkChange (book TEXT NOT NULL COLLATE NOCASE, id TEXT NOT NULL,"
                       " changed INTEGER NOT NULL, PRIMARY KEY (book, id))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync.SyncSuccessor (old TEXT PRIMARY KEY, new TEXT NOT NULL,"
                       " changed INTEGER NOT NULL, pending INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS sync.SyncSuccessor_new ON SyncSuccessor(new)"),
    };
    for (const QString &statement : schema) {
        QSqlQuery q(m_connection.db());
        if (!q.exec(statement) && !statement.startsWith(QLatin1String("PRAGMA"))) {
            m_connection.lastError = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool SyncLog::moveOldLog()
{
    // Copied first, then removed from the library: stopped between the two, the next opening
    // copies again over what is there, so nothing is lost either way.
    const bool copied = SyncTransaction(m_connection, [this] {
        for (const OldTable &t : kOldTables) {
            QSqlQuery q(m_connection.db());
            const QString name = QString::fromLatin1(t.name);
            q.prepare(QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?"));
            q.addBindValue(name);
            if (!q.exec())
                return false;
            if (!q.next())
                continue;
            const QString columns = QString::fromLatin1(t.columns);
            if (!m_connection.run(QStringLiteral("INSERT OR IGNORE INTO sync.%1 (%2) SELECT %2 FROM main.%1").arg(name, columns), {}))
                return false;
        }
        return m_connection.run(QStringLiteral("INSERT OR IGNORE INTO sync.SyncState (name, value) SELECT substr(name, 5), value"
                                               " FROM main.Options WHERE name IN ('SyncOn', 'SyncCursor', 'SyncAccount', 'SyncListQueued')"),
                                {});
    });
    if (!copied)
        return false;
    // What is removed is overwritten too, in the library file and in its journal, so no trace
    // of the account stays there.
    QSqlQuery pragma(m_connection.db());
    pragma.exec(QStringLiteral("PRAGMA main.secure_delete = ON"));
    const bool moved = SyncTransaction(m_connection, [this] {
        for (const char *trigger : {"SyncLogShelfAdded", "SyncLogShelfRemoved", "SyncLogShelfEdited", "SyncLogBookmark",
                                    "SyncLogPosition", "SyncLogMarkAdded", "SyncLogMarkEdited"}) {
            if (!m_connection.run(QStringLiteral("DROP TRIGGER IF EXISTS main.%1").arg(QLatin1String(trigger)), {}))
                return false;
        }
        for (const OldTable &t : kOldTables) {
            if (!m_connection.run(QStringLiteral("DROP TABLE IF EXISTS main.%1").arg(QLatin1String(t.name)), {}))
                return false;
        }
        return m_connection.run(QStringLiteral("DELETE FROM main.Options WHERE name IN ('SyncOn', 'SyncCursor', 'SyncAccount', 'SyncListQueued')"), {});
    });
    pragma.exec(QStringLiteral("PRAGMA main.wal_checkpoint(TRUNCATE)"));
    pragma.exec(QStringLiteral("PRAGMA main.secure_delete = OFF"));
    return moved;
}

bool SyncLog::createTriggers()
{
    const QString on = QStringLiteral("(SELECT value FROM sync.SyncState WHERE name = 'On') = '1'");
    const QString log = QStringLiteral("INSERT OR REPLACE INTO SyncChange (kind, path, changed, first) VALUES ('%1', %2, ") +
                        QString::fromLatin1(kNowMs) + QStringLiteral(", %3);");
    const QString markLog =
        QStringLiteral("INSERT OR REPLACE INTO SyncMarkChange (book, id, changed) VALUES (NEW.book, NEW.id, NEW.changed);");
    // Triggers of this connection only, so the library file itself never names the sync file.
    auto trigger = [&](const QString &name, const QString &event, const QString &when, const QString &body) {
        return QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS %1 AFTER %2 FOR EACH ROW WHEN %3%4 BEGIN %5 END")
            .arg(name, event, on, when.isEmpty() ? QString() : QStringLiteral(" AND ") + when, body);
    };
    const QStringList triggers{
        // A row's first appearance is no change of the user's: the account's values win over it.
        trigger(QStringLiteral("SyncLogShelfAdded"), QStringLiteral("INSERT ON main.BookList"), {},
                log.arg(SyncKind::Shelf, QStringLiteral("NEW.path"), QStringLiteral("1"))),
        trigger(QStringLiteral("SyncLogShelfRemoved"), QStringLiteral("DELETE ON main.BookList"), {},
                log.arg(SyncKind::Shelf, QStringLiteral("OLD.path"), QStringLiteral("0"))),
        trigger(QStringLiteral("SyncLogShelfEdited"), QStringLiteral("UPDATE OF type, name, author, path ON main.BookList"),
                QStringLiteral("(OLD.type IS NOT NEW.type OR OLD.name IS NOT NEW.name OR OLD.author IS NOT NEW.author"
                               " OR OLD.path IS NOT NEW.path)"),
                log.arg(SyncKind::Shelf, QStringLiteral("NEW.path"), QStringLiteral("0"))),
        trigger(QStringLiteral("SyncLogBookmark"), QStringLiteral("UPDATE OF marke ON main.BookList"),
                QStringLiteral("OLD.marke IS NOT NEW.marke"), log.arg(SyncKind::Bookmark, QStringLiteral("NEW.path"), QStringLiteral("0"))),
        trigger(QStringLiteral("SyncLogPosition"), QStringLiteral("INSERT ON main.ReadingPosition"), {},
                log.arg(SyncKind::Position, QStringLiteral("NEW.path"), QStringLiteral("0"))),
        // How a book is read, kept as an option under its path.
        trigger(QStringLiteral("SyncLogReading"), QStringLiteral("INSERT ON main.Options"),
                QStringLiteral("NEW.name LIKE 'BookReading:%'"),
                log.arg(SyncKind::Reading, QStringLiteral("substr(NEW.name, 13)"), QStringLiteral("0"))),
        // An entry of a bookmark list carries its own moment of change, which travels with it.
        trigger(QStringLiteral("SyncLogMarkAdded"), QStringLiteral("INSERT ON main.Bookmarks"), {}, markLog),
        trigger(QStringLiteral("SyncLogMarkEdited"), QStringLiteral("UPDATE ON main.Bookmarks"), {}, markLog),
    };
    for (const QString &statement : triggers) {
        if (!m_connection.run(statement, {}))
            return false;
    }
    return true;
}

QString SyncLog::value(const QString &name) const
{
    if (!m_attached)
        return {};
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT value FROM sync.SyncState WHERE name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

bool SyncLog::setValue(const QString &name, const QString &value)
{
    return m_attached &&
           m_connection.run(QStringLiteral("INSERT OR REPLACE INTO sync.SyncState (name, value) VALUES (?, ?)"), {name, value});
}

bool SyncLog::isOn() const
{
    return value(kOn) == QLatin1String("1");
}

bool SyncLog::setPaused(bool paused)
{
    return setValue(kOn, paused ? QStringLiteral("0") : QStringLiteral("1"));
}

bool SyncLog::enable()
{
    if (!attach(true) || !createTriggers())
        return false;
    const bool wasOn = isOn();
    const bool listQueued = wasOn && value(kListQueued) == QLatin1String("1");
    const bool readingQueued = wasOn && value(kReadingQueued) == QLatin1String("1");
    if (listQueued && readingQueued)
        return true;
    QList<QVariantList> rows;
    QSqlQuery q(m_connection.db());
    if (!wasOn && q.exec(QStringLiteral("SELECT path, lastread, marke FROM main.BookList"))) {
        while (q.next()) {
            const qint64 when = SyncLocalTimeMs(q.value(1).toString());
            rows.append({SyncKind::Shelf, q.value(0), when});
            if (q.value(2).toString().compare(QLatin1String("Null"), Qt::CaseInsensitive) != 0)
                rows.append({SyncKind::Bookmark, q.value(0), when});
        }
    }
    if (!wasOn && q.exec(QStringLiteral("SELECT path, saved FROM main.ReadingPosition"))) {
        while (q.next())
            rows.append({SyncKind::Position, q.value(0), SyncLocalTimeMs(q.value(1).toString())});
    }
    q.finish();
    return SyncTransaction(m_connection, [&] {
        // One statement for every row: a shelf of thousands is queued while the window waits.
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO sync.SyncChange (kind, path, changed) VALUES (?, ?, ?)"));
        for (const QVariantList &row : std::as_const(rows)) {
            BindAll(q, row);
            if (!q.exec()) {
                m_connection.lastError = q.lastError().text();
                return false;
            }
        }
        // Ways of reading have no moment of their own: as old as can be, any chosen elsewhere wins.
        return (listQueued || m_connection.run(QStringLiteral("INSERT OR IGNORE INTO sync.SyncMarkChange (book, id, changed)"
                                                              " SELECT book, id, changed FROM main.Bookmarks"),
                                               {})) &&
               (readingQueued || m_connection.run(QStringLiteral("INSERT OR IGNORE INTO sync.SyncChange (kind, path, changed)"
                                                                 " SELECT 'reading', substr(name, 13), 1 FROM main.Options"
                                                                 " WHERE name LIKE 'BookReading:%' AND value <> ''"),
                                                  {})) &&
               setValue(kOn, QStringLiteral("1")) && setValue(kListQueued, QStringLiteral("1")) &&
               setValue(kReadingQueued, QStringLiteral("1"));
    });
}

QList<FingerprintEntry> SyncLog::fingerprintEntries() const
{
    QList<FingerprintEntry> entries;
    QSqlQuery q(m_connection.db());
    if (!m_attached ||
        !q.exec(QStringLiteral("SELECT p.path, f.size, f.modified, f.fingerprint FROM"
                               " (SELECT path FROM main.BookList UNION SELECT path FROM sync.SyncChange"
                               "  UNION SELECT book FROM sync.SyncMarkChange) p"
                               " LEFT JOIN sync.SyncFingerprint f ON f.path = p.path")))
        return entries;
    while (q.next()) {
        entries.append({q.value(0).toString(), q.value(1).isNull() ? -1 : q.value(1).toLongLong(),
                        q.value(2).isNull() ? -1 : q.value(2).toLongLong(), q.value(3).toString()});
    }
    return entries;
}

bool SyncLog::storeFingerprints(const QList<FingerprintEntry> &entries)
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO sync.SyncFingerprint (path, size, modified, fingerprint) VALUES (?, ?, ?, ?)"));
    for (const FingerprintEntry &e : entries) {
        BindAll(q, {e.path, e.size, e.modified, e.fingerprint});
        if (!q.exec()) {
            m_connection.lastError = q.lastError().text();
            return false;
        }
    }
    return m_attached;
}

QString SyncLog::fingerprintOf(const QString &path) const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT fingerprint FROM sync.SyncFingerprint WHERE path = ?"));
    q.addBindValue(path);
    return m_attached && q.exec() && q.next() ? q.value(0).toString() : QString();
}

QString SyncLog::keyOf(const QString &path) const
{
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("SELECT COALESCE(s.new, f.fingerprint) FROM sync.SyncFingerprint f"
                             " LEFT JOIN sync.SyncSuccessor s ON s.old = f.fingerprint WHERE f.path = ?"));
    q.addBindValue(path);
    return m_attached && q.exec() && q.next() ? q.value(0).toString() : QString();
}

bool SyncLog::recordSuccessor(const QString &oldFingerprint, const QString &newFingerprint, qint64 changed, bool pending)
{
    if (!m_attached || oldFingerprint.isEmpty() || newFingerprint.isEmpty() || oldFingerprint == newFingerprint)
        return false;
    // Older contents of the book lead straight to the newest; the newest leads nowhere.
    const QString under = QStringLiteral("(key = ? OR substr(key, 1, length(?) + 1) = ? || '/')");
    const QVariantList old3{oldFingerprint, oldFingerprint, oldFingerprint};
    return m_connection.run(QStringLiteral("UPDATE sync.SyncSuccessor SET new = ? WHERE new = ?"), {newFingerprint, oldFingerprint}) &&
           m_connection.run(QStringLiteral("DELETE FROM sync.SyncSuccessor WHERE old = ?"), {newFingerprint}) &&
           m_connection.run(QStringLiteral("INSERT OR REPLACE INTO sync.SyncSuccessor (old, new, changed, pending) VALUES (?, ?, ?, ?)"),
                            {oldFingerprint, newFingerprint, changed, pending ? 1 : 0}) &&
           // The server's versions of the old content are its versions of the new one.
           m_connection.run(QStringLiteral("INSERT OR IGNORE INTO sync.SyncRemote (kind, key, changed, deleted, payload)"
                                           " SELECT kind, ? || substr(key, length(?) + 1), changed, deleted, payload"
                                           " FROM sync.SyncRemote WHERE ") + under,
                            QVariantList{newFingerprint, oldFingerprint} + old3) &&
           m_connection.run(QStringLiteral("DELETE FROM sync.SyncRemote WHERE ") + under, old3);
}

bool SyncLog::forget(const QString &kind, const QString &path, const QString &entry, qint64 upTo)
{
    if (!entry.isEmpty())
        return m_connection.run(QStringLiteral("DELETE FROM sync.SyncMarkChange WHERE book = ? AND id = ? AND changed <= ?"),
                                {path, entry, upTo});
    return m_connection.run(QStringLiteral("DELETE FROM sync.SyncChange WHERE kind = ? AND path = ? AND changed <= ?"),
                            {kind, path, upTo});
}
