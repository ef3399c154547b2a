#include "http/HttpServer.h"

#include "http/ConnectionWatcher.h"
#include "http/FairQueue.h"
#include "http/HeadChecks.h"
#include "http/ListenSocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace {

const qint64 kInMemoryBody = 1024 * 1024;

using Clock = Watch::Clock;

} // namespace

struct HttpServer::Internals
{
    Handler handler;
    Admit admit;
    Options options;
    const AccessLog *log = nullptr;

    std::unique_ptr<FairQueue> jobs;
    std::unique_ptr<FairQueue> longJobs;
    ConnectionWatcher connections{options};

    // Requests whose head has arrived and whose end libmicrohttpd has not reported yet.
    std::mutex flightMutex;
    std::condition_variable flightDone;
    unsigned inFlight = 0;
    std::atomic<bool> draining{false};

    static Connection *connectionOf(MHD_Connection *connection)
    {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Connection *>(info->socket_context) : nullptr;
    }

    void enter(MHD_Connection *connection, Watch::Phase phase)
    {
        if (Connection *c = connectionOf(connection))
            connections.enter(c, phase);
        MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, connections.idleSeconds(phase));
    }
};

// Per-request state, created when the request line arrives and freed when MHD
// reports the request finished (completed, timed out or aborted).
struct HttpServer::Context
{
    Request request;
    Connection *watch = nullptr;
    bool started = false;
    qint64 limit = 0;
    qint64 received = 0;
    std::unique_ptr<QTemporaryFile> spool;
    uchar *mapped = nullptr;
    std::optional<Response> early;    // answer decided from the head; the body is discarded
    std::optional<Response> deferred; // result of deferred work, set before the connection resumes
    std::optional<Response> tooLarge; // the route's answer for a body past its limit
    QElapsedTimer clock;
    bool inFlight = false; // counted in Internals::inFlight
    bool secure = false;   // the client reached us over TLS, ours or a trusted proxy's
};

namespace {

QByteArray peerAddress(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr *a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(a)->sin6_addr, text, sizeof text);
    QByteArray out(text);
    if (out.startsWith("::ffff:") && out.contains('.'))
        out = out.mid(7);
    return out;
}

void *onUri(void *cls, const char *uri, MHD_Connection *connection)
{
    auto *in = static_cast<HttpServer::Internals *>(cls);
    auto *context = new HttpServer::Context;
    context->clock.start();
    const QByteArray target(uri);
    const qsizetype q = target.indexOf('?');
    context->request.path = q < 0 ? target : target.left(q);
    context->request.query = q < 0 ? QByteArray() : target.mid(q + 1);
    if (Connection *c = HttpServer::Internals::connectionOf(connection)) {
        std::lock_guard lock(in->connections.mutex());
        c->began = true;
        delete c->pending;
        c->pending = context;
        c->head = connection;
        c->reader = std::this_thread::get_id();
        context->watch = c;
    }
    return context;
}

void onCompleted(void *cls, MHD_Connection *connection, void **contextSlot, MHD_RequestTerminationCode)
{
    auto *in = static_cast<HttpServer::Internals *>(cls);
    auto *context = static_cast<HttpServer::Context *>(*contextSlot);
    if (context && context->spool && context->mapped)
        context->spool->unmap(context->mapped);
    if (context && context->inFlight) {
        std::lock_guard lock(in->flightMutex);
        if (--in->inFlight == 0)
            in->flightDone.notify_all();
    }
    if (Connection *c = HttpServer::Internals::connectionOf(connection)) {
        {
            std::lock_guard lock(in->connections.mutex());
            if (c->pending == context) {
                c->pending = nullptr;
                c->head = nullptr;
            }
        }
        // A request that came through a proxy counted under its client until now.
        in->connections.releaseClient(c);
    }
    delete context;
    *contextSlot = nullptr;
    // A kept-alive connection has its next head to send within the deadline again.
    in->enter(connection, Watch::Head);
}

// GnuTLS tells of a TLS 1.3 key update from the client as "try again", and libmicrohttpd takes
// that for a drained socket: a request that came with it would wait for bytes that never come.
// Suspended and resumed, the connection is read again.
int onKeyUpdate(gnutls_session_t session, unsigned, unsigned, unsigned incoming, const gnutls_datum_t *)
{
    if (incoming) {
        auto *connection = static_cast<MHD_Connection *>(gnutls_session_get_ptr(session));
        MHD_suspend_connection(connection);
        MHD_resume_connection(connection);
    }
    return 0;
}

