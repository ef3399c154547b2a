#include "http/HeadChecks.h"

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace HeadChecks {

namespace {

void sendRaw(int fd, QByteArrayView answer)
{
    ::send(fd, answer.data(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// A closing plain-text answer.
QByteArray answerOf(QByteArrayView status, QByteArrayView text)
{
    return "HTTP/1.1 " + status.toByteArray() +
           "\r\nConnection: close\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(text.size()) +
           "\r\n\r\n" + text.toByteArray();
}

// What libmicrohttpd reads as a length: digits only, within 64 bits.
bool readableLength(const char *value)
{
    const size_t n = std::strlen(value);
    if (n == 0 || !std::all_of(value, value + n, [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const char *digits = value + std::min(std::strspn(value, "0"), n - 1);
    const size_t significant = std::strlen(digits);
    return significant < 20 || (significant == 20 && std::strcmp(digits, "18446744073709551615") <= 0);
}

} // namespace

bool spacedName(const Request &request)
{
    return std::any_of(request.headers.begin(), request.headers.end(),
                       [](const auto &h) { return h.first.contains(' ') || h.first.contains('\t'); });
}

bool ambiguousLength(const Request &request)
{
    QByteArray length;
    bool chunked = false;
    for (const auto &[name, value] : request.headers) {
        if (name == "transfer-encoding")
            chunked = true;
        if (name != "content-length")
            continue;
        for (const QByteArray &part : value.split(',')) {
            if (!length.isEmpty() && part.trimmed() != length)
                return true;
            length = part.trimmed();
        }
    }
    return chunked && !length.isEmpty();
}

void answerNotHttp(const Connection &c, bool beforeDeadline)
{
    tcp_info tcp{};
    socklen_t size = sizeof tcp;
    if (!c.began && !c.cut && !c.answered && c.phase == Watch::Head && beforeDeadline &&
        ::getsockopt(c.fd, IPPROTO_TCP, TCP_INFO, &tcp, &size) == 0 && tcp.tcpi_bytes_received > 0 &&
        size > offsetof(tcp_info, tcpi_bytes_sent) && tcp.tcpi_bytes_sent == 0)
        sendRaw(c.fd, answerOf("400 Bad Request", "400 Bad Request: not HTTP\n"));
}

namespace {

void refuseUnreadableLength(ConnectionWatcher *watcher, bool tls, const char *format)
{
    const bool tooLarge = std::strncmp(format, "Too large value of 'Content-Length'", 35) == 0;
    if (!tooLarge && std::strncmp(format, "Failed to parse `Content-Length'", 32) != 0)
        return;
    // The head being read on this thread right now is one whose handler has not started and
    // whose length libmicrohttpd cannot read; another such one would be refused alike anyway.
    watcher->visit([tooLarge, tls](Watch *w) {
        auto *c = static_cast<Connection *>(w);
        if (!c->pending || !c->head || c->reader != std::this_thread::get_id() || c->cut || c->answered)
            return;
        const char *length = MHD_lookup_connection_value(c->head, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (!length || readableLength(length))
            return;
        const QByteArray answer = tooLarge ? answerOf("413 Content Too Large", "413 Content Too Large\n")
                                           : answerOf("400 Bad Request", "400 Bad Request: body length\n");
        if (!tls) {
            sendRaw(c->fd, answer);
        } else if (const MHD_ConnectionInfo *info =
                       MHD_get_connection_info(c->head, MHD_CONNECTION_INFO_GNUTLS_SESSION)) {
            // libmicrohttpd is not inside the session now: it is reading the head on this thread.
            gnutls_record_send(static_cast<gnutls_session_t>(info->tls_session), answer.constData(),
                               static_cast<size_t>(answer.size()));
        }
        ::shutdown(c->fd, SHUT_WR);
        c->answered = true;
        c->linger = true; // what the client still sends is read and dropped, so the answer is not reset
    });
}

} // namespace

void onLibraryMessage(void *cls, const char *format, va_list)
{
    refuseUnreadableLength(static_cast<ConnectionWatcher *>(cls), false, format);
}

void onTlsLibraryMessage(void *cls, const char *format, va_list)
{
    refuseUnreadableLength(static_cast<ConnectionWatcher *>(cls), true, format);
}

} // namespace HeadChecks
