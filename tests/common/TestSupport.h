#pragma once

#include <QString>
#include <QStringList>

namespace TestSupport {

// Folder of the built executables (folioway, folioway-server, tools).
QString binDir();
// Root of the source tree.
QString sourceDir();
// ../shared/corpus beside the checkout, or empty when it is absent.
QString corpusDir();
// Writes bytes to a file, creating its folder; returns false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Text as the books and the legacy forms carry it.
QByteArray gb18030(const QString &text);

// The process's peak resident memory in MB since the last reset (Linux; 0 elsewhere).
void resetPeakMemory();
qint64 peakMemoryMB();

struct ProgramRun
{
    int exitCode = -1; // -1: crashed or did not finish
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end, within addressSpace bytes of memory when given.
ProgramRun runProgram(const QString &program, const QStringList &arguments, qint64 addressSpace = 0);

} // namespace TestSupport
