#pragma once

#include <QString>
#include <QStringList>

// The server's listening socket and the addresses it can be reached at.
namespace ListenSocket {

// A socket bound to address:port (port 0 picks a free one) and listening, or -1 with error
// set; boundPort is the port it got and ipv6 tells its family.
int open(const QString &address, quint16 port, quint16 *boundPort, bool *ipv6, QString *error);

// Addresses clients can reach a server bound to address at: every non-loopback interface
// address for a wildcard, otherwise address itself.
QStringList reachableAddresses(const QString &address);

} // namespace ListenSocket
