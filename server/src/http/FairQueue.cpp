#include "http/FairQueue.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

void FairQueue::start(unsigned threads)
{
    m_stopping = false;
    for (unsigned i = 0; i < threads; ++i)
        m_workers.emplace_back([this] { work(); });
}

void FairQueue::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

bool FairQueue::push(const QByteArray &group, Job job)
{
    std::function<void()> dropped;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || (job.canWait && m_waiting * 2 >= m_capacity))
            return false;
        std::deque<Job> &mine = m_queued[group];
        if (m_waiting >= m_capacity) {
            // Full: work that can wait gives up its place, else the newest job of the worst
            // rank, of the group with the most work waiting, to a job of a better rank or of a
            // group with less.
            const auto rank = [&job](const auto &entry) {
                const bool yields = !job.canWait && entry.second.back().canWait;
                return std::tuple(yields, entry.second.back().rank, entry.second.size());
            };
            auto largest = m_queued.end();
            for (auto it = m_queued.begin(); it != m_queued.end(); ++it) {
                if (!it->second.empty() && (largest == m_queued.end() || rank(*largest) < rank(*it)))
                    largest = it;
            }
            const auto better = [&] {
                const auto [yields, worst, size] = rank(*largest);
                return yields || worst > job.rank || (worst == job.rank && size > mine.size() + 1);
            };
            if (largest == m_queued.end() || !better()) {
                if (mine.empty())
                    m_queued.erase(group);
                return false;
            }
            dropped = std::move(largest->second.back().drop);
            largest->second.pop_back();
            --m_waiting;
            if (largest->second.empty()) {
                m_turns.erase(std::find(m_turns.begin(), m_turns.end(), largest->first));
                if (largest->first != group)
                    m_queued.erase(largest);
            }
        }
        if (mine.empty())
            m_turns.push_back(group);
        mine.push_back(std::move(job));
        ++m_waiting;
    }
    m_ready.notify_one();
    if (dropped)
        dropped();
    return true;
}

void FairQueue::work()
{
    // Hashing yields the processor to the threads answering everyone else.
    setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || m_waiting > 0; });
            // Jobs still queued at shutdown run anyway: each holds a suspended connection.
            if (m_waiting == 0)
                return;
            // The best rank waiting, and among equals the group whose turn comes first.
            auto turn = m_turns.begin();
            for (auto t = m_turns.begin(); t != m_turns.end(); ++t) {
                if (m_queued[*t].front().rank < m_queued[*turn].front().rank)
                    turn = t;
            }
            const QByteArray group = *turn;
            m_turns.erase(turn);
            auto it = m_queued.find(group);
            job = std::move(it->second.front().run);
            it->second.pop_front();
            --m_waiting;
            if (it->second.empty())
                m_queued.erase(it);
            else
                m_turns.push_back(group);
        }
        job();
    }
}
