#include "library/HeadingRuleList.h"

#include <QSqlQuery>

bool HeadingRuleList::ensureTable() const
{
    return m_connection.run(QStringLiteral("CREATE TABLE IF NOT EXISTS HeadingRules ("
                                           " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                           " name TEXT NOT NULL DEFAULT '',"
                                           " expression TEXT NOT NULL DEFAULT '')"),
                            {});
}

QList<HeadingRuleRow> HeadingRuleList::rules() const
{
    QList<HeadingRuleRow> rows;
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    // No table yet means no rules.
    if (!q.exec(QStringLiteral("SELECT id, name, expression FROM HeadingRules ORDER BY id")))
        return rows;
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString()});
    return rows;
}

qint64 HeadingRuleList::add(const QString &name, const QString &expression)
{
    if (!ensureTable())
        return -1;
    QSqlQuery q(m_connection.db());
    q.prepare(QStringLiteral("INSERT INTO HeadingRules (name, expression) VALUES (?, ?)"));
    BindAll(q, {name, expression});
    if (!q.exec())
        return -1;
    return q.lastInsertId().toLongLong();
}

bool HeadingRuleList::update(const HeadingRuleRow &rule)
{
    return ensureTable() &&
           m_connection.run(QStringLiteral("UPDATE HeadingRules SET name = ?, expression = ? WHERE id = ?"),
                            {rule.name, rule.expression, rule.id});
}

bool HeadingRuleList::remove(qint64 id)
{
    return ensureTable() && m_connection.run(QStringLiteral("DELETE FROM HeadingRules WHERE id = ?"), {id});
}
