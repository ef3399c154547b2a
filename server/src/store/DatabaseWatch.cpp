#include "store/DatabaseWatch.h"

#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

DatabaseWatch::DatabaseWatch(const QString &databaseFile)
{
    const QFileInfo file(databaseFile);
    if (!file.exists())
        return;
    m_name = QFile::encodeName(file.fileName());
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0 && ::inotify_add_watch(m_fd, QFile::encodeName(file.absolutePath()).constData(),
                                         IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

DatabaseWatch::~DatabaseWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DatabaseWatch::written()
{
    alignas(inotify_event) char buffer[8192];
    bool written = false;
    for (ssize_t n = 0; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            // "catalogue.db", "catalogue.db-wal", "catalogue.db-journal"; not "-shm", which readers write.
            const char *name = e->len ? e->name : "";
            const bool ours = std::strncmp(name, m_name.constData(), size_t(m_name.size())) == 0 &&
                              std::strcmp(name + m_name.size(), "-shm") != 0;
            written = written || ours || (e->mask & IN_Q_OVERFLOW);
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
    return written;
}
