#include "catalogue/DownloadRetry.h"

#include <QPointer>
#include <QTimer>

RetrySchedule::RetrySchedule(QObject *owner)
{
    m_schedule = [owner = QPointer<QObject>(owner)](int ms, std::function<void()> fn) {
        if (owner)
            QTimer::singleShot(ms, owner, std::move(fn));
    };
}

quint64 RetrySchedule::schedule(int triesSoFar, std::function<void(quint64 ticket)> due)
{
    const quint64 ticket = ++m_lastTicket;
    m_schedule(m_waits.value(triesSoFar) * 1000, [due = std::move(due), ticket] { due(ticket); });
    return ticket;
}

QString RetrySchedule::waitingText(const QString &failure, int triesSoFar) const
{
    return QStringLiteral("%1，%2秒后重试（%3/%4）")
        .arg(failure)
        .arg(m_waits.value(triesSoFar))
        .arg(triesSoFar + 1)
        .arg(m_waits.size());
}

QString RetrySchedule::tryingText(int tries) const
{
    return QStringLiteral("自动重试（%1/%2）").arg(tries).arg(m_waits.size());
}
