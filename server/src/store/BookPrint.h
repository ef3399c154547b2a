#pragma once

#include <QByteArrayView>
#include <QString>

// The desktop's name for a book file, "<size>:<sha1>". A large book is named once, when it is
// stored, and the name is kept beside it (".reader/print", with the inode, size and time of the
// file it belongs to), so opening the book for the first time does not read all of it again
// only to name it. A file changed in any way since is named afresh by whoever needs the name.
namespace BookPrint {

// Files smaller than this are not worth a name kept on disk: naming them takes less than a millisecond.
constexpr qint64 kKeptFrom = 1 << 20;

QString of(QByteArrayView bytes);
// Empty when the file cannot be read whole.
QString ofFile(const QString &path);
// Keeps the name of the file at path beside it (`print` when the caller has it already, else it
// is taken here). Nothing is kept for small files or when the file cannot be read.
void keep(const QString &path, QString print = {});
// The name kept for the file as it is now; empty when none is kept or the file has changed.
QString kept(const QString &path);

} // namespace BookPrint
