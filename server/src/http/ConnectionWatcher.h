#pragma once

#include "http/HttpServer.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// A connection under watch: a duplicate of its socket lets the watcher cut it off without
// racing libmicrohttpd over the descriptor number. Its request head has a deadline, its body
// a deadline that grows with every byte received (a minimum rate), and while either is still
// arriving the connection may be cut to make room for others.
struct Watch
{
    using Clock = std::chrono::steady_clock;
    enum Phase
    {
        Head,
        Body,
        Answer
    };
    int fd = -1;
    QByteArray peer;      // the socket's address
    QByteArray counted;   // the client address this connection is counted under, if any
    bool proxied = false; // counted per request, under the forwarded client
    Phase phase = Head;
    Clock::time_point since;
    std::atomic<qint64> received{0};
    bool cut = false;
    bool arriving = false; // its request is still arriving (head or body) and it was not cut
    bool linger = false;   // answered before its body was read: drained once libmicrohttpd closes it
};

// Admission and accounting of connections, apart from what they ask: every client address
// holds at most its share of connections, connections still receiving their request leave
// room for the others, and a thread of its own cuts off those past their deadline.
class ConnectionWatcher
{
public:
    using Clock = Watch::Clock;

    explicit ConnectionWatcher(const HttpServer::Options &options) : m_options(options) {}
    ~ConnectionWatcher() { stop(); }
    ConnectionWatcher(const ConnectionWatcher &) = delete;
    ConnectionWatcher &operator=(const ConnectionWatcher &) = delete;

    void start();
    void stop();

    // A new connection: counted under its address (a trusted proxy's count per request
    // instead), and cut at once when its address has its share or no room is left for it.
    void admit(Watch *w);
    // The connection closed: its counts are given back and the duplicate socket closed, or
    // for a lingering one, half-closed and read until the client stops sending.
    void forget(Watch *w);
    // The connection was answered before its request body arrived.
    void linger(Watch *w);
    // Counts one request of a proxied connection under client; false when client has its share.
    bool holdClient(Watch *w, const QByteArray &client);
    // Gives back the count of a proxied connection's request.
    void releaseClient(Watch *w);
    // The connection moves on to phase; its deadline starts again from now.
    void enter(Watch *w, Watch::Phase phase);
    // How long libmicrohttpd itself lets the connection idle in phase, in seconds.
    unsigned idleSeconds(Watch::Phase phase) const;
    Clock::time_point deadline(const Watch &w) const;

    // Calls f for every watch, under the lock.
    template <class F>
    void visit(F f)
    {
        std::lock_guard lock(m_mutex);
        for (Watch *w : m_watches)
            f(w);
    }

    // Guards the watches; the transport keeps its own per-connection state under it too.
    std::mutex &mutex() { return m_mutex; }

private:
    void watch();
    void setArriving(Watch *w, bool on);
    void cut(Watch *w);
    void makeRoom(Watch *newcomer);
    bool hold(Watch *w, const QByteArray &client);
    void release(Watch *w);
    void drain(Clock::time_point now);

    // Sockets answered and half-closed whose remaining request body is read and dropped.
    struct Lingering
    {
        int fd;
        Clock::time_point until;
        qint64 budget;
    };

    const HttpServer::Options &m_options;
    bool m_stopping = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<Watch *> m_watches;
    std::vector<Lingering> m_lingering;
    std::map<QByteArray, unsigned> m_perClient;
    std::map<QByteArray, unsigned> m_arrivingOf; // connections still arriving, by address
    size_t m_arriving = 0;
    std::thread m_thread;
};
