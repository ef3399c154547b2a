#pragma once

#include "store/StoreAccounts.h"
#include "store/StoreCatalogue.h"
#include "store/StorePrivate.h"
#include "store/StoreSync.h"
#include "store/StoreUploads.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

class QSqlError;
class StoreDialect;

// The database's text form of a time.
QString storeTime(const QDateTime &t);

// The catalogue database. A Qt Sql connection belongs to the thread that opened it, so
// every thread gets its own Store through forThread(). The location names the back end:
// "sqlite:PATH" for the embedded file shared in WAL mode, or a postgresql:// address that
// several server processes may share.
//
// Store holds the connection; its parts (the catalogue, the accounts, the upload
// accounting and the users' synchronised reading) run their statements on it.
class Store
{
public:
    explicit Store(const QString &location);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The calling thread's store for location, opened on first use.
    static Store &forThread(const QString &location);
    static QString sqliteLocation(const QString &path) { return QStringLiteral("sqlite:") + path; }
    // Told one line when the process first fails to reach its database, and one when a
    // connection opens again; set before serving.
    static void setAvailabilityLog(std::function<void(const QString &)> log);

    bool open(QString *error = nullptr);
    bool isOpen() const { return m_open; }
    // Counts operations failed because the connection to the database was lost; a request
    // that sees it change was not served.
    quint64 lostCount() const { return m_lostCount; }
    QSqlDatabase database() const;
    // Statements the back end needs after rows were copied in with their ids.
    QStringList afterCopy() const;
    QString lastError() const { return m_lastError; }
    // The location without its password, for messages.
    QString describe() const;
    bool isPostgres() const;

    // Runs work inside a transaction; commits when it returns true.
    bool transaction(const std::function<bool()> &work);

    StoreCatalogue &catalogue() { return m_catalogue; }
    StoreAccounts &accounts() { return m_accounts; }
    StoreUploads &uploads() { return m_uploads; }
    StoreSync &sync() { return m_sync; }
    StorePrivate &privateCopies() { return m_private; }

private:
    friend class StoreCatalogue;
    friend class StoreAccounts;
    friend class StoreUploads;
    friend class StoreSync;
    friend class StorePrivate;

    // The statement for sql, prepared once per connection.
    QSqlQuery &prepared(const QString &sql);
    bool exec(QSqlQuery &q);
    const StoreDialect &dialect() const { return *m_dialect; }
    // Whether error means the connection is gone; it is then closed and counted.
    bool lost(const QSqlError &error);

    QString m_location;
    std::unique_ptr<StoreDialect> m_dialect;
    QString m_connectionName;
    QString m_lastError;
    bool m_open = false;
    bool m_inTransaction = false;
    bool m_booksTouched = false; // a write to the books inside the open transaction
    quint64 m_lostCount = 0;
    QElapsedTimer m_retryTimer; // since the last failed open
    // Cached prepared statements; held by pointer so references survive later insertions.
    std::map<QString, std::unique_ptr<QSqlQuery>> m_statements;

    StoreCatalogue m_catalogue{*this};
    StoreAccounts m_accounts{*this};
    StoreUploads m_uploads{*this};
    StoreSync m_sync{*this};
    StorePrivate m_private{*this};
};
