#include "net/AnswerReader.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

namespace {

std::function<void()> &workerHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

void AnswerReader::setWorkerHook(std::function<void()> hook)
{
    workerHook() = std::move(hook);
}

void AnswerReader::start(std::function<void()> work, std::function<void()> deliver)
{
    const quint64 id = ++m_last;
    m_pending = id;
    // The hook is copied here, on the reader's thread, so a test may change it between reads.
    QtConcurrent::run([work = std::move(work), hook = workerHook()]() mutable {
        if (hook)
            hook();
        work();
    }).then(this, [this, id, deliver = std::move(deliver)]() mutable {
        // With this as the context, the result is dropped unseen if the reader is gone.
        if (id != m_pending)
            return;
        m_pending = 0;
        deliver();
    });
}
