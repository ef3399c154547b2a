#pragma once

#include "text/BookFileCheck.h"

#include <QString>

class LibraryDb;
class Prompter;

// Title and author read from a book's file name: "书名作者：某某.txt" gives the title 书名 and the
// author 某某 (a half-width colon works too); a title in 《》 loses the marks; without an author
// the book is by "佚名". The catalogue server names its imported books by the same rule.
struct TitleAuthor
{
    QString title;
    QString author;
};
TitleAuthor TitleAuthorFromFileName(const QString &fileName);

// What a file or folder given to the shelf (dropped or picked) holds.
enum class LocalBookKind
{
    None,    // not something the shelf takes
    Text,    // a ".txt" book
    Archive, // ".zip", ".rar" or ".7z", unpacked like a downloaded book
    Folder,  // searched for both of the above
};
LocalBookKind KindOfLocalBook(const QString &path);

// What may follow the message for a shelf row whose file is missing: a second box offers to
// point the row at the file's new place ("重新定位…") or to take the row off the shelf. Gives
// what was done; newPath receives the file chosen.
enum class MissingBookChoice
{
    Nothing,
    Relocated,
    Removed,
};
MissingBookChoice OfferMissingBookChoices(LibraryDb &db, Prompter &prompter, const QString &path,
                                          QString *newPath = nullptr);

// Options kept per book under its path (kind "BookReading": how it is read; "BookScript": the
// script it is shown in). A relocated book takes its options along.
QString BookOptionName(QStringView kind, const QString &path);

// Where book file dialogs open: the folder of the last book picked, the home folder before
// the first or when that folder is gone.
QString LastBookFolder(const LibraryDb &db);
void RememberBookFolder(LibraryDb &db, const QString &pickedPath);
