#include "library/LibrarySchema.h"

#include "library/LibraryOptions.h"
#include "library/LibrarySql.h"

#include <QSqlError>
#include <QSqlQuery>

bool CreateLibrarySchema(QSqlDatabase &d, QString *error)
{
    if (!d.transaction()) {
        *error = d.lastError().text();
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
        "CREATE TABLE IF NOT EXISTS Bookmarks ("
        " book TEXT NOT NULL COLLATE NOCASE,"
        " id TEXT NOT NULL,"
        " chapter INTEGER NOT NULL DEFAULT 0,"
        " chapterTitle TEXT NOT NULL DEFAULT '',"
        " fraction REAL NOT NULL DEFAULT 0,"
        " excerpt TEXT NOT NULL DEFAULT '',"
        " note TEXT NOT NULL DEFAULT '',"
        " made TEXT NOT NULL,"
        " changed INTEGER NOT NULL,"
        " removed INTEGER NOT NULL DEFAULT 0,"
        " PRIMARY KEY (book, id))",
        "CREATE INDEX IF NOT EXISTS Bookmarks_changed ON Bookmarks(changed)",
    };
    QStringList all;
    for (const char *sql : statements)
        all.append(QString::fromLatin1(sql));
    QSqlQuery q(d);
    for (const QString &sql : std::as_const(all)) {
        if (!q.exec(sql)) {
            *error = q.lastError().text();
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
        BindAll(q, {defaults.downSavePath, defaults.autoRun ? 1 : 0, defaults.bossKey, defaults.txtColor,
                    defaults.txtSize, defaults.backColor});
        if (!q.exec()) {
            *error = q.lastError().text();
            d.rollback();
            return false;
        }
    }
    if (!d.commit()) {
        *error = d.lastError().text();
        return false;
    }
    return true;
}
