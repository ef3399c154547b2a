#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestSupport {

QString binDir()
{
    return qEnvironmentVariable("FOLIOWAY_BIN_DIR");
}

QString sourceDir()
{
    return qEnvironmentVariable("FOLIOWAY_SOURCE_DIR");
}

QString corpusDir()
{
    const QString dir = QDir(sourceDir()).absoluteFilePath(QStringLiteral("../shared/corpus"));
    return QFileInfo(dir).isDir() ? QDir::cleanPath(dir) : QString();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace TestSupport
