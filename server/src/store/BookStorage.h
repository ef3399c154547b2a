#pragma once

#include "store/Store.h"

#include <QByteArrayView>
#include <QString>

// Adds books to the catalogue: the row and its folder books/<id>/ appear together or not
// at all. Used by uploads, the import command and the demo catalogue.
class BookStorage
{
public:
    BookStorage(Store &store, const QString &booksDir) : m_store(store), m_booksDir(booksDir) {}

    // The book's bytes come either from memory or from a file to copy.
    struct Content
    {
        QByteArrayView bytes;
        QString sourcePath;
    };

    // Stores book (its fileName and coverName are used as given) and returns the new id,
    // or 0 with error set.
    qint64 add(BookRow book, const Content &content, QByteArrayView cover, QString *error);
    // Deletes a book's folder, for rows withdrawn from the catalogue.
    void removeFolder(qint64 id) const;
    QString folder(qint64 id) const;

    // A name safe to keep on disk and to put in an address: no folders, no characters
    // that end or escape a URL path, no control characters.
    static QString safeFileName(const QString &name, const QString &fallback);
    static QString extension(const QString &fileName); // lower case, without the dot
    // The file name in a book's address: "<id>-<title>.<ext>". The client keys a download, its
    // folder and its catalogue row by this name, so it must differ from every other book's.
    static QString publicName(const BookRow &book);
    // Checks that the bytes start as the extension promises (zip, rar, jpg, gif).
    static bool contentMatches(const QString &ext, QByteArrayView head);
    // SHA-256 of a file's content in hex, empty when it cannot be read.
    static QString contentHash(const QString &path);

private:
    Store &m_store;
    QString m_booksDir;
};
