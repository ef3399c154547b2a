#pragma once

#include "library/LibrarySql.h"

#include <QList>
#include <QString>

// One of the reader's own chapter-heading expressions.
struct HeadingRuleRow
{
    qint64 id = 0;
    QString name;
    QString expression;

    // What menus show: the name, or the expression when it has none.
    QString caption() const { return name.isEmpty() ? expression : name; }
    bool operator==(const HeadingRuleRow &) const = default;
};

// The HeadingRules table, made on first use so that a library without own rules is untouched.
class HeadingRuleList
{
public:
    explicit HeadingRuleList(const LibraryConnection &connection) : m_connection(connection) {}

    QList<HeadingRuleRow> rules() const;                        // in the order they were added
    qint64 add(const QString &name, const QString &expression); // the new id, or -1
    bool update(const HeadingRuleRow &rule);
    bool remove(qint64 id);

private:
    bool ensureTable() const;

    const LibraryConnection &m_connection;
};
