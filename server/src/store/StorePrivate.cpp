#include "store/StorePrivate.h"

#include "store/BookPrint.h"

#include "store/Store.h"
#include "store/StoreSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlQuery>
#include <QVariant>

#include <unistd.h>

using namespace StoreSupport;

namespace {

const QString kColumns = QStringLiteral("id, userid, fingerprint, name, author, filesize, created");

PrivateCopy copyFrom(const QSqlQuery &q)
{
    return {q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(), q.value(3).toString(),
            q.value(4).toString(),   q.value(5).toLongLong(), q.value(6).toString(), {}};
}

} // namespace

std::optional<QList<PrivateCopy>> StorePrivate::list(qint64 userId)
{
    QSqlQuery &q = m_store.prepared(
        QStringLiteral("SELECT %1 FROM private_copies WHERE userid = ? ORDER BY id DESC").arg(kColumns));
    q.addBindValue(userId);
    if (!m_store.exec(q))
        return std::nullopt;
    QList<PrivateCopy> out;
    while (q.next())
        out.append(copyFrom(q));
    q.finish();
    return out;
}

std::optional<PrivateCopy> StorePrivate::one(const QString &where, const QVariant &first, const QVariant &second)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT %1 FROM private_copies WHERE %2").arg(kColumns, where));
    q.addBindValue(first);
    q.addBindValue(second);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    const PrivateCopy c = copyFrom(q);
    q.finish();
    return c;
}

std::optional<PrivateCopy> StorePrivate::copy(qint64 userId, qint64 id)
{
    return one(QStringLiteral("id = ? AND userid = ?"), id, userId);
}

std::optional<PrivateCopy> StorePrivate::byFingerprint(qint64 userId, const QString &fingerprint)
{
    return one(QStringLiteral("userid = ? AND fingerprint = ?"), userId, fingerprint);
}

qint64 StorePrivate::used(qint64 userId)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("SELECT coalesce(sum(filesize), 0) FROM private_copies WHERE userid = ?"));
    q.addBindValue(userId);
    if (!m_store.exec(q) || !q.next())
        return -1;
    const qint64 bytes = q.value(0).toLongLong();
    q.finish();
    return bytes;
}

bool StorePrivate::anyHolds(const QString &fingerprint, bool *ok)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT count(*) FROM private_copies WHERE fingerprint = ?"));
    q.addBindValue(fingerprint);
    *ok = m_store.exec(q) && q.next();
    const bool held = *ok && q.value(0).toLongLong() > 0;
    q.finish();
    return held;
}

qint64 StorePrivate::keep(const PrivateCopy &c, qint64 quota)
{
    qint64 id = 0;
    m_store.transaction([&] {
        if (const auto held = byFingerprint(c.userId, c.fingerprint)) {
            QSqlQuery &set =
                m_store.prepared(QStringLiteral("UPDATE private_copies SET name = ?, author = ? WHERE id = ?"));
            set.addBindValue(notNull(c.name));
            set.addBindValue(notNull(c.author));
            set.addBindValue(held->id);
            if (!m_store.exec(set))
                return false;
            id = held->id;
            return true;
        }
        const qint64 bytes = used(c.userId);
        if (bytes < 0)
            return false;
        if (bytes + c.size > quota) {
            id = -1;
            return false;
        }
        QSqlQuery &add =
            m_store.prepared(QStringLiteral("INSERT INTO private_copies (userid, fingerprint, name, author, "
                                            "filesize, created) VALUES (?, ?, ?, ?, ?, ?)"));
        add.addBindValue(c.userId);
        add.addBindValue(c.fingerprint);
        add.addBindValue(notNull(c.name));
        add.addBindValue(notNull(c.author));
        add.addBindValue(c.size);
        add.addBindValue(notNull(c.created));
        if (!m_store.exec(add))
            return false;
        add.finish();
        const auto row = byFingerprint(c.userId, c.fingerprint);
        id = row ? row->id : 0;
        return id > 0;
    });
    return id;
}

bool StorePrivate::remove(qint64 userId, qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM private_copies WHERE id = ? AND userid = ?"));
    q.addBindValue(id);
    q.addBindValue(userId);
    return m_store.exec(q) && q.numRowsAffected() == 1;
}

QList<QPair<qint64, QString>> StorePrivate::booksOfSize(qint64 size, int limit)
{
    QList<QPair<qint64, QString>> out;
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT id, filename FROM books WHERE filesize = ? ORDER BY id"));
    q.addBindValue(size);
    if (!m_store.exec(q))
        return out;
    while (q.next() && out.size() < limit)
        out.append({q.value(0).toLongLong(), q.value(1).toString()});
    q.finish();
    return out;
}

