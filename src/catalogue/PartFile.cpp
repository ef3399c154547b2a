#include "catalogue/PartFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

qint64 &room()
{
    static qint64 bytes = -1;
    return bytes;
}

PartFile::WriteResult failureOf(const QFile &file)
{
    return file.error() == QFileDevice::ResourceError ? PartFile::WriteResult::DiskFull : PartFile::WriteResult::Failed;
}

} // namespace

void PartFile::setRoomForTests(qint64 bytes)
{
    room() = bytes;
}

PartFile::PartFile(const QString &saveFile) : m_saveFile(saveFile), m_file(pathOf(saveFile)) {}

QString PartFile::pathOf(const QString &saveFile)
{
    const QFileInfo info(saveFile);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".part"));
}

void PartFile::removeOf(const QString &saveFile)
{
    QFile::remove(pathOf(saveFile));
}

bool PartFile::open(bool append)
{
    // Unbuffered, so that a full disk shows at the write that met it rather than at a later flush
    // whose bytes no longer match what the transfer counted.
    const QIODevice::OpenMode mode = append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
    return m_file.open(mode | QIODevice::Unbuffered);
}

qint64 PartFile::size() const
{
    return m_file.exists() ? m_file.size() : 0;
}

void PartFile::clear()
{
    m_file.resize(0);
    m_file.seek(0);
}

PartFile::WriteResult PartFile::write(const char *data, qint64 bytes)
{
    const qint64 fits = room() < 0 ? bytes : std::min(bytes, room());
    qint64 done = 0;
    // A disk that fills midway takes part of a write; asked for the rest, it says why.
    while (done < fits) {
        const qint64 written = m_file.write(data + done, fits - done);
        if (written <= 0)
            return failureOf(m_file);
        done += written;
    }
    if (room() >= 0)
        room() -= done;
    return done == bytes ? WriteResult::Written : WriteResult::DiskFull;
}

PartFile::WriteResult PartFile::commit()
{
    if (room() == 0) {
        m_file.close();
        return WriteResult::DiskFull;
    }
    if (!m_file.flush()) {
        const WriteResult failure = failureOf(m_file);
        m_file.close();
        return failure;
    }
#ifdef Q_OS_UNIX
    // On disk before it takes the book's name, so a crash just after cannot leave an empty book.
    // Some file systems report a full disk only here.
    if (::fsync(m_file.handle()) != 0 && (errno == ENOSPC || errno == EDQUOT)) {
        m_file.close();
        return WriteResult::DiskFull;
    }
#endif
    m_file.close();
    std::error_code error;
    std::filesystem::rename(QFileInfo(m_file.fileName()).filesystemAbsoluteFilePath(),
                            QFileInfo(m_saveFile).filesystemAbsoluteFilePath(), error);
    if (!error)
        return WriteResult::Written;
    return error == std::errc::no_space_on_device ? WriteResult::DiskFull : WriteResult::Failed;
}

void PartFile::close()
{
    m_file.close();
}

void PartFile::remove()
{
    m_file.remove();
}
