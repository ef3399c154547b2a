#include "http/ConnectionWatcher.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

void ConnectionWatcher::start()
{
    // Each connection takes two descriptors (its socket and the watcher's duplicate).
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    m_stopping = false;
    m_thread = std::thread([this] { watch(); });
}

void ConnectionWatcher::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    for (const Lingering &l : m_lingering)
        ::close(l.fd);
    m_lingering.clear();
}

ConnectionWatcher::Clock::time_point ConnectionWatcher::deadline(const Watch &w) const
{
    if (w.phase == Watch::Head)
        return w.since + std::chrono::seconds(m_options.headSeconds);
    if (w.phase == Watch::Body)
        return w.since + std::chrono::seconds(m_options.bodySeconds) +
               std::chrono::milliseconds(w.received.load() * 1000 / std::max(1u, m_options.bodyRate));
    return Clock::time_point::max();
}

unsigned ConnectionWatcher::idleSeconds(Watch::Phase phase) const
{
    return phase == Watch::Head   ? m_options.headSeconds
           : phase == Watch::Body ? m_options.bodySeconds
                                  : std::max(60u, m_options.bodySeconds);
}

void ConnectionWatcher::setArriving(Watch *w, bool on)
{
    if (w->arriving == on)
        return;
    w->arriving = on;
    unsigned &n = m_arrivingOf[w->peer];
    if (on) {
        ++n;
        ++m_arriving;
    } else {
        --m_arriving;
        if (--n == 0)
            m_arrivingOf.erase(w->peer);
    }
}

void ConnectionWatcher::cut(Watch *w)
{
    ::shutdown(w->fd, SHUT_RDWR);
    w->cut = true; // once is enough
    setArriving(w, false);
}

void ConnectionWatcher::watch()
{
    const auto step = std::chrono::milliseconds(
        std::clamp<qint64>(std::min(m_options.headSeconds, m_options.bodySeconds) * 250, 100, 1000));
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        // Lingering sockets are read often enough that a fast client never waits on a full window.
        m_wake.wait_for(lock, m_lingering.empty() ? step : std::chrono::milliseconds(10));
        const auto now = Clock::now();
        for (Watch *w : m_watches) {
            if (!w->cut && deadline(*w) <= now)
                cut(w);
        }
        drain(now);
    }
}

// Under m_mutex.
void ConnectionWatcher::drain(Clock::time_point now)
{
    std::erase_if(m_lingering, [now](Lingering &l) {
        thread_local char sink[64 * 1024];
        ssize_t n = 0;
        while (l.budget > 0 && (n = ::recv(l.fd, sink, sizeof sink, MSG_DONTWAIT)) > 0)
            l.budget -= n;
        const bool waiting = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        if (waiting && l.budget > 0 && now < l.until)
            return false;
        ::close(l.fd);
        return true;
    });
}

// Connections whose request is still arriving hold at most three quarters of the limit, so
// requests whose head is complete always find a connection. Past that the address with the
// most such connections gives up its oldest for a newcomer from an address with fewer; its
// own newcomers are turned away. Under m_mutex.
void ConnectionWatcher::makeRoom(Watch *newcomer)
{
    setArriving(newcomer, true);
    if (m_arriving <= std::max<size_t>(1, m_options.connectionLimit * 3 / 4))
        return;
    auto most = std::max_element(m_arrivingOf.begin(), m_arrivingOf.end(),
                                 [](const auto &a, const auto &b) { return a.second < b.second; });
    if (most->second <= m_arrivingOf[newcomer->peer] + 1) {
        cut(newcomer);
        return;
    }
    Watch *oldest = nullptr;
    for (Watch *w : m_watches) {
        if (w->arriving && w->peer == most->first && (!oldest || w->since < oldest->since))
            oldest = w;
    }
    if (oldest)
        cut(oldest);
}

// Counts one more connection (or proxied request) of client; false when it has its share.
bool ConnectionWatcher::hold(Watch *w, const QByteArray &client)
{
    unsigned &n = m_perClient[client];
    if (n >= m_options.perAddressLimit) {
        if (n == 0)
            m_perClient.erase(client);
        return false;
    }
    ++n;
    w->counted = client;
    return true;
}

void ConnectionWatcher::release(Watch *w)
{
    if (w->counted.isEmpty())
        return;
    auto it = m_perClient.find(w->counted);
    if (it != m_perClient.end() && --it->second == 0)
        m_perClient.erase(it);
    w->counted.clear();
}

void ConnectionWatcher::admit(Watch *w)
{
    std::lock_guard lock(m_mutex);
    m_watches.insert(w);
    // A trusted proxy's connections count per request, under the client it names.
    if (!w->proxied && !hold(w, w->peer))
        cut(w);
    else
        makeRoom(w);
}

void ConnectionWatcher::forget(Watch *w)
{
    std::lock_guard lock(m_mutex);
    release(w);
    setArriving(w, false);
    m_watches.erase(w);
    // Closed with unread data, the socket would be reset, and the answer could be lost with it.
    // Lingering sockets are few: past a quarter of the connections they are closed at once.
    if (w->linger && !w->cut && !m_stopping && m_lingering.size() < m_options.connectionLimit / 4 + 1) {
        ::shutdown(w->fd, SHUT_WR);
        m_lingering.push_back(
            {w->fd, Clock::now() + std::chrono::seconds(m_options.lingerSeconds), m_options.discardLimit});
        m_wake.notify_all();
        return;
    }
    ::close(w->fd);
}

void ConnectionWatcher::linger(Watch *w)
{
    std::lock_guard lock(m_mutex);
    w->linger = true;
}

bool ConnectionWatcher::holdClient(Watch *w, const QByteArray &client)
{
    std::lock_guard lock(m_mutex);
    return hold(w, client);
}

void ConnectionWatcher::releaseClient(Watch *w)
{
    std::lock_guard lock(m_mutex);
    if (w->proxied)
        release(w);
}

void ConnectionWatcher::enter(Watch *w, Watch::Phase phase)
{
    std::lock_guard lock(m_mutex);
    w->phase = phase;
    w->since = Clock::now();
    w->received = 0;
    setArriving(w, phase != Watch::Answer && !w->cut);
}
