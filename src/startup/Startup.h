#pragma once

#include "startup/AppContext.h"

#include <QDateTime>

class Prompter;

// The non-visual steps of the start routine, in order: open the library, settle the download
// folder, empty the server information and obtain the machine identifier. A failure is shown
// through the prompter and leaves a non-zero exit status in *exitCode.
bool PrepareStartup(AppContext &ctx, Prompter &prompter, int *exitCode);

// The server-info address with every blank removed.
QString ServerInfoUrl(const QString &serverBaseUrl, const QString &machineId,
                      const QDateTime &when = QDateTime::currentDateTime());
