#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringEncoder>

#include <sys/resource.h>

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

void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

qint64 peakMemoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
    }
    return 0;
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

QByteArray gb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, qint64 addressSpace)
{
    QProcess process;
    if (addressSpace > 0) {
        process.setChildProcessModifier([addressSpace] {
            const rlimit limit{rlim_t(addressSpace), rlim_t(addressSpace)};
            ::setrlimit(RLIMIT_AS, &limit);
        });
    }
    process.start(program, arguments);
    ProgramRun r;
    // However slow the machine, the program is given the time it takes: CTest's own limit ends
    // a program that never finishes.
    if (!process.waitForFinished(-1))
        return r;
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

} // namespace TestSupport
