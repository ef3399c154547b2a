#include "library/LibrarySql.h"

#include <QSqlError>
#include <QSqlQuery>

QVariant Bindable(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString && value.toString().isNull())
        return QString::fromLatin1("");
    return value;
}

void BindAll(QSqlQuery &query, const QVariantList &values)
{
    for (const QVariant &v : values)
        query.addBindValue(Bindable(v));
}

bool LibraryConnection::run(const QString &sql, const QVariantList &values) const
{
    QSqlQuery q(db());
    q.prepare(sql);
    BindAll(q, values);
    if (!q.exec()) {
        lastError = q.lastError().text();
        return false;
    }
    return true;
}
