#pragma once

#include "http/ConnectionWatcher.h"
#include "http/HttpTypes.h"

#include <cstdarg>
#include <thread>

struct MHD_Connection;

// The watch with what request assembly keeps per connection, under the watcher's lock.
struct Connection : Watch
{
    bool began = false; // a request line was recognised on this connection
    // Made for a request line and owned here until the handler first sees it: libmicrohttpd
    // reports no end for a request whose head never completed.
    HttpServer::Context *pending = nullptr;
    // While pending: the connection and the pool thread that reads its head.
    MHD_Connection *head = nullptr;
    std::thread::id reader;
    bool answered = false; // refused by us straight on the socket
};

// The framing of a request head where libmicrohttpd leaves the check to us, or answers wrongly
// or not at all; then the answer goes out around it, through the watcher's duplicate of the
// socket (on the TLS port: through the connection's TLS session).
namespace HeadChecks {

// White space before a header's colon: a proxy in front may read another header (RFC 9112).
bool spacedName(const Request &request);
// The body length is told in two ways, or twice differently: whatever sits behind it could
// be read as a request of its own.
bool ambiguousLength(const Request &request);
// The connection closes and libmicrohttpd said nothing: its first line was not a request line.
// Only before any request was recognised and while nothing was answered, so no answer can be
// mistaken for another's; plain port only.
void answerNotHttp(const Connection &c, bool beforeDeadline);
// libmicrohttpd's messages (cls: the ConnectionWatcher). A Content-Length it cannot read gets
// its error head twice from it; the client gets one answer from us first and the connection
// ends, so what libmicrohttpd writes after it goes nowhere.
void onLibraryMessage(void *cls, const char *format, va_list);
void onTlsLibraryMessage(void *cls, const char *format, va_list);

} // namespace HeadChecks
