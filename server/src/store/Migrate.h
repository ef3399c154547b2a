#pragma once

#include <QString>

class Store;

namespace Migrate {

struct Counts
{
    qint64 users = 0;
    qint64 books = 0;
    qint64 sessions = 0;
    qint64 other = 0; // login throttle and promotion-visit rows
};

// Copies every table of one catalogue into another whose tables are still empty, ids
// unchanged, in one transaction of the target. False with error set when the target
// holds users or books already, or on any failure (the target then stays as it was).
bool copyCatalogue(Store &from, Store &to, Counts *counts, QString *error);

} // namespace Migrate
