#include "library/LibraryOptions.h"

#include "library/LibrarySql.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

const auto kPositionColumns = QStringLiteral("path, chapter, chapterTitle, fraction, linesRead, lineCount, saved");
// Milliseconds, so that of two books saved within a second the later one is the last book.
const auto kSavedFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

ReadingPosition positionFrom(const QSqlQuery &q)
{
    ReadingPosition p;
    p.path = q.value(0).toString();
    p.chapter = q.value(1).toInt();
    p.chapterTitle = q.value(2).toString();
    p.fraction = q.value(3).toDouble();
    p.linesRead = q.value(4).toLongLong();
    p.lineCount = q.value(5).toLongLong();
    p.saved = QDateTime::fromString(q.value(6).toString(), kSavedFormat);
    return p;
}

} // namespace

int ReadingPosition::progressPercent() const
{
    if (lineCount <= 0)
        return 0;
    return int(std::clamp<qint64>(linesRead * 100 / lineCount, 0, 100));
}

QVariant LibraryOptions::sysSetValue(const char *column) const
{
    // Column names come from this file only, never from input.
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM SysSet LIMIT 1").arg(QLatin1String(column))) || !q.next()) {
        m_connection.lastError = q.lastError().text();
        return {};
    }
    return q.value(0);
}

QString LibraryOptions::downSavePath() const
{
    return sysSetValue("DownSavePath").toString();
}

QString LibraryOptions::bossKey() const
{
    return sysSetValue("BossKey").toString();
}

bool LibraryOptions::autoRun() const
{
    return sysSetValue("AutoRun").toInt() != 0;
}

QString LibraryOptions::txtColor() const
{
    return sysSetValue("TxtColor").toString();
}

QString LibraryOptions::txtSize() const
{
    return sysSetValue("TxtSize").toString();
}

QString LibraryOptions::backColor() const
{
    return sysSetValue("BackColor").toString();
}

bool LibraryOptions::setDownSavePath(const QString &folder)
{
    return m_connection.run(QStringLiteral("UPDATE SysSet SET DownSavePath = ?"), {folder});
}

bool LibraryOptions::saveSettings(const SysSetRow &row)
{
    QSqlDatabase d = m_connection.db();
    if (!d.transaction()) {
        m_connection.lastError = d.lastError().text();
        return false;
    }
    QSqlQuery q(d);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) || !q.next()) {
        m_connection.lastError = q.lastError().text();
        d.rollback();
        return false;
    }
    const bool empty = q.value(0).toInt() < 1;
    q.finish();
    const QVariantList values{row.downSavePath, row.autoRun ? 1 : 0, row.bossKey,
                              row.txtColor,     row.txtSize,         row.backColor};
    const bool ok = m_connection.run(
        empty ? QStringLiteral("INSERT INTO SysSet (DownSavePath, AutoRun, BossKey, TxtColor, TxtSize, BackColor) "
                               "VALUES (?, ?, ?, ?, ?, ?)")
              : QStringLiteral("UPDATE SysSet SET DownSavePath = ?, AutoRun = ?, BossKey = ?, TxtColor = ?, "
                               "TxtSize = ?, BackColor = ? WHERE rowid = (SELECT min(rowid) FROM SysSet)"),
        values);
    if (!ok) {
        d.rollback();
        return false;
    }
    return d.commit();
}

bool LibraryOptions::saveReadingPosition(const ReadingPosition &p)
{
    const QString saved = (p.saved.isValid() ? p.saved : m_connection.clock()).toString(kSavedFormat);
    return m_connection.run(QStringLiteral("INSERT OR REPLACE INTO ReadingPosition (%1) VALUES (?, ?, ?, ?, ?, ?, ?)")
                                .arg(kPositionColumns),
                            {p.path, p.chapter, p.chapterTitle, p.fraction, p.linesRead, p.lineCount, saved});
}

std::optional<ReadingPosition> LibraryOptions::readingPosition(const QString &path) const
{
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM ReadingPosition WHERE path = ?").arg(kPositionColumns));
    q.addBindValue(Bindable(path));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return positionFrom(q);
}

std::optional<ReadingPosition> LibraryOptions::lastReadingPosition() const
{
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM ReadingPosition ORDER BY saved DESC LIMIT 1").arg(kPositionColumns)) ||
        !q.next())
        return std::nullopt;
    return positionFrom(q);
}

QString LibraryOptions::option(const QString &name, const QString &fallback) const
{
    QSqlQuery q(m_connection.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT value FROM Options WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return fallback;
    return q.value(0).toString();
}

bool LibraryOptions::setOption(const QString &name, const QString &value)
{
    return m_connection.run(QStringLiteral("INSERT OR REPLACE INTO Options (name, value) VALUES (?, ?)"),
                            {name, value});
}
