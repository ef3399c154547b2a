#include "catalogue/PartFile.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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
    return m_file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate);
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
    if (m_file.write(data, bytes) == bytes)
        return WriteResult::Written;
    return m_file.error() == QFileDevice::ResourceError ? WriteResult::DiskFull : WriteResult::Failed;
}

bool PartFile::commit()
{
#ifdef Q_OS_UNIX
    // On disk before it takes the book's name, so a crash just after cannot leave an empty book.
    if (m_file.flush())
        ::fsync(m_file.handle());
#endif
    m_file.close();
    std::error_code error;
    std::filesystem::rename(QFileInfo(m_file.fileName()).filesystemAbsoluteFilePath(),
                            QFileInfo(m_saveFile).filesystemAbsoluteFilePath(), error);
    return !error;
}

void PartFile::close()
{
    m_file.close();
}

void PartFile::remove()
{
    m_file.remove();
}
