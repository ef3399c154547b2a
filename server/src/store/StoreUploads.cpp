#include "store/StoreUploads.h"

#include "store/BookCopies.h"
#include "store/Store.h"
#include "store/StoreSupport.h"

#include <QSqlQuery>
#include <QVariant>

using namespace StoreSupport;

UploadUsage StoreUploads::usage(qint64 userId, const QString &since)
{
    UploadUsage usage;
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT coalesce(sum(CASE WHEN checkif = 0 THEN 1 ELSE 0 END), 0), "
                                                   "coalesce(sum(CASE WHEN checkif = 0 THEN filesize ELSE 0 END), 0), "
                                                   "coalesce(sum(CASE WHEN ftime >= ? THEN 1 ELSE 0 END), 0) "
                                                   "FROM books WHERE uploader = ?"));
    q.addBindValue(since);
    q.addBindValue(userId);
    if (!m_store.exec(q) || !q.next())
        return usage;
    usage.pending = q.value(0).toInt();
    usage.pendingBytes = q.value(1).toLongLong();
    usage.lastHour = q.value(2).toInt();
    q.finish();
    return usage;
}

QList<BookRow> StoreUploads::pendingBooks()
{
    QList<BookRow> rows;
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("SELECT %1 FROM books WHERE checkif = 0 ORDER BY id").arg(kBookColumns));
    if (!m_store.exec(q))
        return rows;
    while (q.next())
        rows.append(bookFrom(q));
    q.finish();
    return rows;
}

ReviewOutcome StoreUploads::review(qint64 id, Review verdict, int newBookCoins, int updateCoins)
{
    ReviewOutcome outcome;
    m_store.transaction([&] {
        const auto b = m_store.catalogue().book(id);
        if (!b)
            return true;
        outcome.found = true;
        // Conditional, so of two reviews racing from different processes only one pays.
        QSqlQuery &set = m_store.prepared(QStringLiteral("UPDATE books SET checkif = ? WHERE id = ? AND checkif <> ?"));
        set.addBindValue(static_cast<int>(verdict));
        set.addBindValue(id);
        set.addBindValue(static_cast<int>(verdict));
        if (!m_store.exec(set))
            return false;
        if (set.numRowsAffected() != 1)
            return true;
        if (verdict == Review::Approved && b->uploader > 0) {
            // A newly approved copy of a book the uploader already shares replaces it.
            QSqlQuery &older = m_store.prepared(QStringLiteral("SELECT id FROM books WHERE uploader = ? AND name = ? "
                                                               "AND checkif = 1 AND id <> ?"));
            older.addBindValue(b->uploader);
            older.addBindValue(b->name);
            older.addBindValue(id);
            if (!m_store.exec(older))
                return false;
            while (older.next())
                outcome.replacedIds.append(older.value(0).toLongLong());
            older.finish();
            for (qint64 old : outcome.replacedIds) {
                if (!m_store.catalogue().deleteBook(old) || !BookCopies::recordSuccessor(m_store, old, id))
                    return false;
            }
            QSqlQuery &pay = m_store.prepared(QStringLiteral("UPDATE users SET money = money + ? WHERE id = ?"));
            pay.addBindValue(outcome.replacedIds.isEmpty() ? newBookCoins : updateCoins);
            pay.addBindValue(b->uploader);
            if (!m_store.exec(pay))
                return false;
        }
        outcome.changed = true;
        return true;
    });
    if (!outcome.changed)
        outcome.replacedIds.clear();
    return outcome;
}
