#pragma once

// Conversions shared by the Store's source files.

#include "store/StoreCatalogue.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

class QSqlQuery;

namespace StoreSupport {

inline const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// A null QString binds as SQL NULL; the text columns are NOT NULL.
inline QString notNull(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

inline QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(kTimeFormat) : QStringLiteral("");
}

inline QDateTime timeFrom(const QVariant &v)
{
    return QDateTime::fromString(v.toString(), kTimeFormat);
}

// The columns of a BookRow, in the order bookFrom reads them.
inline const QString kBookColumns =
    QStringLiteral("id, name, author, class, statue, newchap, memo, filename, filesize, "
                   "cover, ftime, uploader, checkif, hash");
BookRow bookFrom(const QSqlQuery &q);

} // namespace StoreSupport
