#include "reader/ChapterLoader.h"

#include "text/BookFileCheck.h"

#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

ChapterLoader::ChapterLoader(QObject *parent) : QObject(parent)
{
    // A superseded scan stops within a few thousand lines, so two threads are enough for the
    // newest request never to wait behind an old one for long.
    m_pool.setMaxThreadCount(2);
}

ChapterLoader::~ChapterLoader()
{
    cancel();
    m_pool.waitForDone();
}

quint64 ChapterLoader::request(const QString &path, const QString &bookmarkTitle, const BookReading &reading)
{
    Q_ASSERT(QThread::currentThread() == thread());
    cancel();
    const quint64 id = ++m_lastId;
    m_pending = id;
    auto cancelFlag = std::make_shared<std::atomic_bool>(false);
    m_cancelPending = cancelFlag;

    // The watcher is a child of the loader, so it reports on the loader's thread and dies with it.
    auto *watcher = new QFutureWatcher<ChapterList>(this);
    connect(watcher, &QFutureWatcher<ChapterList>::finished, this, [this, watcher, id] {
        watcher->deleteLater();
        if (id != m_pending)
            return;
        m_pending = 0;
        m_cancelPending.reset();
        Q_EMIT loaded(id, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(
        &m_pool, [path, bookmarkTitle, cancelFlag, reading] {
            const BookFileProblem problem = CheckBookFile(path);
            if (problem == BookFileProblem::Empty) {
                ChapterList refused;
                refused.path = path;
                refused.reading = reading;
                refused.error = BookOpenError::NotABook;
                refused.errorTitle = BookOpenFailedTitle();
                refused.errorMessage = BookFileProblemMessage(problem, path);
                return refused;
            }
            ChapterList list = GetChapter(path, bookmarkTitle, cancelFlag.get(), reading);
            list.fileProblem = problem;
            return list;
        }));
    return id;
}

void ChapterLoader::cancel()
{
    if (m_cancelPending)
        m_cancelPending->store(true);
    m_cancelPending.reset();
    m_pending = 0;
}
