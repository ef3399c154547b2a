#pragma once

#include <QString>

// A command started as root on a data folder that belongs to another user (the packaged
// service's /var/lib/folioway belongs to "folioway") takes that user's rights before it writes
// anything, so every file it makes stays readable to the service.
namespace RunAsOwner {

enum class Outcome { Unchanged, Switched, Failed };

Outcome adopt(const QString &dataDir, QString *message);

} // namespace RunAsOwner
