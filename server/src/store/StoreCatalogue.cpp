#include "store/StoreCatalogue.h"

#include "store/DatabaseWatch.h"
#include "store/SearchIndex.h"
#include "store/Store.h"
#include "store/StoreDialect.h"
#include "store/StoreSupport.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <limits>
#include <utility>
#include <chrono>
#include <map>
#include <mutex>

using namespace StoreSupport;

// The rows of books shown in search answers since the index was built. Every change to a
// public book moves the version, so within one version a row stays as it was read.
struct SearchRows
{
    std::mutex lock;
    QHash<qint64, BookRow> byId;
};

// What the threads of one process share about one catalogue: the version last read and until
// when it is trusted, and the search index.
struct SharedCatalogue
{
    std::atomic<qint64> version{-1};
    std::atomic<qint64> trustedUntil{0}; // steadyMs()
    std::atomic<quint64> changes{0};     // bumped by changed(); a read begun before is not kept
    // SQLite: the database's files are watched, and the version is kept until they are written.
    // Trusted only once they have been quiet a while: a commit is seen by readers a moment
    // after its last write to the log.
    std::once_flag watchMade;
    std::unique_ptr<DatabaseWatch> watch;
    std::atomic<qint64> quietFrom{0}; // steadyMs()
    std::mutex indexLock;
    std::shared_ptr<const SearchIndex> index;
    std::shared_ptr<SearchRows> rows; // beside the index, of the same version
    std::mutex building; // one build at a time; the others wait for it rather than scan
    // Whether the database lowers A-Z to a-z and leaves the rest of ASCII alone (a Turkish
    // collation does not), so such keys need not be sent to it.
    std::atomic<bool> plainAscii{true};
};

