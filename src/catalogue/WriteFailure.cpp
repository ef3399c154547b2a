#include "catalogue/WriteFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString WriteFailureText(int error)
{
    switch (error) {
    case 0:
        return {};
    case EROFS:
        return QStringLiteral("只读文件系统");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("磁盘已满");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("路径不存在");
    case EISDIR:
        return QStringLiteral("已有同名的文件夹");
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

QString FileWriteFailure(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    const bool existed = QFileInfo::exists(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return WriteFailureText(errno);
    ::close(fd);
    if (!existed)
        ::unlink(name.constData());
    return {};
#else
    QFile file(path);
    if (file.open(QIODevice::Append))
        return {};
    return file.errorString();
#endif
}

QString FolderMakeFailure(const QString &folder)
{
    // The deepest level that exists, and the one under it that would be made next.
    QString existing = QDir::cleanPath(QDir(folder).absolutePath());
    QString next;
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            return WriteFailureText(ENOENT);
        next = existing;
        existing = parent;
    }
    if (!QFileInfo(existing).isDir())
        return WriteFailureText(ENOTDIR);
    if (next.isEmpty())
        return {};
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(next);
    if (::mkdir(name.constData(), 0777) != 0)
        return WriteFailureText(errno);
    ::rmdir(name.constData());
    return {};
#else
    return QDir().mkdir(next) && QDir().rmdir(next) ? QString() : WriteFailureText(EACCES);
#endif
}
