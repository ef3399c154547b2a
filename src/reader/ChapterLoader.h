#pragma once

#include "text/Chapters.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>

// Opens books without blocking the thread it lives on (the user-interface thread).
//
// request() starts chapter detection on a worker thread and returns at once with a request id.
// The result arrives through loaded() on the loader's own thread. A newer request supersedes
// every older one: their work is told to stop and their results are dropped, never delivered,
// so the reader can fire a request on every open without tracking what is still running.
// Errors (missing or unreadable file) arrive through loaded() too, in the ChapterList. So does
// the refusal of a file that holds nothing to read, rather than a blank page. A file with no
// text at all (a program or an archive named ".txt") is read like any other; the ChapterList
// names its problem, for the reader to say so beside the page.
class ChapterLoader : public QObject
{
    Q_OBJECT
public:
    explicit ChapterLoader(QObject *parent = nullptr);
    ~ChapterLoader() override;

    // Ids start at 1 and grow by one per request. Must be called on the loader's thread.
    quint64 request(const QString &path, const QString &bookmarkTitle = {}, const BookReading &reading = {});
    // Drops the pending request, if any.
    void cancel();
    // The id whose result is still to come, or 0.
    quint64 pendingRequest() const { return m_pending; }

Q_SIGNALS:
    void loaded(quint64 requestId, const ChapterList &chapters);

private:
    QThreadPool m_pool;
    quint64 m_lastId = 0;
    quint64 m_pending = 0;
    std::shared_ptr<std::atomic_bool> m_cancelPending;
};
