#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

class Store;

// Review codes of a book, as the user's book list reports them.
enum class Review : int
{
    Pending = 0,
    Approved = 1,
    Rejected = 2
};

struct BookRow
{
    qint64 id = 0;
    QString name;
    QString author;
    QString category;
    QString status;        // "连载" or "全集"
    QString newestChapter; // as typed by the uploader
    QString memo;
    QString fileName;    // inside books/<id>/
    qint64 fileSize = 0; // bytes
    QString coverName;   // inside books/<id>/, empty without a cover
    QString updated;     // "yyyy-MM-dd HH:mm:ss", kept as text: lists print it unchanged
    qint64 uploader = 0; // 0 for books added by the host
    Review review = Review::Approved;
    QString hash; // SHA-256 of an imported file, hex; empty for uploads
};

struct BookPage
{
    QList<BookRow> rows;
    int totalPages = 1; // at least 1, so an empty list still reads as page 1 of 1
    qint64 totalBooks = 0;
    int page = 1;
    bool ok = true; // false when the database could not answer
};

// The books table: the public lists and searches, single books, and the answers built from
// them, cached per connection until the catalogue changes.
class StoreCatalogue
{
public:
    explicit StoreCatalogue(Store &store) : m_store(store) {}
    StoreCatalogue(const StoreCatalogue &) = delete;
    StoreCatalogue &operator=(const StoreCatalogue &) = delete;

    BookPage listBooks(const QString &category, int page, int pageSize);
    BookPage searchBooks(const QString &key, int page, int pageSize);
    BookPage userBooks(qint64 userId, int page, int pageSize);
    std::optional<BookRow> book(qint64 id);
    std::optional<qint64> bookWithHash(const QString &hash);
    qint64 countBooks();
    qint64 insertBook(const BookRow &book);
    bool setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName);
    bool deleteBook(qint64 id);

    // Catalogue answers built from the database, kept until the catalogue changes in any
    // process (a counter the database bumps on every change to a public book).
    QByteArray cachedAnswer(const QByteArray &key);
    qint64 catalogueVersion(); // -1 when the database cannot answer
    void rememberAnswer(const QByteArray &key, const QByteArray &answer);

private:
    BookPage page(const QString &where, const QVariantList &binds, int page, int pageSize);

    Store &m_store;
    QHash<QByteArray, QByteArray> m_answers;
    qint64 m_answersVersion = -1;
};
