#pragma once

#include "startup/AppContext.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

class Prompter;
class QNetworkAccessManager;

// What the start routine does after the server-info check.
enum class StartDecision
{
    GoOn,
    EndProgram
};

// Reads a server-info answer into info, element by element in the fixed order
// (reader_1..reader_4, version, mustdown, verinfo, downloadlist, savepathlist). False when
// the answer is refused (status other than 200/206, a bare text/html type, not XML, no
// infobase) or an element is missing; values read before a missing one are kept.
bool ReadServerInfoAnswer(int status, const QString &contentType, const QByteArray &body, ServerInfo &info);

// The address the server page pane may show for reader_1: only an http or https page of the
// catalogue server itself (the same scheme, host and port). Empty, and the pane stays hidden, for
// anything else: a local file, another host or port, a blank value.
QUrl ServerPageUrl(const QString &reader1, const QString &serverBaseUrl);

// Asks about the update the answer announces. startUpdater runs on Yes and tells whether the
// updater could be started; when it could not, a message names the updater's file before the
// program ends. A required update ends the program whatever the answer; an optional one ends
// it only after Yes.
StartDecision OfferUpdate(const ServerInfo &info, Prompter &prompter, const std::function<bool()> &startUpdater);

// Starts "update" beside the executable with the argument "-v1.2", without waiting for it.
bool StartUpdater();

struct ServerInfoCheckOptions
{
    int timeoutMs = 5000;
    QNetworkAccessManager *manager = nullptr; // the shared one when not set
    std::function<bool()> startUpdater = StartUpdater;
};

// The start routine's server contact, in one call: makes the shared network service keep its
// cookies in the program folder for the run, then runs the check below with the server-info
// address of ctx (blanks removed) and the configured time limit, filling ctx.serverInfo.
StartDecision ContactServerAtStart(AppContext &ctx, Prompter &prompter,
                                   const std::function<bool()> &startUpdater = StartUpdater);

// The whole start-up check: fetches address (waiting at most timeoutMs, so a dead server
// never holds up the start), fills info, and offers the update. Failures are silent.
StartDecision RunServerInfoCheck(const QString &address, ServerInfo &info, Prompter &prompter,
                                 const ServerInfoCheckOptions &options = {});
