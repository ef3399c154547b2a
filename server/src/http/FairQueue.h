#pragma once

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// Slow work (password hashing) on threads of its own, at a lower priority than the threads
// answering requests. Jobs carry a rank (for logins, their address's recent failures): the
// lowest rank waiting goes first, and among equals each client group is served in turn, so one
// client cannot take the queue from the others. When it is full, work that can wait gives up
// its place, else the newest job of the worst rank gives it up to a better one (at an equal
// rank, the group with the most work waiting to one with less); a job that loses its place
// runs its drop function instead.
class FairQueue
{
public:
    struct Job
    {
        std::function<void()> run;
        std::function<void()> drop; // answers busy instead
        bool canWait = false;       // only takes the first half of the queue
        int rank = 0;               // lower goes first
    };

    explicit FairQueue(size_t capacity) : m_capacity(capacity) {}
    ~FairQueue() { stop(); }
    FairQueue(const FairQueue &) = delete;
    FairQueue &operator=(const FairQueue &) = delete;

    void start(unsigned threads);
    // Jobs still queued run first: each holds a suspended connection.
    void stop();
    // False when the job finds no place; its drop function is not run then.
    bool push(const QByteArray &group, Job job);

private:
    void work();

    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::map<QByteArray, std::deque<Job>> m_queued;
    std::deque<QByteArray> m_turns;
    size_t m_waiting = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};
