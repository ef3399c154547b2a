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

// Adds every .txt/.zip/.rar below folder to category. Returns the number added, or -1
// with error set; files already failing stop the import at that file.
int importFolder(Store &store, const QString &booksDir, const QString &folder, const QString &category, QString *error);

} // namespace Importer