void onConnection(void *cls, MHD_Connection *connection, void **socketContext, MHD_ConnectionNotificationCode code)
{
    auto *in = static_cast<HttpServer::Internals *>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const int fd = info ? ::fcntl(info->connect_fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (fd < 0)
            return;
        auto *w = new Connection;
        w->fd = fd;
        w->since = Clock::now();
        w->peer = peerAddress(connection);
        w->proxied = in->options.trustedProxies.contains(w->peer);
        *socketContext = w;
        in->connections.admit(w);
        if (const MHD_ConnectionInfo *tls = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION))
            gnutls_handshake_set_hook_function(static_cast<gnutls_session_t>(tls->tls_session), GNUTLS_HANDSHAKE_KEY_UPDATE,
                                               GNUTLS_HOOK_PRE, &onKeyUpdate);
    } else if (auto *w = static_cast<Connection *>(*socketContext)) {
        if (in->options.tlsCertificate.isEmpty())
            HeadChecks::answerNotHttp(*w, Clock::now() < in->connections.deadline(*w));
        // Out of the watcher's sight from here, so nothing else reaches it.
        in->connections.forget(w);
        delete w->pending;
        delete w;
        *socketContext = nullptr;
    }
}

MHD_Result collectHeader(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *request = static_cast<Request *>(cls);
    request->headers.append(qMakePair(QByteArray(key).toLower(), QByteArray(value ? value : "")));
    return MHD_YES;
}

