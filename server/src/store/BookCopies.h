#pragma once

#include <QString>

class Store;

// Newer copies of catalogue books, in the database and on disk: a book's file replaced under
// the same id, and the copy an approved upload put in the place of a withdrawn book, so the
// clients holding the old one learn of the new.
namespace BookCopies {

// Puts the file at sourcePath in place of a book's file, keeping its id: the new file is
// written beside the old one and renamed over it, then the row takes its size, content hash
// and the time now as its date. False with error set when nothing changed.
bool replaceFile(Store &store, const QString &booksDir, qint64 id, const QString &sourcePath, QString *error);

// The host's book of that title and author (the newest when there are several); 0 for none.
qint64 hostBookNamed(Store &store, const QString &title, const QString &author);

// Notes that an approval withdrew oldId in favour of newId, so clients holding oldId learn of
// newId. Copies that replaced it earlier are pointed at newId too.
bool recordSuccessor(Store &store, qint64 oldId, qint64 newId);

// The copy that replaced a withdrawn book, 0 when none did.
qint64 successorOf(Store &store, qint64 id);

} // namespace BookCopies
