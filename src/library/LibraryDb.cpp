#include "library/LibraryDb.h"

#include "library/LibrarySchema.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

LibraryDb::LibraryDb(const QString &connectionName)
    : m_connection{connectionName, [] { return QDateTime::currentDateTime(); }, {}}
{}

LibraryDb::~LibraryDb()
{
    if (QSqlDatabase::contains(m_connection.name)) {
        {
            QSqlDatabase d = m_connection.db();
            d.close();
        }
        QSqlDatabase::removeDatabase(m_connection.name);
    }
}

bool LibraryDb::isOpen() const
{
    return QSqlDatabase::contains(m_connection.name) && m_connection.db().isOpen();
}

bool LibraryDb::open(const QString &filePath, QString *error)
{
    auto fail = [&](const QString &why) {
        m_connection.lastError = why;
        if (error)
            *error = why;
        if (QSqlDatabase::contains(m_connection.name))
            m_connection.db().close();
        return false;
    };

    m_filePath = filePath;
    const QFileInfo info(filePath);
    // An empty file holds nothing to lose; SQLite treats it as a new database.
    const bool isNew = !info.exists() || (info.isFile() && info.size() == 0);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("不是文件"));
    if (isNew && !QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("无法创建文件夹 %1").arg(info.absolutePath()));

    QSqlDatabase d = QSqlDatabase::contains(m_connection.name)
                         ? m_connection.db()
                         : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection.name);
    d.setDatabaseName(filePath);
    if (!d.open())
        return fail(d.lastError().text());

    // Read before anything writes: a file that is not a database fails here untouched.
    {
        QSqlQuery probe(d);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            return fail(probe.lastError().text());
    }
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA busy_timeout=3000"}) {
        QSqlQuery q(d);
        q.exec(QString::fromLatin1(pragma));
    }

    QString schemaError;
    if (!CreateLibrarySchema(d, &schemaError))
        return fail(schemaError);
    // Without its sync file the library still opens; sync then starts afresh.
    if (!m_sync.open(filePath))
        qWarning("sync file: %s", qPrintable(m_connection.lastError));
    return true;
}

qint64 LibraryDb::insertBook(const QString &type, const QString &name, const QString &author, const QString &path)
{
    if (!m_sync.isEnabled())
        return m_shelf.insertBook(type, name, author, path);
    // The row and what the account holds for its file go in together.
    QSqlDatabase d = m_connection.db();
    const bool own = d.transaction();
    const qint64 id = m_shelf.insertBook(type, name, author, path);
    if (id > 0 && !m_sync.bookArrived(path))
        qWarning("sync: %s", qPrintable(m_connection.lastError));
    if (own && !(id > 0 ? d.commit() : d.rollback()))
        return -1;
    return id;
}