MHD_Result send(const HttpServer &server, HttpServer::Context &context, MHD_Connection *connection,
                const Response &answer)
{
    MHD_Response *response = nullptr;
    qint64 bytes = answer.body.size();
    if (answer.isFile()) {
        const QByteArray path = QFile::encodeName(answer.filePath);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            response = MHD_create_response_from_fd_at_offset64(static_cast<uint64_t>(answer.fileLength), fd,
                                                               static_cast<uint64_t>(answer.fileOffset));
        if (!response) {
            if (fd >= 0)
                ::close(fd);
            return send(server, context, connection, Response::text(404, "404 Not Found\n"));
        }
        bytes = answer.fileLength;
    } else {
        response = MHD_create_response_from_buffer(static_cast<size_t>(answer.body.size()),
                                                   const_cast<char *>(answer.body.constData()), MHD_RESPMEM_MUST_COPY);
    }
    if (!response)
        return MHD_NO;
    if (!answer.contentType.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.constData());
    for (const auto &h : answer.headers) {
        // Cookies given over TLS are never sent back in the clear.
        if (context.secure && h.first.compare("Set-Cookie", Qt::CaseInsensitive) == 0 &&
            !h.second.toLower().contains("; secure"))
            MHD_add_response_header(response, h.first.constData(), (h.second + "; Secure").constData());
        else
            MHD_add_response_header(response, h.first.constData(), h.second.constData());
    }
    // A server on its way down lets kept-alive clients go once answered.
    if (server.internals().draining && answer.header("Connection").isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    if (const auto *log = server.internals().log; log && *log)
        (*log)(context.request, answer.status, bytes, context.clock.elapsed());
    return result;
}

Response closing(Response answer)
{
    answer.addHeader("Connection", "close");
    return answer;
}

MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *, const char *method, const char *,
                     const char *uploadData, size_t *uploadSize, void **contextSlot)
{
    const auto &server = *static_cast<const HttpServer *>(cls);
    HttpServer::Internals &in = server.internals();
    auto *context = static_cast<HttpServer::Context *>(*contextSlot);
    if (!context)
        return MHD_NO;
    Request &request = context->request;

    if (context->deferred)
        return send(server, *context, connection, *context->deferred);

    if (!context->started) {
        context->started = true;
        in.enter(connection, Watch::Body);
        request.method = method;
        request.peer = peerAddress(connection);
        MHD_get_connection_values(connection, MHD_HEADER_KIND, collectHeader, &request);
        if (Connection *c = context->watch) {
            std::lock_guard lock(in.connections.mutex());
            c->pending = nullptr; // from here libmicrohttpd reports the request's end
            c->head = nullptr;
        }
        {
            std::lock_guard lock(in.flightMutex);
            ++in.inFlight;
            context->inFlight = true;
        }
        context->secure = !in.options.tlsCertificate.isEmpty();
        request.secure = context->secure;
        if (HeadChecks::spacedName(request))
            return send(server, *context, connection, closing(Response::text(400, "400 Bad Request: header name\n")));
        if (HeadChecks::ambiguousLength(request))
            return send(server, *context, connection, closing(Response::text(400, "400 Bad Request: body length\n")));
        if (in.options.trustedProxies.contains(request.peer)) {
            // The client is the last address the proxy names; anything else is not taken.
            QByteArray forwarded;
            for (const auto &[name, value] : request.headers) {
                if (name == "x-forwarded-for")
                    forwarded = value;
            }
            const QByteArray client = canonicalAddress(forwarded.mid(forwarded.lastIndexOf(',') + 1));
            context->secure = context->secure || request.header("x-forwarded-proto").trimmed().toLower() == "https";
            request.secure = context->secure;
            if (!client.isEmpty())
                request.peer = client;
            bool held = true;
            if (Connection *c = context->watch)
                held = in.connections.holdClient(c, request.peer);
            if (!held) {
                Response busy = closing(Response::text(503, "503 Service Unavailable: too many connections\n"));
                busy.addHeader("Retry-After", "5");
                return send(server, *context, connection, busy);
            }
        }
        Admission admission = in.admit(request);
        context->early = std::move(admission.early);
        context->limit = context->early ? in.options.discardLimit : admission.bodyLimit;
        context->tooLarge = std::move(admission.tooLarge);
        bool ok = false;
        const qint64 declared = request.header("content-length").toLongLong(&ok);
        if (ok && declared > 0 && (context->early || declared > context->limit)) {
            // Refused before a byte of the body is read, and the connection ends with the
            // answer. What the client goes on sending is read and dropped for a while after
            // it, so a client that reads only once it has sent everything still gets it.
            if (context->watch)
                in.connections.linger(context->watch);
            return send(server, *context, connection,
                        closing(context->early ? *context->early : Response::text(413, "413 Content Too Large\n")));
        }
        return MHD_YES;
    }

    if (*uploadSize > 0) {
        const qint64 size = static_cast<qint64>(*uploadSize);
        *uploadSize = 0;
        context->received += size;
        if (context->watch)
            context->watch->received += size;
        // A body without a declared length that grows past the limit is read to its end and
        // thrown away, and then refused like a declared one; past the discard limit too, the
        // connection is dropped.
        if (context->received > context->limit) {
            if (context->early)
                return MHD_NO;
            context->early = closing(context->tooLarge ? *context->tooLarge : Response::text(413, "413 Content Too Large\n"));
            context->limit = in.options.discardLimit;
            context->spool.reset();
            request.body.clear();
        }
        if (context->early)
            return MHD_YES;
        if (!context->spool && request.body.size() + size > kInMemoryBody) {
            QDir().mkpath(in.options.spoolDir);
            context->spool = std::make_unique<QTemporaryFile>(
                QDir(in.options.spoolDir).filePath(QStringLiteral("upload-XXXXXX")));
            if (!context->spool->open() || context->spool->write(request.body) != request.body.size())
                return MHD_NO;
            request.body.clear();
        }
        if (context->spool) {
            if (context->spool->write(uploadData, size) != size)
                return MHD_NO;
        } else {
            request.body.append(uploadData, size);
        }
        return MHD_YES;
    }

    in.enter(connection, Watch::Answer);
    if (context->early)
        return send(server, *context, connection, *context->early);
    if (context->spool) {
        context->spool->flush();
        const qint64 size = context->spool->size();
        context->mapped = context->spool->map(0, size);
        if (!context->mapped)
            return send(server, *context, connection, Response::text(500, "500 Internal Server Error\n"));
        request.body = QByteArray::fromRawData(reinterpret_cast<const char *>(context->mapped), size);
    }
    Response answer = in.handler(request);
    if (answer.deferred) {
        // Suspended first: the job may finish and resume the connection before we return.
        MHD_suspend_connection(connection);
        auto work = std::move(answer.deferred);
        auto turnedAway = std::move(answer.turnedAway);
        const Response busy = answer;
        FairQueue &queue = answer.deferredLong ? *in.longJobs : *in.jobs;
        if (queue.push(clientGroup(request.peer),
                       {[context, connection, work] {
                            context->deferred = work();
                            MHD_resume_connection(connection);
                        },
                        [context, connection, busy, turnedAway] {
                            if (turnedAway)
                                turnedAway();
                            context->deferred = busy;
                            MHD_resume_connection(connection);
                        },
                        answer.deferredCanWait, answer.deferredRank}))
            return MHD_YES;
        MHD_resume_connection(connection);
        if (turnedAway)
            turnedAway();
    }
    return send(server, *context, connection, answer);
}

} // namespace