namespace {

// How long a watched database's files stay quiet before its version is kept.
constexpr qint64 kQuietMs = 1000;

// Rows kept for search answers per index, about 300 bytes each.
constexpr qsizetype kKnownRows = 50000;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString likePattern(const QString &key)
{
    QString escaped = key;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

QVariant uploaderValue(qint64 uploader)
{
    return uploader > 0 ? QVariant(uploader) : QVariant(QMetaType::fromType<qint64>());
}

} // namespace

BookRow StoreSupport::bookFrom(const QSqlQuery &q)
{
    BookRow b;
    b.id = q.value(0).toLongLong();
    b.name = q.value(1).toString();
    b.author = q.value(2).toString();
    b.category = q.value(3).toString();
    b.status = q.value(4).toString();
    b.newestChapter = q.value(5).toString();
    b.memo = q.value(6).toString();
    b.fileName = q.value(7).toString();
    b.fileSize = q.value(8).toLongLong();
    b.coverName = q.value(9).toString();
    b.updated = q.value(10).toString();
    b.uploader = q.value(11).toLongLong();
    b.review = static_cast<Review>(q.value(12).toInt());
    b.hash = q.value(13).toString();
    return b;
}

BookPage StoreCatalogue::page(const QString &where, const QVariantList &binds, int pageNumber, int pageSize)
{
    BookPage result;
    result.ok = false;
    QSqlQuery &count = m_store.prepared(QStringLiteral("SELECT count(*) FROM books WHERE ") + where);
    for (const QVariant &v : binds)
        count.addBindValue(v);
    if (!m_store.exec(count) || !count.next())
        return result;
    result.totalBooks = count.value(0).toLongLong();
    count.finish();
    result.totalPages = std::max<qint64>(1, (result.totalBooks + pageSize - 1) / pageSize);
    result.page = std::clamp(pageNumber, 1, result.totalPages);
    if (result.totalBooks == 0) {
        result.ok = true;
        return result;
    }

    QSqlQuery &rows = m_store.prepared(
        QStringLiteral("SELECT %1 FROM books WHERE %2 ORDER BY id DESC LIMIT ? OFFSET ?").arg(kBookColumns, where));
    for (const QVariant &v : binds)
        rows.addBindValue(v);
    rows.addBindValue(pageSize);
    rows.addBindValue(qint64(result.page - 1) * pageSize);
    if (!m_store.exec(rows))
        return result;
    result.rows.reserve(pageSize);
    while (rows.next())
        result.rows.append(bookFrom(rows));
    rows.finish();
    result.ok = true;
    return result;
}

BookPage StoreCatalogue::listBooks(const QString &category, int pageNumber, int pageSize)
{
    if (category.isEmpty())
        return page(QStringLiteral("checkif = 1"), {}, pageNumber, pageSize);
    return page(QStringLiteral("checkif = 1 AND class = ?"), {category}, pageNumber, pageSize);
}

BookPage StoreCatalogue::searchBooks(const QString &key, int pageNumber, int pageSize)
{
    if (auto found = indexedSearch(key, pageNumber, pageSize))
        return *found;
    return scanBooks(key, pageNumber, pageSize);
}

BookPage StoreCatalogue::scanBooks(const QString &key, int pageNumber, int pageSize)
{
    const QString pattern = likePattern(key);
    return page(QStringLiteral("checkif = 1 AND (%1 OR %2)")
                    .arg(m_store.dialect().likeCondition(QStringLiteral("name")),
                         m_store.dialect().likeCondition(QStringLiteral("author"))),
                {pattern, pattern}, pageNumber, pageSize);
}

BookPage StoreCatalogue::userBooks(qint64 userId, int pageNumber, int pageSize)
{
    return page(QStringLiteral("uploader = ?"), {userId}, pageNumber, pageSize);
}

std::optional<BookRow> StoreCatalogue::book(qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT %1 FROM books WHERE id = ?").arg(kBookColumns));
    q.addBindValue(id);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    BookRow b = bookFrom(q);
    q.finish();
    return b;
}

std::optional<qint64> StoreCatalogue::bookWithHash(const QString &hash)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT id FROM books WHERE hash = ? AND hash <> ''"));
    q.addBindValue(hash);
    if (!m_store.exec(q) || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

qint64 StoreCatalogue::countBooks()
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT count(*) FROM books"));
    if (!m_store.exec(q) || !q.next())
        return -1;
    const qint64 n = q.value(0).toLongLong();
    q.finish();
    return n;
}

qint64 StoreCatalogue::insertBook(const BookRow &b)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("INSERT INTO books (name, author, class, statue, newchap, memo, filename, "
                                        "filesize, cover, ftime, uploader, checkif, hash) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    q.addBindValue(notNull(b.name));
    q.addBindValue(notNull(b.author));
    q.addBindValue(notNull(b.category));
    q.addBindValue(notNull(b.status));
    q.addBindValue(notNull(b.newestChapter));
    q.addBindValue(notNull(b.memo));
    q.addBindValue(notNull(b.fileName));
    q.addBindValue(b.fileSize);
    q.addBindValue(notNull(b.coverName));
    q.addBindValue(b.updated.isEmpty() ? timeText(QDateTime::currentDateTime()) : b.updated);
    q.addBindValue(uploaderValue(b.uploader));
    q.addBindValue(static_cast<int>(b.review));
    q.addBindValue(notNull(b.hash));
    if (!m_store.exec(q) || !q.next())
        return 0;
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool StoreCatalogue::setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName)
{
    QSqlQuery &q =
        m_store.prepared(QStringLiteral("UPDATE books SET filename = ?, filesize = ?, cover = ? WHERE id = ?"));
    q.addBindValue(notNull(fileName));
    q.addBindValue(fileSize);
    q.addBindValue(notNull(coverName));
    q.addBindValue(id);
    return m_store.exec(q) && q.numRowsAffected() == 1;
}

bool StoreCatalogue::deleteBook(qint64 id)
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("DELETE FROM books WHERE id = ?"));
    q.addBindValue(id);
    return m_store.exec(q);
}

SharedCatalogue &StoreCatalogue::shared()
{
    if (!m_shared) {
        static std::mutex lock;
        static std::map<QString, std::unique_ptr<SharedCatalogue>> all;
        const std::lock_guard guard(lock);
        auto &slot = all[m_store.m_location];
        if (!slot)
            slot = std::make_unique<SharedCatalogue>();
        m_shared = slot.get();
    }
    return *m_shared;
}

void StoreCatalogue::changed()
{
    SharedCatalogue &s = shared();
    s.changes.fetch_add(1);
    s.trustedUntil.store(0);
}

