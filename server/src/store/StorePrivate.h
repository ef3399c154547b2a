#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

class Store;

// A book a user keeps on the server for their own reading alone: never reviewed, never in the
// catalogue. Copies are known by the desktop's fingerprint of the file ("<size>:<sha1>"); the
// bytes of one fingerprint are kept once however many accounts hold them.
struct PrivateCopy
{
    qint64 id = 0;
    qint64 userId = 0;
    QString fingerprint;
    QString name;
    QString author;
    qint64 size = 0;
    QString created;  // the database's text form of a time
    QString filePath; // where its text lies; set by the PrivateCopies functions
};

// The rows of private copies, on both back ends alike. Files are PrivateCopies' business.
class StorePrivate
{
public:
    explicit StorePrivate(Store &store) : m_store(store) {}
    StorePrivate(const StorePrivate &) = delete;
    StorePrivate &operator=(const StorePrivate &) = delete;

    // The user's copies, newest first; nullopt when the database failed.
    std::optional<QList<PrivateCopy>> list(qint64 userId);
    // The copy with this id when it is the user's.
    std::optional<PrivateCopy> copy(qint64 userId, qint64 id);
    std::optional<PrivateCopy> byFingerprint(qint64 userId, const QString &fingerprint);
    // Bytes of the user's copies; -1 when the database failed.
    qint64 used(qint64 userId);
    // Whether any account holds this fingerprint.
    bool anyHolds(const QString &fingerprint, bool *ok);
    // Adds the copy, or renames the user's copy of the same fingerprint; its id, 0 on failure,
    // -1 when a new copy would take the user's copies past quota bytes (checked in the same
    // transaction as the insert).
    qint64 keep(const PrivateCopy &copy, qint64 quota);
    bool remove(qint64 userId, qint64 id);
    // A catalogue book of exactly this size, to compare the bytes with: (id, file name) pairs.
    QList<QPair<qint64, QString>> booksOfSize(qint64 size, int limit);

private:
    // The copy the condition (with its two values bound) selects.
    std::optional<PrivateCopy> one(const QString &where, const QVariant &first, const QVariant &second);
    Store &m_store;
};

// Private copies with their files: kept under <books>/private/<sha1>-<size>/book.txt.
namespace PrivateCopies {

// "<size>:<40 hex digits>", as the desktop writes it; anything else is refused.
bool plausibleFingerprint(const QString &fingerprint);
// The file of a fingerprint (plausible ones only).
QString filePath(const QString &booksDir, const QString &fingerprint);

// The account's private copies with their files (id, title, author, fingerprint, path), newest
// first; empty when the database failed (ok tells).
QList<PrivateCopy> listFor(Store &store, const QString &booksDir, qint64 userId, bool *ok = nullptr);
// The copy when userId may read it (it is theirs and its file is there); nullopt for anybody
// else's copy, exactly as for one that does not exist.
std::optional<PrivateCopy> readable(Store &store, const QString &booksDir, qint64 userId, qint64 copyId);

struct KeepOutcome
{
    enum Result
    {
        Stored,
        Shared,
        Same,
        OverQuota,
        Failed
    };
    Result result = Failed;
    qint64 id = 0;
    qint64 used = 0; // the account's bytes afterwards
};
// Keeps bytes (whose fingerprint the caller checked) as the user's copy. The bytes are written
// only when no file of the server holds them already: another private copy's file is simply
// shared, a catalogue book's is linked. The copy counts its size against quota.
KeepOutcome keep(Store &store, const QString &booksDir, const PrivateCopy &copy, QByteArrayView bytes, qint64 quota);
// Removes the user's copy; its file goes with the last copy that shares it.
bool remove(Store &store, const QString &booksDir, qint64 userId, qint64 copyId);

} // namespace PrivateCopies
