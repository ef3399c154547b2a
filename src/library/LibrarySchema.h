#pragma once

#include <QString>

class QSqlDatabase;

// Brings an open library file up to the tables and indexes the program reads, in one
// transaction that is rolled back when a statement is refused: every table and index is created
// when missing, existing ones and their rows are kept, and the settings row is added when there
// is none. False, with *error set, when the database refused a step.
bool CreateLibrarySchema(QSqlDatabase &db, QString *error);
