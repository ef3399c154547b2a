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

// The extension of the archive kinds the shelf unpacks (".zip", ".rar", ".7z") whose header the
// file starts with, whatever its name; empty for any other file.
QString UnpackableArchiveSuffix(const QString &path);

// Points a shelf row whose file was moved at the file's new place, picked in a file dialog that
// opens in the old folder, or the nearest folder above it that is still there. A file another
// row holds is refused with a message. The book's own reading choices follow it. Gives the file
// chosen, or nothing when the user cancelled or nothing changed.
QString RelocateBook(LibraryDb &db, Prompter &prompter, qint64 id);

// Options kept per book under its path (kind "BookReading": how it is read; "BookScript": the
// script it is shown in). A relocated book takes its options along.
QString BookOptionName(QStringView kind, const QString &path);

// Where book file dialogs open: the folder of the last book picked, the home folder before
// the first or when that folder is gone.
QString LastBookFolder(const LibraryDb &db);
void RememberBookFolder(LibraryDb &db, const QString &pickedPath);
