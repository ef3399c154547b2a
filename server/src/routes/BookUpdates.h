#pragma once

#include "HttpTypes.h"

#include <QByteArray>
#include <QString>

class Store;

// Newer copies of catalogue books. A client keeps, for each book it downloaded, the book's id,
// size and date as the catalogue listed them, and asks in one request which of them changed.
// Every book asked about costs a primary-key lookup (the book, and the copy that replaced it
// when an approved upload withdrew it), so the answer never scans the catalogue.
namespace BookUpdates {

// Books one request may ask about; the client sends larger shelves in several requests.
inline constexpr int kMaxBooksPerRequest = 1000;
inline const QString kPath = QStringLiteral("/folioway/updates/v1");

// The answer to a POST of "b=<id>|<size>|<date>" fields (percent-encoded, UTF-8): an
// <updates> element with one <book> (asked, id, name, size, ftime, downurl) per changed book,
// in the order asked; books gone from the catalogue are left out.
Response answer(Store &store, const QByteArray &body);

// Puts the file at sourcePath in place of a book's file, keeping its id: the new file is
// written beside the old one and renamed over it, then the row takes its size, content hash
// and the time now as its date. False with error set when nothing changed.
bool replaceFile(Store &store, const QString &booksDir, qint64 id, const QString &sourcePath, QString *error);

// The host's book of that title and author (the newest when there are several); 0 for none.
qint64 hostBookNamed(Store &store, const QString &title, const QString &author);

// Notes that an approval withdrew oldId in favour of newId, so clients holding oldId learn of
// newId. Copies that replaced it earlier are pointed at newId too.
bool recordSuccessor(Store &store, qint64 oldId, qint64 newId);

} // namespace BookUpdates
