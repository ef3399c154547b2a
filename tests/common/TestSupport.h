#pragma once

#include <QString>

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

} // namespace TestSupport
