#pragma once

#include "store/StoreCatalogue.h"

#include <QList>
#include <QString>

class Store;

// What a user has sent that still weighs on the server.
struct UploadUsage
{
    int pending = 0; // awaiting review
    qint64 pendingBytes = 0;
    int lastHour = 0; // uploads since the time asked about
};

struct ReviewOutcome
{
    bool found = false;
    bool changed = false;
    QList<qint64> replacedIds; // older copies of the same book withdrawn by an approval
};

// Upload accounting: what each user has waiting, the host's review of uploads and the coins
// an approval pays.
class StoreUploads
{
public:
    explicit StoreUploads(Store &store) : m_store(store) {}
    StoreUploads(const StoreUploads &) = delete;
    StoreUploads &operator=(const StoreUploads &) = delete;

    // since is a time in the database's text form (storeTime).
    UploadUsage usage(qint64 userId, const QString &since);
    QList<BookRow> pendingBooks();
    ReviewOutcome review(qint64 id, Review verdict, int newBookCoins, int updateCoins);

private:
    Store &m_store;
};