qint64 StoreCatalogue::catalogueVersion()
{
    int trust = m_store.m_dialect ? m_store.dialect().versionTrustMs() : 0;
    SharedCatalogue &s = shared();
    const qint64 now = steadyMs();
    if (trust <= 0 && m_store.m_location.startsWith(u"sqlite:")) {
        std::call_once(s.watchMade, [&] { s.watch = std::make_unique<DatabaseWatch>(m_store.m_location.mid(7)); });
        if (s.watch->watching()) {
            if (s.watch->written()) {
                s.quietFrom.store(now + kQuietMs);
                changed();
            }
            trust = now >= s.quietFrom.load() ? std::numeric_limits<int>::max() : 0;
        }
    }
    if (trust <= 0)
        return readVersion();
    if (now < s.trustedUntil.load(std::memory_order_acquire))
        return s.version.load(std::memory_order_relaxed);
    const quint64 changes = s.changes.load();
    const qint64 version = readVersion();
    if (version >= 0 && s.changes.load() == changes) {
        s.version.store(version, std::memory_order_relaxed);
        s.trustedUntil.store(trust == std::numeric_limits<int>::max() ? std::numeric_limits<qint64>::max() : now + trust,
                             std::memory_order_release);
    }
    return version;
}

std::optional<BookPage> StoreCatalogue::indexedSearch(const QString &key, int pageNumber, int pageSize)
{
    // The rows of a page are read by their ids in one statement.
    if (SearchIndex::unsearchable(key) || pageSize < 1 || pageSize > 500)
        return std::nullopt;
    const qint64 version = catalogueVersion();
    if (version < 0)
        return std::nullopt;
    const auto [index, rowCache] = currentIndex(version);
    if (!index)
        return std::nullopt;
    QString folded = SearchIndex::foldAscii(key);
    if (m_store.isPostgres() && (SearchIndex::hasOtherCase(key) || (!shared().plainAscii && folded != key))) {
        QSqlQuery &lower = m_store.prepared(QStringLiteral("SELECT lower(CAST(? AS TEXT))"));
        lower.addBindValue(key);
        if (!m_store.exec(lower) || !lower.next())
            return std::nullopt;
        folded = lower.value(0).toString();
        lower.finish();
    }

    BookPage result;
    const SearchIndex::Hits hits = index->find(folded);
    result.totalBooks = hits.size();
    result.totalPages = std::max<qint64>(1, (result.totalBooks + pageSize - 1) / pageSize);
    result.page = std::clamp(pageNumber, 1, result.totalPages);
    if (result.totalBooks == 0)
        return result;
    const qsizetype first = qsizetype(result.page - 1) * pageSize;
    const qsizetype last = std::min<qsizetype>(first + pageSize, hits.size());
    result.rows.reserve(pageSize);
    SearchRows &known = *rowCache;
    {
        const std::lock_guard guard(known.lock);
        for (qsizetype i = first; i < last; ++i) {
            const auto row = known.byId.constFind(index->id(hits[i]));
            if (row == known.byId.cend())
                break;
            result.rows.append(*row);
        }
    }
    if (result.rows.size() == last - first)
        return result;

    result.rows.clear();
    QString marks = QStringLiteral("?");
    for (int i = 1; i < pageSize; ++i)
        marks += QStringLiteral(", ?");
    QSqlQuery &rows = m_store.prepared(
        QStringLiteral("SELECT %1 FROM books WHERE id IN (%2) AND checkif = 1 ORDER BY id DESC").arg(kBookColumns, marks));
    for (qsizetype i = first; i < first + pageSize; ++i)
        rows.addBindValue(i < last ? index->id(hits[i]) : qint64(0));
    if (!m_store.exec(rows)) {
        result.ok = false;
        return result;
    }
    while (rows.next())
        result.rows.append(bookFrom(rows));
    rows.finish();
    const std::lock_guard guard(known.lock);
    if (known.byId.size() < kKnownRows) {
        for (const BookRow &b : std::as_const(result.rows))
            known.byId.insert(b.id, b);
    }
    return result;
}

std::shared_ptr<const SearchIndex> StoreCatalogue::searchIndex()
{
    SharedCatalogue &s = shared();
    const std::lock_guard guard(s.indexLock);
    return s.index;
}

