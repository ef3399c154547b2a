#pragma once

#include "http/HttpTypes.h"

#include <QByteArray>
#include <QString>

class Store;

// Newer copies of catalogue books. A client keeps, for each book it downloaded, the book's id,
// size and date as the catalogue listed them, and asks in one request which of them changed.
// Every book asked about costs a primary-key lookup (the book, and the copy that replaced it
// when an approved upload withdrew it), so the answer never scans the catalogue. The copies
// themselves are kept by BookCopies.
namespace BookUpdates {

// Books one request may ask about; the client sends larger shelves in several requests.
inline constexpr int kMaxBooksPerRequest = 1000;
inline const QString kPath = QStringLiteral("/folioway/updates/v1");

// The answer to a POST of "b=<id>|<size>|<date>" fields (percent-encoded, UTF-8): an
// <updates> element with one <book> (asked, id, name, size, ftime, downurl) per changed book,
// in the order asked; books gone from the catalogue are left out.
Response answer(Store &store, const QByteArray &body);

} // namespace BookUpdates
