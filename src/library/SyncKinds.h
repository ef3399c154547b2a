#pragma once

#include <QString>

// The kinds of synchronised items, as the server stores and names them.
namespace SyncKind {
inline const QString Shelf = QStringLiteral("shelf");
inline const QString Bookmark = QStringLiteral("bookmark");
inline const QString Position = QStringLiteral("position");
inline const QString Successor = QStringLiteral("successor");
inline const QString Reading = QStringLiteral("reading");
} // namespace SyncKind
