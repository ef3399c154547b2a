#pragma once

#include "http/HttpTypes.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct MHD_Daemon;

// Thin transport over libmicrohttpd: a pool of threads, each running the handler for its
// own connections. Bodies are collected (spooled to disk beyond a small size) before the
// handler runs; file answers are streamed from the file descriptor. Slow clients are
// bounded per address, by a deadline for the request head and a deadline and minimum rate
// for the body, and connections still receiving their request never take the last quarter
// of the connections (ConnectionWatcher keeps these accounts); slow handlers' work runs on a
// small queue of its own so it never holds the pool threads. Requests that give their body
// length in two ways are refused. Given a certificate and key, the port speaks HTTPS only.
// Stopping lets the requests already in flight finish first.
class HttpServer
{
public:
    using Handler = std::function<Response(const Request &)>;
    using Admit = std::function<Admission(const Request &head)>;
    // One call per answered request: the request (without its body), status, bytes, milliseconds.
    using AccessLog = std::function<void(const Request &, int status, qint64 bytes, qint64 ms)>;

    struct Options
    {
        unsigned threads = 4;
        unsigned connectionLimit = 4000;
        unsigned perAddressLimit = 32;
        unsigned headSeconds = 10;  // the whole request head must arrive within this
        unsigned bodySeconds = 20;  // the body must arrive within this, plus a second for every
        unsigned bodyRate = 500;    // this many bytes received
        unsigned slowThreads = 1;   // threads for deferred work
        // Deferred jobs waiting at most; more get the busy answer. Each client address (IPv6:
        // its /64) is served in turn, and a full queue takes a place from the client with the
        // most jobs waiting for one with fewer.
        unsigned slowQueue = 16;
        unsigned longThreads = 1; // threads for long deferred work (deferredLong), and
        unsigned longQueue = 64;  // such jobs waiting at most
        qint64 discardLimit = 1024ll * 1024 * 1024; // larger bodies of refused requests are cut off
        QString spoolDir;           // large bodies are written here while they arrive
        // Requests from these addresses come through a proxy of ours: the client is the last
        // address of their X-Forwarded-For.
        QList<QByteArray> trustedProxies;
        // PEM text of the certificate (its chain after it) and of its key; both set: HTTPS.
        QByteArray tlsCertificate;
        QByteArray tlsKey;
        unsigned drainSeconds = 30;  // what stop() gives the requests in flight, at most
        unsigned lingerSeconds = 30; // a body refused from its head is drained this long, at most
    };

    HttpServer(Handler handler, Admit admit, Options options);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    void setAccessLog(AccessLog log) { m_log = std::move(log); }

    // Binds address:port (port 0 picks a free one) and starts serving.
    bool start(const QString &address, quint16 port, QString *error);
    // Takes no more connections, lets the requests whose head has arrived finish (at most
    // drainSeconds), then ends every connection.
    void stop();
    quint16 port() const { return m_port; }
    bool secure() const;

    // Used from libmicrohttpd's callbacks on the pool threads.
    struct Context;
    struct Internals;
    Internals &internals() const { return *m_internals; }

private:
    std::unique_ptr<Internals> m_internals;
    AccessLog m_log;
    MHD_Daemon *m_daemon = nullptr;
    int m_listenFd = -1; // owned by the daemon
    quint16 m_port = 0;
};
