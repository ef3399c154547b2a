#pragma once

#include <QByteArray>
#include <QString>

class Store;

// A catalogue of generated Chinese novels for trying the system out: every category,
// plain text and zip archives, enough books for several pages.
namespace DemoCatalogue {

constexpr int kBooksPerCategory = 7;

// Adds the demo books when the catalogue holds no book at all. Returns the number added,
// or -1 with error set.
int seedIfEmpty(Store &store, const QString &booksDir, QString *error);

// Chinese numeral for 1..9999, as used in chapter headings ("第十二章").
QString chineseNumber(int n);
// One novel of the given number of chapters, encoded GB18030 like the web's text files.
QByteArray novelText(const QString &title, const QString &author, int chapters, quint32 seed);
// A zip archive holding files (path inside the archive → bytes), names stored as UTF-8.
QByteArray zipArchive(const QList<QPair<QString, QByteArray>> &files);

} // namespace DemoCatalogue
