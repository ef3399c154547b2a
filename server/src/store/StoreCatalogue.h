#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>
#include <utility>

class SearchIndex;
class Store;
struct SearchRows;
struct SharedCatalogue;

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
    // Books whose title or author holds key, in any case of its letters as the database's
    // LIKE sees them; answered from the process's search index, or by scanning the table when
    // the index cannot serve the key.
    BookPage searchBooks(const QString &key, int page, int pageSize);
    // The same answer, always by scanning the table.
    BookPage scanBooks(const QString &key, int page, int pageSize);
    // The index the last search was answered from, if any.
    std::shared_ptr<const SearchIndex> searchIndex();
    BookPage userBooks(qint64 userId, int page, int pageSize);
    std::optional<BookRow> book(qint64 id);
    std::optional<qint64> bookWithHash(const QString &hash);
    qint64 countBooks();
    qint64 insertBook(const BookRow &book);
    bool setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName);
    bool deleteBook(qint64 id);

    // Catalogue answers built from the database, kept until the catalogue changes in any
    // process (a counter the database bumps on every change to a public book).
    // Search answers are kept apart, so the many different keys readers type never push the
    // few list pages out.
    enum class Answer
    {
        Page,
        Search
    };
    QByteArray cachedAnswer(const QByteArray &key, Answer kind = Answer::Page);
    // -1 when the database cannot answer. Back ends that several processes share may answer
    // from the version read shortly before (see StoreDialect::versionTrustMs).
    qint64 catalogueVersion();
    void rememberAnswer(const QByteArray &key, const QByteArray &answer, Answer kind = Answer::Page);
    // Tells every thread of this process that the books changed, so the next version asked
    // is read from the database.
    void changed();

private:
    BookPage page(const QString &where, const QVariantList &binds, int page, int pageSize);
    std::optional<BookPage> indexedSearch(const QString &key, int page, int pageSize);
    using Snapshot = std::pair<std::shared_ptr<const SearchIndex>, std::shared_ptr<SearchRows>>;
    Snapshot currentIndex(qint64 version);
    std::shared_ptr<const SearchIndex> buildIndex(qint64 version);
    SharedCatalogue &shared();
    qint64 readVersion();

    Store &m_store;
    SharedCatalogue *m_shared = nullptr;
    // Each kept to kCachedAnswers answers and kCachedBytes of keys and answers together.
    struct Answers
    {
        QHash<QByteArray, QByteArray> byKey;
        qint64 bytes = 0;
    };
    Answers m_answers;
    Answers m_searchAnswers;
    qint64 m_answersVersion = -1;
};