StoreCatalogue::Snapshot StoreCatalogue::currentIndex(qint64 version)
{
    SharedCatalogue &s = shared();
    const auto current = [&]() -> Snapshot {
        const std::lock_guard guard(s.indexLock);
        if (s.index && s.index->version() == version)
            return {s.index, s.rows};
        return {};
    };
    if (Snapshot found = current(); found.first)
        return found;
    const std::lock_guard building(s.building);
    if (Snapshot found = current(); found.first)
        return found;
    auto fresh = buildIndex(version);
    if (!fresh)
        return {};
    const std::lock_guard guard(s.indexLock);
    s.index = fresh;
    s.rows = std::make_shared<SearchRows>();
    return {s.index, s.rows};
}

// The version is read before the rows, so a snapshot is never older than its label.
std::shared_ptr<const SearchIndex> StoreCatalogue::buildIndex(qint64 version)
{
    const StoreDialect &dialect = m_store.dialect();
    if (m_store.isPostgres()) {
        QSqlQuery &probe = m_store.prepared(QStringLiteral("SELECT lower(CAST(? AS TEXT))"));
        const QString ascii = QStringLiteral(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                             "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~");
        probe.addBindValue(ascii);
        if (!m_store.exec(probe) || !probe.next())
            return nullptr;
        shared().plainAscii = probe.value(0).toString() == SearchIndex::foldAscii(ascii);
        probe.finish();
    }
    auto index = std::make_shared<SearchIndex>(version);
    QSqlQuery &count = m_store.prepared(QStringLiteral("SELECT count(*) FROM books WHERE checkif = 1"));
    if (!m_store.exec(count) || !count.next())
        return nullptr;
    index->reserve(count.value(0).toLongLong());
    count.finish();
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT id, %1, %2 FROM books WHERE checkif = 1 ORDER BY id DESC")
                                        .arg(dialect.lowered(QStringLiteral("name")),
                                             dialect.lowered(QStringLiteral("author"))));
    if (!m_store.exec(q))
        return nullptr;
    const bool postgres = m_store.isPostgres();
    while (q.next()) {
        const QString name = q.value(1).toString();
        const QString author = q.value(2).toString();
        if (postgres)
            index->add(q.value(0).toLongLong(), name, author);
        else
            index->add(q.value(0).toLongLong(), SearchIndex::foldAscii(name), SearchIndex::foldAscii(author));
    }
    const bool complete = q.lastError().type() == QSqlError::NoError;
    q.finish();
    if (!complete)
        return nullptr;
    index->finish();
    return index;
}

qint64 StoreCatalogue::readVersion()
{
    QSqlQuery &q = m_store.prepared(QStringLiteral("SELECT version FROM catalogue_version"));
    if (!m_store.exec(q) || !q.next())
        return -1;
    const qint64 version = q.value(0).toLongLong();
    q.finish();
    return version;
}

QByteArray StoreCatalogue::cachedAnswer(const QByteArray &key, Answer kind)
{
    const qint64 version = catalogueVersion();
    if (version < 0)
        return {};
    if (version != m_answersVersion) {
        m_answers = {};
        m_searchAnswers = {};
        m_answersVersion = version;
        return {};
    }
    return (kind == Answer::Search ? m_searchAnswers : m_answers).byKey.value(key);
}

void StoreCatalogue::rememberAnswer(const QByteArray &key, const QByteArray &answer, Answer kind)
{
    // Every thread keeps its own, so a few megabytes each: the pages readers ask for again come
    // back soon enough, and long search keys cannot grow the process.
    constexpr qsizetype kCachedAnswers = 512;
    constexpr qint64 kCachedBytes = 4 * 1024 * 1024;
    Answers &answers = kind == Answer::Search ? m_searchAnswers : m_answers;
    const qint64 size = key.size() + answer.size();
    if (size > kCachedBytes / 8)
        return;
    if (answers.byKey.size() >= kCachedAnswers || answers.bytes + size > kCachedBytes)
        answers = {};
    if (const auto old = answers.byKey.constFind(key); old != answers.byKey.cend())
        answers.bytes -= key.size() + old->size();
    answers.byKey.insert(key, answer);
    answers.bytes += size;
}
