#pragma once

#include <QString>

class Store;

namespace Importer {

struct TitleAuthor
{
    QString title;
    QString author;
};

// "书名作者：某某.txt" gives title and author; without "作者：" the author is "佚名".
TitleAuthor fromFileName(const QString &fileName);

// Adds every .txt/.zip/.rar below folder to category. A file whose content the catalogue
// already holds from an earlier import is left out and its path added to skipped. Returns
// the number added, or -1 with error set; a file failing stops the import at that file.
// With replaced given, a file whose title and author name a book the host added before takes
// the place of that book's file under the same id (its path added to replaced) instead.
int importFolder(Store &store, const QString &booksDir, const QString &folder, const QString &category,
                 QStringList *skipped, QString *error, QStringList *replaced = nullptr);

} // namespace Importer
