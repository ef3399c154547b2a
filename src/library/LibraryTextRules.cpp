#include "library/LibraryTextRules.h"

#include <QSqlError>
#include <QSqlQuery>

bool LibraryTextRules::ensureTable() const
{
    QSqlDatabase d = m_connection.db();
    if (d.tables().contains(QStringLiteral("TextRule"), Qt::CaseInsensitive))
        return true;
    if (!d.transaction()) {
        m_connection.lastError = d.lastError().text();
        return false;
    }
    QSqlQuery q(d);
    bool ok = q.exec(QStringLiteral("CREATE TABLE TextRule ("
                                    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                    " name TEXT NOT NULL DEFAULT '',"
                                    " pattern TEXT NOT NULL DEFAULT '',"
                                    " regex INTEGER NOT NULL DEFAULT 0,"
                                    " replacement TEXT NOT NULL DEFAULT '',"
                                    " bookPath TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
                                    " enabled INTEGER NOT NULL DEFAULT 0)"));
    for (const TextRule &rule : BuiltInTextRules()) {
        if (!ok)
            break;
        q.prepare(QStringLiteral("INSERT INTO TextRule (name, pattern, regex, replacement, bookPath, enabled) "
                                 "VALUES (?, ?, ?, ?, ?, 0)"));
        BindAll(q, {rule.name, rule.pattern, rule.regex ? 1 : 0, rule.replacement, rule.bookPath});
        ok = q.exec();
    }
    if (!ok) {
        m_connection.lastError = q.lastError().text();
        d.rollback();
        return false;
    }
    return d.commit();
}

QList<TextRule> LibraryTextRules::textRules(bool create) const
{
    const QSqlDatabase d = m_connection.db();
    const QString file = d.isOpen() ? d.databaseName() : QString();
    if (!file.isEmpty() && m_cache.file == file && (m_cache.table || !create))
        return m_cache.rules;
    QList<TextRule> rules;
    bool table = false;
    if (readTextRules(create, rules, table) && !file.isEmpty())
        m_cache = {file, table, rules};
    return rules;
}

bool LibraryTextRules::readTextRules(bool create, QList<TextRule> &rules, bool &table) const
{
    table = m_connection.db().tables().contains(QStringLiteral("TextRule"), Qt::CaseInsensitive);
    if (!table && !create)
        return true;
    if (!ensureTable())
        return false;
    table = true;
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT id, name, pattern, regex, replacement, bookPath, enabled FROM TextRule ORDER BY id"))) {
        m_connection.lastError = q.lastError().text();
        return false;
    }
    while (q.next()) {
        TextRule r;
        r.id = q.value(0).toLongLong();
        r.name = q.value(1).toString();
        r.pattern = q.value(2).toString();
        r.regex = q.value(3).toInt() != 0;
        r.replacement = q.value(4).toString();
        r.bookPath = q.value(5).toString();
        r.enabled = q.value(6).toInt() != 0;
        rules.append(r);
    }
    return true;
}

bool LibraryTextRules::saveTextRule(TextRule &rule)
{
    m_cache = {};
    if (!ensureTable())
        return false;
    const QVariantList values{rule.name, rule.pattern, rule.regex ? 1 : 0, rule.replacement, rule.bookPath,
                              rule.enabled ? 1 : 0};
    if (rule.id > 0)
        return m_connection.run(QStringLiteral("UPDATE TextRule SET name = ?, pattern = ?, regex = ?, "
                                               "replacement = ?, bookPath = ?, enabled = ? WHERE id = ?"),
                                values + QVariantList{rule.id});
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("INSERT INTO TextRule (name, pattern, regex, replacement, bookPath, enabled) "
                             "VALUES (?, ?, ?, ?, ?, ?)"));
    BindAll(q, values);
    if (!q.exec()) {
        m_connection.lastError = q.lastError().text();
        return false;
    }
    rule.id = q.lastInsertId().toLongLong();
    return true;
}

bool LibraryTextRules::deleteTextRule(qint64 id)
{
    m_cache = {};
    return ensureTable() && m_connection.run(QStringLiteral("DELETE FROM TextRule WHERE id = ?"), {id});
}
