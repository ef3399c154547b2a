#pragma once

#include <QByteArrayView>
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

// What makes a file no book to read, judged from its first bytes (BookCheckBytes of them): no
// text at all (nothing but a byte order mark and blanks), or something else renamed ".txt" (an
// executable's or an archive's header, NUL bytes other than those of UTF-16 text, or more control
// characters than text ever has).
enum class BookFileProblem
{
    None,
    Empty,
    Executable,
    Archive,
    Binary,
};
constexpr qsizetype BookCheckBytes = 16 * 1024;
BookFileProblem CheckBookBytes(QByteArrayView head);
// None for a file that cannot be read: that is told elsewhere.
BookFileProblem CheckBookFile(const QString &path);
// The extension of the archive kinds the shelf unpacks (".zip", ".rar", ".7z") whose header the
// file starts with, whatever its name; empty for any other file.
QString UnpackableArchiveSuffix(const QString &path);
// Why the book cannot be read, to follow the title of the box: a sentence and the path.
QString BookFileProblemMessage(BookFileProblem problem, const QString &path);
// The same in a few words, for a list of files.
QString BookFileProblemShort(BookFileProblem problem);

// Title of the box for any book that cannot be opened, and the message for a missing file: the
// shelf, its book menu and the reading pane show the same box for a moved or deleted book.
QString BookOpenFailedTitle();
QString MissingBookMessage(const QString &path);

// Points a shelf row whose file was moved at the file's new place, picked in a file dialog that
// opens in the old folder, or the nearest folder above it that is still there. A file another
// row holds is refused with a message. Gives the file chosen, or nothing when the user cancelled
// or nothing changed.
QString RelocateBook(LibraryDb &db, Prompter &prompter, qint64 id);

// Where book file dialogs open: the folder of the last book picked, the home folder before
// the first or when that folder is gone.
QString LastBookFolder(const LibraryDb &db);
void RememberBookFolder(LibraryDb &db, const QString &pickedPath);
