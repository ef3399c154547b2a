#include "store/Store.h"

#include "store/StoreDialect.h"
#include "store/StoreSupport.h"

#include <QAtomicInteger>
#include <QRegularExpression>
#include <QSqlError>
#include <QVariant>

#include <atomic>
#include <utility>

using namespace StoreSupport;

QString storeTime(const QDateTime &t)
{
    return timeText(t);
}

std::unique_ptr<StoreDialect> StoreDialect::forLocation(const QString &location, QString *error)
{
    if (location.startsWith(u"sqlite:"))
        return makeSqliteDialect(location.mid(7));
    if (location.startsWith(u"postgresql://") || location.startsWith(u"postgres://"))
        return makePostgresDialect(location, error);
    *error =
        QStringLiteral("unknown database address (sqlite:PATH or postgresql://…): %1").arg(withoutPassword(location));
    return nullptr;
}

QString StoreDialect::withoutPassword(const QString &location)
{
    QString out = location;
    // user:password@host: the password may hold '@', ':' or '/' itself, so up to the last '@'.
    const qsizetype scheme = out.indexOf(u"://");
    const qsizetype at = out.lastIndexOf(u'@');
    const qsizetype colon = scheme < 0 ? -1 : out.indexOf(u':', scheme + 3);
    if (colon >= 0 && colon < at)
        out.replace(colon + 1, at - colon - 1, QStringLiteral("***"));
    static const QRegularExpression option(QStringLiteral("(password\\s*=\\s*)[^&;\\s]*"),
                                           QRegularExpression::CaseInsensitiveOption);
    return out.replace(option, QStringLiteral("\\1***"));
}

namespace {

std::function<void(const QString &)> availabilityLog;
std::atomic<bool> unreachable{false}; // for the whole process, whichever thread noticed

} // namespace

void Store::setAvailabilityLog(std::function<void(const QString &)> log)
{
    availabilityLog = std::move(log);
}

Store::Store(const QString &location) : m_location(location)
{
    static QAtomicInteger<quint64> counter;
    m_connectionName = QStringLiteral("folioway-server-%1").arg(counter.fetchAndAddRelaxed(1));
}

