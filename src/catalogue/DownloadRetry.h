#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// The timetable of the automatic retries of a download whose connection broke: a wait before
// each try, longer each time, and a ticket per wait so that a row retried by hand, paused or
// removed meanwhile is not started again by a wait it no longer has.
class RetrySchedule
{
public:
    // Runs fn once ms have passed.
    using Scheduler = std::function<void(int ms, std::function<void()> fn)>;

    // Waits with single-shot timers of owner unless a test runs them itself.
    explicit RetrySchedule(QObject *owner);

    void setScheduler(Scheduler schedule) { m_schedule = std::move(schedule); }
    // Seconds before each automatic try; empty: none.
    void setWaits(const QList<int> &seconds) { m_waits = seconds; }
    int tries() const { return int(m_waits.size()); }
    bool hasTry(int triesSoFar) const { return triesSoFar < m_waits.size(); }

    // Runs due after the wait of the next try; the ticket it returns is the one due is given.
    quint64 schedule(int triesSoFar, std::function<void(quint64 ticket)> due);
    // The speed cell while a row waits: "连接中断，5秒后重试（1/3）".
    QString waitingText(const QString &failure, int triesSoFar) const;
    // The speed cell while an automatic try connects: "自动重试（1/3）".
    QString tryingText(int tries) const;

private:
    Scheduler m_schedule;
    QList<int> m_waits{5, 15, 60};
    quint64 m_lastTicket = 0;
};
