#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <functional>

class QSqlQuery;

// What every part of the library database works on: the named connection (owned by LibraryDb),
// the clock that stamps rows, and the text of the last statement the database refused.
struct LibraryConnection
{
    QString name;
    std::function<QDateTime()> clock;
    mutable QString lastError;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
    // Prepares, binds and runs one command; false, with lastError set, when the database refused it.
    bool run(const QString &sql, const QVariantList &values) const;
};

// A null QString would bind as SQL NULL; the text columns hold empty text instead.
QVariant Bindable(const QVariant &value);
void BindAll(QSqlQuery &query, const QVariantList &values);