Store::~Store()
{
    m_statements.clear();
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

Store &Store::forThread(const QString &location)
{
    thread_local std::map<QString, std::unique_ptr<Store>> stores;
    auto &slot = stores[location];
    if (!slot)
        slot = std::make_unique<Store>(location);
    // A lost database is tried again at most once a second, so requests during an outage
    // fail at once instead of each waiting for a connection.
    if (!slot->isOpen() && (!slot->m_retryTimer.isValid() || slot->m_retryTimer.hasExpired(1000)))
        slot->open();
    return *slot;
}

QString Store::describe() const
{
    return m_dialect ? m_dialect->describe() : StoreDialect::withoutPassword(m_location);
}

bool Store::isPostgres() const
{
    return m_dialect && m_dialect->isPostgres();
}

QStringList Store::afterCopy() const
{
    return m_dialect ? m_dialect->afterCopy() : QStringList();
}

QSqlDatabase Store::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool Store::open(QString *error)
{
    const auto failed = [&](const QString &why) {
        // A connection that could not be replaced: the database is away, not just one link to it.
        if (availabilityLog && m_dialect && !unreachable.exchange(true))
            availabilityLog(QStringLiteral("database lost: %1 (%2)").arg(describe(), why.simplified()));
        m_lastError = why;
        if (error)
            *error = why;
        m_retryTimer.start();
        return false;
    };
    QString why;
    if (!m_dialect && !(m_dialect = StoreDialect::forLocation(m_location, &why)))
        return failed(why);
    // Checked first, so a missing driver is one line naming its Debian package rather than
    // Qt's warnings.
    if (!QSqlDatabase::isDriverAvailable(m_dialect->driver())) {
        const QString package = m_dialect->isPostgres() ? QStringLiteral("libqt6sql6-psql")
                                                        : QStringLiteral("libqt6sql6-sqlite");
        return failed(QStringLiteral("缺少 Qt 数据库驱动 %1，请安装 %2 / the Qt Sql driver %1 is missing: "
                                     "install %2 (apt install %2)")
                          .arg(m_dialect->driver(), package));
    }
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(m_dialect->driver(), m_connectionName);
    if (!db.isValid())
        return failed(QStringLiteral("the Qt Sql driver %1 cannot be loaded").arg(m_dialect->driver()));
    db.close();
    m_dialect->configure(db);
    if (!db.open())
        return failed(db.lastError().text());
    if (!m_dialect->prepareConnection(db, &why) || !m_dialect->upgradeSchema(db, &why)) {
        db.close();
        return failed(why);
    }
    // Statements prepared on a lost connection are prepared again on this one, in place,
    // so references held by callers stay good.
    for (auto &[sql, query] : m_statements) {
        *query = QSqlQuery(db);
        query->setForwardOnly(true);
        query->prepare(sql);
    }
    m_open = true;
    m_retryTimer.invalidate();
    if (availabilityLog && unreachable.exchange(false))
        availabilityLog(QStringLiteral("database back: %1").arg(describe()));
    return true;
}

QSqlQuery &Store::prepared(const QString &sql)
{
    auto &slot = m_statements[sql];
    if (!slot) {
        slot = std::make_unique<QSqlQuery>(database());
        slot->setForwardOnly(true);
        slot->prepare(sql);
    }
    slot->finish();
    return *slot;
}

bool Store::lost(const QSqlError &error)
{
    if (!m_open || !m_dialect->connectionLost(error))
        return false;
    ++m_lostCount;
    m_open = false;
    return true;
}

// Whether a statement run without error may have changed the books.
static bool writesBooks(const QString &sql)
{
    return !sql.startsWith(u"SELECT") && sql.contains(u"books");
}

bool Store::exec(QSqlQuery &q)
{
    if (q.exec()) {
        if (writesBooks(q.lastQuery())) {
            // Other threads learn of it once it is committed.
            if (m_inTransaction)
                m_booksTouched = true;
            else
                m_catalogue.changed();
        }
        return true;
    }
    m_lastError = q.lastError().text();
    if (!m_open) {
        ++m_lostCount;
        return false;
    }
    if (!lost(q.lastError()))
        return false;
    // Reading again on a new connection is safe; a write might have happened before the
    // connection dropped, so it fails and the client tries again.
    if (m_inTransaction || !q.lastQuery().startsWith(u"SELECT"))
        return false;
    const QVariantList binds = q.boundValues();
    if (!open())
        return false;
    q.finish();
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (q.exec()) {
        --m_lostCount;
        return true;
    }
    m_lastError = q.lastError().text();
    lost(q.lastError());
    return false;
}

bool Store::transaction(const std::function<bool()> &work)
{
    if (!m_open) {
        ++m_lostCount;
        return false;
    }
    QSqlQuery begin(database());
    if (!begin.exec(m_dialect->begin())) {
        m_lastError = begin.lastError().text();
        // Nothing was done yet, so a connection found lost is replaced and the work goes on.
        if (!lost(begin.lastError()) || !open())
            return false;
        --m_lostCount;
        begin = QSqlQuery(database());
        if (!begin.exec(m_dialect->begin())) {
            m_lastError = begin.lastError().text();
            lost(begin.lastError());
            return false;
        }
    }
    m_inTransaction = true;
    m_booksTouched = false;
    const bool done = work();
    m_inTransaction = false;
    const bool touched = std::exchange(m_booksTouched, false);
    QSqlQuery end(database());
    if (!done) {
        end.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    const bool committed = end.exec(QStringLiteral("COMMIT"));
    // A commit that failed on a lost connection may still have happened.
    if (touched)
        m_catalogue.changed();
    if (!committed) {
        m_lastError = end.lastError().text();
        if (!lost(end.lastError()))
            QSqlQuery(database()).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}