namespace PrivateCopies {

namespace {

// A catalogue file holding exactly these bytes, or empty.
QString catalogueFileWith(Store &store, const QString &booksDir, QByteArrayView bytes)
{
    // Books of one size are few; more than these are not worth reading through.
    for (const auto &[id, fileName] : store.privateCopies().booksOfSize(bytes.size(), 8)) {
        QFile file(QDir(booksDir).filePath(QString::number(id) + u'/' + fileName));
        if (file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes)
            return file.fileName();
    }
    return {};
}

// Makes path hold bytes: a hard link to the catalogue's file when it has them, else a new file.
bool writeFile(Store &store, const QString &booksDir, const QString &path, QByteArrayView bytes)
{
    const QFileInfo info(path);
    if (info.isFile() && info.size() == bytes.size())
        return true; // another account's copy of the same fingerprint
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (const QString same = catalogueFileWith(store, booksDir, bytes); !same.isEmpty()) {
        const QString linked = path + QStringLiteral(".link");
        QFile::remove(linked);
        if (::link(QFile::encodeName(same).constData(), QFile::encodeName(linked).constData()) == 0 &&
            ::rename(QFile::encodeName(linked).constData(), QFile::encodeName(path).constData()) == 0)
            return true;
        QFile::remove(linked); // another disk: the bytes are written after all
    }
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes.data(), bytes.size()) == bytes.size() && out.commit();
}

} // namespace

bool plausibleFingerprint(const QString &fingerprint)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,15}:[0-9a-f]{40}$"));
    return form.match(fingerprint).hasMatch();
}

QString filePath(const QString &booksDir, const QString &fingerprint)
{
    const qsizetype colon = fingerprint.indexOf(u':');
    return QDir(booksDir).filePath(
        QStringLiteral("private/%1-%2/book.txt").arg(fingerprint.mid(colon + 1), fingerprint.left(colon)));
}

QList<PrivateCopy> listFor(Store &store, const QString &booksDir, qint64 userId, bool *ok)
{
    auto rows = store.privateCopies().list(userId);
    if (ok)
        *ok = rows.has_value();
    if (!rows)
        return {};
    for (PrivateCopy &c : *rows)
        c.filePath = filePath(booksDir, c.fingerprint);
    return *rows;
}

std::optional<PrivateCopy> readable(Store &store, const QString &booksDir, qint64 userId, qint64 copyId)
{
    auto c = copyId > 0 && userId > 0 ? store.privateCopies().copy(userId, copyId) : std::nullopt;
    if (!c || !plausibleFingerprint(c->fingerprint))
        return std::nullopt;
    c->filePath = filePath(booksDir, c->fingerprint);
    if (!QFileInfo(c->filePath).isFile())
        return std::nullopt;
    return c;
}

KeepOutcome keep(Store &store, const QString &booksDir, const PrivateCopy &copy, QByteArrayView bytes, qint64 quota)
{
    KeepOutcome out;
    StorePrivate &rows = store.privateCopies();
    const qint64 used = rows.used(copy.userId);
    if (used < 0)
        return out;
    const auto held = rows.byFingerprint(copy.userId, copy.fingerprint);
    if (!held && used + copy.size > quota) {
        out.result = KeepOutcome::OverQuota;
        out.used = used;
        return out;
    }
    bool ok = false;
    const bool shared = rows.anyHolds(copy.fingerprint, &ok);
    if (!ok)
        return out;
    // The row first: a removal of the last other copy racing with this one then leaves the file.
    out.id = rows.keep(copy, quota);
    if (out.id < 0) {
        out.result = KeepOutcome::OverQuota;
        out.used = used;
        out.id = 0;
        return out;
    }
    const QString path = filePath(booksDir, copy.fingerprint);
    if (out.id == 0 || !writeFile(store, booksDir, path, bytes)) {
        if (out.id > 0 && !held)
            rows.remove(copy.userId, out.id);
        out.id = 0;
        return out;
    }
    BookPrint::keep(path, copy.fingerprint);
    out.used = held ? used : used + copy.size;
    out.result = held ? KeepOutcome::Same : shared ? KeepOutcome::Shared : KeepOutcome::Stored;
    return out;
}

bool remove(Store &store, const QString &booksDir, qint64 userId, qint64 copyId)
{
    const auto c = store.privateCopies().copy(userId, copyId);
    if (!c || !store.privateCopies().remove(userId, copyId))
        return false;
    bool ok = false;
    if (!store.privateCopies().anyHolds(c->fingerprint, &ok) && ok && plausibleFingerprint(c->fingerprint))
        QDir(QFileInfo(filePath(booksDir, c->fingerprint)).absolutePath()).removeRecursively();
    return true;
}

} // namespace PrivateCopies
