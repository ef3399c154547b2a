#include "store/Migrate.h"

#include "store/Store.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace Migrate {

namespace {

// Parents before children, for the foreign keys.
const struct
{
    const char *table;
    const char *columns;
} kTables[] = {
    {"users", "id, name, passhash, email, sex, qq, question, answerhash, logins, lastlogin, prevlogin, points, money, "
              "created, disabled"},
    {"books", "id, name, author, class, statue, newchap, memo, filename, filesize, cover, ftime, uploader, checkif, "
              "hash"},
    {"sessions", "token, userid, expires"},
    {"login_failures", "key, count, last, until"},
    {"promotion_visits", "userid, visitor, day"},
    {"sync_users", "userid, seq, items, bytes"},
    {"sync_items", "userid, kind, key, seq, changed, deleted, payload"},
    {"book_successors", "old_id, new_id"},
    {"private_copies", "id, userid, fingerprint, name, author, filesize, created"},
};

qint64 copyTable(QSqlDatabase &source, QSqlDatabase &target, const QString &table, const QString &columns,
                 QString *error)
{
    QSqlQuery read(source);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2").arg(columns, table))) {
        *error = read.lastError().text();
        return -1;
    }
    const int n = int(columns.count(u',')) + 1;
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    QSqlQuery write(target);
    if (!write.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns, marks.join(u", ")))) {
        *error = write.lastError().text();
        return -1;
    }
    qint64 copied = 0;
    while (read.next()) {
        for (int i = 0; i < n; ++i)
            write.addBindValue(read.value(i));
        if (!write.exec()) {
            *error = QStringLiteral("%1: %2").arg(table, write.lastError().text());
            return -1;
        }
        ++copied;
    }
    return copied;
}

} // namespace

bool copyCatalogue(Store &from, Store &to, Counts *counts, QString *error)
{
    QSqlDatabase source = from.database();
    QSqlDatabase target = to.database();
    QSqlQuery probe(target);
    if (!probe.exec(QStringLiteral("SELECT (SELECT count(*) FROM users) + (SELECT count(*) FROM books)")) ||
        !probe.next()) {
        *error = probe.lastError().text();
        return false;
    }
    if (probe.value(0).toLongLong() > 0) {
        *error = QStringLiteral("the target catalogue is not empty: %1").arg(to.describe());
        return false;
    }
    probe.finish();
    return to.transaction([&] {
        for (const auto &t : kTables) {
            const qint64 copied =
                copyTable(source, target, QLatin1String(t.table), QLatin1String(t.columns), error);
            if (copied < 0)
                return false;
            const QLatin1String table(t.table);
            (table == u"users" ? counts->users
             : table == u"books" ? counts->books
             : table == u"sessions" ? counts->sessions
                                    : counts->other) += copied;
        }
        QSqlQuery q(target);
        for (const QString &sql : to.afterCopy()) {
            if (!q.exec(sql)) {
                *error = q.lastError().text();
                return false;
            }
        }
        return true;
    });
}

} // namespace Migrate
