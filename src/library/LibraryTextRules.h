#pragma once

#include "library/LibrarySql.h"
#include "text/TextRules.h"

// The clean-up rules, in a table of their own (TextRule), in the order they were added. The table
// is made, with the built-in rules switched off, the first time the rules are asked for. The
// page asks for them at every chapter, so they are kept once read, until they are written here
// or the library is another file.
class LibraryTextRules
{
public:
    explicit LibraryTextRules(const LibraryConnection &connection) : m_connection(connection) {}

    // Without `create`, a library that never had the table gives no rules and stays as it is.
    QList<TextRule> textRules(bool create = true) const;
    // A rule with id 0 is added and gets its id; another one is written over. False when refused.
    bool saveTextRule(TextRule &rule);
    bool deleteTextRule(qint64 id);

private:
    bool ensureTable() const;
    // False when the database refused; `table` tells whether the table is there.
    bool readTextRules(bool create, QList<TextRule> &rules, bool &table) const;

    const LibraryConnection &m_connection;
    struct Cache
    {
        QString file; // the library they were read from; empty when nothing is kept
        bool table = false; // the table was there: what textRules(true) gives too
        QList<TextRule> rules;
    };
    mutable Cache m_cache;
};