HttpServer::HttpServer(Handler handler, Admit admit, Options options) : m_internals(std::make_unique<Internals>())
{
    m_internals->handler = std::move(handler);
    m_internals->admit = std::move(admit);
    m_internals->options = std::move(options);
    m_internals->log = &m_log;
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::secure() const
{
    return !m_internals->options.tlsCertificate.isEmpty();
}

bool HttpServer::start(const QString &address, quint16 port, QString *error)
{
    Internals &in = *m_internals;
    const Options &o = in.options;
    if (secure() && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        *error = QStringLiteral("此 libmicrohttpd 不支持 TLS / this libmicrohttpd was built without TLS");
        return false;
    }
    bool ipv6 = false;
    const int fd = ListenSocket::open(address, port, &m_port, &ipv6, error);
    if (fd < 0)
        return false;

    in.jobs = std::make_unique<FairQueue>(o.slowQueue);
    in.jobs->start(std::max(1u, o.slowThreads));
    in.longJobs = std::make_unique<FairQueue>(o.longQueue);
    in.longJobs->start(std::max(1u, o.longThreads));
    in.connections.start();
    in.draining = false;

    const auto callback = [](auto function) { return reinterpret_cast<intptr_t>(function); };
    // The logger first, so that libmicrohttpd prints nothing of its own.
    std::vector<MHD_OptionItem> items = {
        {MHD_OPTION_EXTERNAL_LOGGER,
         secure() ? callback(&HeadChecks::onTlsLibraryMessage) : callback(&HeadChecks::onLibraryMessage), &in.connections},
        {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, std::max(1u, o.threads), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, o.connectionLimit, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, o.headSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 * 1024, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, callback(&onUri), &in},
        {MHD_OPTION_NOTIFY_COMPLETED, callback(&onCompleted), &in},
        {MHD_OPTION_NOTIFY_CONNECTION, callback(&onConnection), &in},
    };
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG |
                     (ipv6 ? MHD_USE_IPv6 : 0);
    if (!secure()) {
        flags |= MHD_USE_TURBO;
    } else {
        // Never "turbo" over TLS: closing a connection then leaves its TLS session in the handshake,
        // and libmicrohttpd never frees a closed connection whose handshake has not ended (a core
        // spins on it for ever, its socket open). Without turbo, closing ends the session first.
        flags |= MHD_USE_TLS;
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(o.tlsKey.constData())});
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(o.tlsCertificate.constData())});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon =
        MHD_start_daemon(flags, 0, nullptr, nullptr, &onRequest, this, MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
    if (!m_daemon) {
        ::close(fd);
        stop();
        *error = secure() ? QStringLiteral("HTTPS 服务启动失败，请检查证书和私钥 / the HTTPS service failed to start: "
                                           "check the certificate and its key")
                          : QStringLiteral("HTTP 服务启动失败 / the HTTP service failed to start");
        return false;
    }
    // From here on the daemon owns the socket and closes it when stopped.
    m_listenFd = fd;
    return true;
}

void HttpServer::stop()
{
    Internals &in = *m_internals;
    if (m_daemon) {
        // New connections wait unanswered, as at a full queue, until the socket closes below:
        // every packet to the listening socket is dropped from now. (libmicrohttpd's own way of
        // stopping to listen races its threads taking the socket out of their event sets when at
        // the connection limit, and aborts the process when it loses.)
        in.draining = true;
        sock_filter dropAll = BPF_STMT(BPF_RET | BPF_K, 0);
        const sock_fprog program{1, &dropAll};
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
        std::unique_lock lock(in.flightMutex);
        in.flightDone.wait_for(lock, std::chrono::seconds(in.options.drainSeconds), [&] { return in.inFlight == 0; });
    }
    // The queued jobs finish first, so no connection stays suspended.
    if (in.jobs)
        in.jobs->stop();
    if (in.longJobs)
        in.longJobs->stop();
    in.connections.stop();
    if (m_daemon) {
        MHD_stop_daemon(m_daemon); // closes the listening socket
        m_daemon = nullptr;
        m_listenFd = -1;
    }
}
