#include "catalogue/DownloadStore.h"

#include "catalogue/Downloader.h"
#include "library/LibraryDb.h"

#include <QFileInfo>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace {

bool ensureTable(const LibraryConnection &c)
{
    return c.run(QStringLiteral("CREATE TABLE IF NOT EXISTS UnfinishedDownload ("
                                " seq INTEGER PRIMARY KEY,"
                                " saveFile TEXT NOT NULL UNIQUE,"
                                " url TEXT NOT NULL,"
                                " task TEXT NOT NULL,"
                                " total INTEGER NOT NULL DEFAULT 0,"
                                " validator BLOB,"
                                " entry TEXT NOT NULL DEFAULT '')"),
                 {});
}

// The catalogue row's cells the import and the update check use.
const char *const kEntryFields[] = {"id", "class", "name", "author", "statue", "ftime", "size", "downurl"};

QString entryText(const std::optional<CatalogueEntry> &entry)
{
    if (!entry)
        return {};
    const QString values[] = {entry->id,    entry->category, entry->name, entry->author,
                              entry->statue, entry->ftime,   entry->size, entry->downurl};
    QJsonObject o;
    for (size_t i = 0; i < std::size(kEntryFields); ++i)
        o.insert(QLatin1String(kEntryFields[i]), values[i]);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

std::optional<CatalogueEntry> entryFrom(const QString &text)
{
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    if (o.isEmpty())
        return std::nullopt;
    CatalogueEntry e;
    QString *const values[] = {&e.id, &e.category, &e.name, &e.author, &e.statue, &e.ftime, &e.size, &e.downurl};
    for (size_t i = 0; i < std::size(kEntryFields); ++i)
        *values[i] = o.value(QLatin1String(kEntryFields[i])).toString();
    return e;
}

} // namespace

QList<UnfinishedDownload> LoadUnfinishedDownloads(LibraryDb &db)
{
    QList<UnfinishedDownload> out;
    if (!ensureTable(db.connection()))
        return out;
    QSqlQuery q(db.connection().db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT saveFile, url, task, total, validator, entry FROM UnfinishedDownload "
                               "ORDER BY seq")))
        return out;
    while (q.next()) {
        UnfinishedDownload d;
        d.saveFile = q.value(0).toString();
        d.url = q.value(1).toString();
        d.task = q.value(2).toString();
        if (const qint64 total = q.value(3).toLongLong(); total > 0)
            d.resume = Transfer::Resume{total, q.value(4).toByteArray()};
        d.entry = entryFrom(q.value(5).toString());
        out.append(d);
    }
    return out;
}

bool SaveUnfinishedDownloads(LibraryDb &db, const QList<UnfinishedDownload> &downloads)
{
    const LibraryConnection &c = db.connection();
    if (!ensureTable(c) || !c.run(QStringLiteral("DELETE FROM UnfinishedDownload"), {}))
        return false;
    bool ok = true;
    for (const UnfinishedDownload &d : downloads) {
        ok &= c.run(QStringLiteral("INSERT OR REPLACE INTO UnfinishedDownload (saveFile, url, task, total, validator, "
                                   "entry) VALUES (?, ?, ?, ?, ?, ?)"),
                    {d.saveFile, d.url, d.task, d.resume ? d.resume->total : 0,
                     d.resume ? d.resume->validator : QByteArray(), entryText(d.entry)});
    }
    return ok;
}

bool ForgetUnfinishedDownload(LibraryDb &db, const QString &saveFile)
{
    return ensureTable(db.connection()) &&
           db.connection().run(QStringLiteral("DELETE FROM UnfinishedDownload WHERE saveFile = ?"), {saveFile});
}

bool KeepUnfinishedRows(LibraryDb &db, const QList<DownloadRow> &rows, const Downloader &downloader)
{
    QList<UnfinishedDownload> unfinished;
    for (const DownloadRow &r : rows) {
        if (!r.finished && !r.url.isEmpty())
            unfinished.append({r.saveFile, r.url, r.task, downloader.kept(r.saveFile), r.entry});
    }
    return SaveUnfinishedDownloads(db, unfinished);
}

QList<DownloadRow> RestoreUnfinishedRows(LibraryDb &db, Downloader &downloader)
{
    QList<DownloadRow> rows;
    for (const UnfinishedDownload &d : LoadUnfinishedDownloads(db)) {
        DownloadRow row;
        row.saveFile = d.saveFile;
        row.task = d.task;
        row.url = d.url;
        row.entry = d.entry;
        row.paused = true;
        row.speed = QStringLiteral("已暂停");
        if (d.resume && QFileInfo(Downloader::PartFileOf(d.saveFile)).size() > 0)
            downloader.adopt(d.saveFile, *d.resume);
        ShowKeptBytes(row, downloader);
        rows.append(row);
    }
    return rows;
}
