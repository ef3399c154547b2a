#pragma once

#include "HttpTypes.h"

#include <QString>

#include <functional>

struct MHD_Daemon;

// Thin transport over libmicrohttpd: a pool of threads, each running the handler for its
// own connections. Bodies are collected (spooled to disk beyond a small size) before the
// handler runs; file answers are streamed from the file descriptor.
class HttpServer
{
public:
    using Handler = std::function<Response(const Request &)>;
    using BodyLimit = std::function<qint64(QByteArrayView method, QByteArrayView rawPath)>;

    struct Options
    {
        unsigned threads = 4;
        unsigned connectionLimit = 1000;
        unsigned timeoutSeconds = 60;
        QString spoolDir; // large bodies are written here while they arrive
    };

    HttpServer(Handler handler, BodyLimit bodyLimit, Options options);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds address:port (port 0 picks a free one) and starts serving.
    bool start(const QString &address, quint16 port, QString *error);
    void stop();
    quint16 port() const { return m_port; }

    // Used from libmicrohttpd's callbacks on the pool threads.
    struct Context;
    Response handle(const Request &request) const { return m_handler(request); }
    qint64 bodyLimit(QByteArrayView method, QByteArrayView rawPath) const { return m_bodyLimit(method, rawPath); }
    const QString &spoolDir() const { return m_options.spoolDir; }

private:
    Handler m_handler;
    BodyLimit m_bodyLimit;
    Options m_options;
    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
};
