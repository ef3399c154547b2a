#pragma once

#include "http/HttpTypes.h"
#include "routes/FormCodec.h"
#include "store/StorePrivate.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class Store;
struct BookRow;

// The catalogue as Atom feeds for reading apps on phones and e-ink readers, under /opds: a
// start feed of the categories and the newest books, a paged feed of books per category, all
// books newest first, search results and the search description the apps' search box reads.
// Feeds are built from the same queries as the program's lists and kept in the same cache.
class OpdsCatalogue
{
public:
    OpdsCatalogue(Store &store, QString booksDir, int pageSize)
        : m_store(store), m_booksDir(std::move(booksDir)), m_pageSize(pageSize)
    {
    }

    // rest is the decoded path after "/opds": empty, "/", "/new", "/category/<1-10>", "/search"
    // or "/search.xml".
    Response answer(const QString &rest, const FormCodec::Fields &query) const;

    static constexpr const char *kNavigationType = "application/atom+xml;profile=opds-catalog;kind=navigation";
    static constexpr const char *kAcquisitionType = "application/atom+xml;profile=opds-catalog;kind=acquisition";

    // The character set a stored text book is written in, told from its first bytes: a byte-order
    // mark, else UTF-8 when its bytes read as that, else GB18030, the web's usual encoding.
    static QByteArray textCharset(const QString &path);
    // The name of a text book's EPUB in its address: its public name with ".epub".
    static QString epubName(const BookRow &book);
    // The personal feed of an account: the books of its shelf the server holds, in that order,
    // then its private copies.
    // Books in `ownWay` are read in a way of the account's own: their EPUB is its own, under /opds/my/.
    QByteArray shelf(const QString &account, const QList<BookRow> &books, const QList<PrivateCopy> &copies,
                     const QSet<qint64> &ownWay = {}) const;

private:
    // Where the books of one feed come from, and how the feed is named and addressed.
    struct Listing
    {
        QByteArray cacheKey;
        QString id;
        QString title;
        QString address; // without its page
        QString category = {}; // empty: every category
        QString searchKey = {};
        bool search = false;
    };

    std::optional<QByteArray> navigation() const;
    std::optional<QByteArray> acquisition(const Listing &listing, int page) const;
    Response cached(const QByteArray &key, const std::function<std::optional<QByteArray>()> &build,
                    const char *type) const;

    Store &m_store;
    QString m_booksDir;
    int m_pageSize;
};
