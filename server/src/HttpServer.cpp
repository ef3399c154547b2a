#include "HttpServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

const qint64 kInMemoryBody = 1024 * 1024;

} // namespace

// Per-request state, created when the request line arrives and freed when MHD
// reports the request finished (completed, timed out or aborted).
struct HttpServer::Context
{
    Request request;
    bool started = false;
    bool tooLarge = false;
    qint64 limit = 0;
    qint64 received = 0;
    std::unique_ptr<QTemporaryFile> spool;
    uchar *mapped = nullptr;
};

namespace {

void *onUri(void *, const char *uri, MHD_Connection *)
{
    auto *context = new HttpServer::Context;
    const QByteArray target(uri);
    const qsizetype q = target.indexOf('?');
    context->request.path = q < 0 ? target : target.left(q);
    context->request.query = q < 0 ? QByteArray() : target.mid(q + 1);
    return context;
}

void onCompleted(void *, MHD_Connection *, void **contextSlot, MHD_RequestTerminationCode)
{
    auto *context = static_cast<HttpServer::Context *>(*contextSlot);
    if (context && context->spool && context->mapped)
        context->spool->unmap(context->mapped);
    delete context;
    *contextSlot = nullptr;
}

MHD_Result collectHeader(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *request = static_cast<Request *>(cls);
    request->headers.append(qMakePair(QByteArray(key).toLower(), QByteArray(value ? value : "")));
    return MHD_YES;
}

MHD_Result send(MHD_Connection *connection, const Response &answer)
{
    MHD_Response *response = nullptr;
    if (answer.isFile()) {
        const QByteArray path = QFile::encodeName(answer.filePath);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            response = MHD_create_response_from_fd_at_offset64(static_cast<uint64_t>(answer.fileLength), fd,
                                                               static_cast<uint64_t>(answer.fileOffset));
        if (!response) {
            if (fd >= 0)
                ::close(fd);
            return send(connection, Response::text(404, "404 Not Found\n"));
        }
    } else {
        response = MHD_create_response_from_buffer(static_cast<size_t>(answer.body.size()),
                                                   const_cast<char *>(answer.body.constData()), MHD_RESPMEM_MUST_COPY);
    }
    if (!response)
        return MHD_NO;
    if (!answer.contentType.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.constData());
    for (const auto &h : answer.headers)
        MHD_add_response_header(response, h.first.constData(), h.second.constData());
    const MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *, const char *method, const char *,
                     const char *uploadData, size_t *uploadSize, void **contextSlot)
{
    const auto *server = static_cast<const HttpServer *>(cls);
    auto *context = static_cast<HttpServer::Context *>(*contextSlot);
    if (!context)
        return MHD_NO;
    Request &request = context->request;

    if (!context->started) {
        context->started = true;
        request.method = method;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, collectHeader, &request);
        context->limit = server->bodyLimit(request.method, request.path);
        const QByteArray declared = request.header("content-length");
        bool ok = false;
        if (!declared.isEmpty() && declared.toLongLong(&ok) > context->limit && ok) {
            // Refused before a byte of the body is read; MHD closes the connection after it.
            return send(connection, Response::text(413, "413 Content Too Large\n"));
        }
        return MHD_YES;
    }

    if (*uploadSize > 0) {
        const qint64 size = static_cast<qint64>(*uploadSize);
        *uploadSize = 0;
        context->received += size;
        // A body without a declared length that grows past the limit: drop the connection.
        if (context->received > context->limit)
            return MHD_NO;
        if (!context->spool && request.body.size() + size > kInMemoryBody) {
            QDir().mkpath(server->spoolDir());
            context->spool =
                std::make_unique<QTemporaryFile>(QDir(server->spoolDir()).filePath(QStringLiteral("upload-XXXXXX")));
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

    if (context->spool) {
        context->spool->flush();
        const qint64 size = context->spool->size();
        context->mapped = context->spool->map(0, size);
        if (!context->mapped)
            return send(connection, Response::text(500, "500 Internal Server Error\n"));
        request.body = QByteArray::fromRawData(reinterpret_cast<const char *>(context->mapped), size);
    }
    return send(connection, server->handle(request));
}

} // namespace

HttpServer::HttpServer(Handler handler, BodyLimit bodyLimit, Options options)
    : m_handler(std::move(handler)), m_bodyLimit(std::move(bodyLimit)), m_options(std::move(options))
{}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(const QString &address, quint16 port, QString *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray host = address.toLatin1();
    const QByteArray service = QByteArray::number(port);
    if (getaddrinfo(host.constData(), service.constData(), &hints, &found) != 0 || !found) {
        *error = QStringLiteral("无效的监听地址 / invalid bind address: %1").arg(address);
        return false;
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
        *error =
            QStringLiteral("无法创建套接字 / cannot create socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        freeaddrinfo(found);
        return false;
    }
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 512) != 0) {
        const int code = errno;
        freeaddrinfo(found);
        ::close(fd);
        if (code == EADDRINUSE)
            *error = QStringLiteral("端口 %1 已被占用 / port %1 is already in use").arg(port);
        else
            *error = QStringLiteral("无法监听 %1:%2 / cannot listen: %3")
                         .arg(address)
                         .arg(port)
                         .arg(QString::fromLocal8Bit(strerror(code)));
        return false;
    }
    freeaddrinfo(found);

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_TURBO |
                           (bound.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &onRequest, this, MHD_OPTION_LISTEN_SOCKET, fd,
                                MHD_OPTION_THREAD_POOL_SIZE, std::max(1u, m_options.threads),
                                MHD_OPTION_CONNECTION_LIMIT, m_options.connectionLimit, MHD_OPTION_CONNECTION_TIMEOUT,
                                m_options.timeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                                static_cast<size_t>(64 * 1024), MHD_OPTION_URI_LOG_CALLBACK, &onUri, nullptr,
                                MHD_OPTION_NOTIFY_COMPLETED, &onCompleted, nullptr, MHD_OPTION_END);
    if (!m_daemon) {
        ::close(fd);
        *error = QStringLiteral("HTTP 服务启动失败 / the HTTP service failed to start");
        return false;
    }
    // From here on the daemon owns the socket and closes it when stopped.
    return true;
}

void HttpServer::stop()
{
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}
