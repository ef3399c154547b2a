#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

struct HttpResult;

// What the catalogue tab asks for. Category and search change their own part and keep the
// other, so paging after a search that followed a category click sends both type and key
// (the server ignores what does not apply to the action). Values are raw text; the address
// builders encode them.
struct CatalogueQuery
{
    QString action;              // "list" or "search"; empty before the first request
    std::optional<QString> type; // category caption, trimmed
    std::optional<QString> key;  // search keyword, trimmed

    void selectCategory(const QString &caption);
    void search(const QString &keyword);
};

// The page numbers of an answer, kept as the server wrote them; all "1" before any answer.
struct CataloguePaging
{
    QString currentPage = QStringLiteral("1");
    QString totalPages = QStringLiteral("1");
    QString previousPage = QStringLiteral("1");
    QString nextPage = QStringLiteral("1");

    QString display() const { return currentPage + QLatin1Char('/') + totalPages; }
    bool operator==(const CataloguePaging &) const = default;
};

// Catalogue addresses: serverBaseUrl + "/readerserver/listbook.asp" + query + "&rnt=" + time.
QString CatalogueBaseAddress(const QString &serverBaseUrl);
// After a category button: action and type only.
QString CategoryListUrl(const QString &serverBaseUrl, const CatalogueQuery &query,
                        const QDateTime &when = QDateTime::currentDateTime());
// After a search: action and key only.
QString SearchUrl(const QString &serverBaseUrl, const CatalogueQuery &query,
                  const QDateTime &when = QDateTime::currentDateTime());
// Paging (first, previous, next, last, go to): action, type, key and page, each part that has
// ever been set.
QString CataloguePageUrl(const QString &serverBaseUrl, const CatalogueQuery &query, const QString &page,
                         const QDateTime &when = QDateTime::currentDateTime());
// The user's uploaded books; no page for the first listing.
QString UserBooksUrl(const QString &serverBaseUrl, const QString &userName, const std::optional<QString> &page = {},
                     const QDateTime &when = QDateTime::currentDateTime());

// One book of a catalogue answer, with the two cells that need formatting already made.
struct CatalogueEntry
{
    QString id;
    QString category; // "class"
    QString name;
    QString author;
    QString statue;
    QString ftime;
    QString size;    // kilobytes as the server wrote it
    QString downurl; // appended to serverBaseUrl (BookFileUrl); its last piece is the file name

    QString updatedText; // ftime as YYYY/M/D
    QString sizeText;    // FormatSizeKB(size)

    // Optional, after downurl; empty when the server sends none.
    QString cover; // address of the cover image, appended to serverBaseUrl like downurl
    QString memo;  // the book's description

    // The nine cells of a catalogue row, in column order.
    QStringList cells() const;
    static QStringList columnCaptions();
    // What a header click sorts a column by: numbers for the book number and the size, the
    // day for the date, the text otherwise.
    QVariant sortKey(int column) const;
};

// Whether a value of the catalogue is a path on the catalogue's own server: it starts with one
// "/" and holds no "\", so that appended to the server's address it cannot name another host.
bool IsServerPath(const QString &path);
// The full address of a book file: serverBaseUrl + downurl, or empty when downurl is not a
// path on the server itself (a book is fetched only from where the catalogue came from).
QString BookFileUrl(const QString &serverBaseUrl, const QString &downurl);
// The address a cover is fetched from, ending with "&rnt=" and the time like every other; empty
// when the server's value is not a path on the server itself (a cover is fetched only from where
// the catalogue came from).
QString CoverUrl(const QString &serverBaseUrl, const QString &cover,
                 const QDateTime &when = QDateTime::currentDateTime());

// How the tab reacts to an answer.
enum class AnswerOutcome
{
    Ignored, // not a 200 answer: hide the loading panel, keep list and paging, say nothing
    Filled,  // replace the rows with entries and take the new paging
    NoData,  // replace the rows with entries (usually none), keep paging, show NoDataMessage()
    Stopped, // a field could not be read: replace the rows with the entries read before it,
             // keep paging, say nothing
};

struct CatalogueAnswer
{
    AnswerOutcome outcome = AnswerOutcome::Ignored;
    QList<CatalogueEntry> entries;
    CataloguePaging paging; // meaningful only when outcome is Filled
    QString problem;        // why an answer beyond XmlLimits was not read (then NoData); else empty
};

// Reads one answer of listbook.asp. Every book element must carry all eight fields and a
// numeric size; processing stops at the first that does not. A missing or malformed document
// counts as an answer without data.
CatalogueAnswer ParseCatalogueAnswer(int status, const QByteArray &body);
CatalogueAnswer ParseCatalogueAnswer(const HttpResult &result);

QString NoDataMessage(); // "没有获取到任何数据！", exclamation icon, default title

// The grey line under the catalogue list after an answer: why nothing or only part of a list
// came ("暂时连不上书库服务器", "书库服务器出错（HTTP 503）", "书库服务器的回答太大", the reader's
// problem, an answer cut short), "没有找到相关书籍" for a whole answer without books; empty for a
// whole list.
QString CatalogueStatusLine(const HttpResult &result, const CatalogueAnswer &answer);

// One book of the user's uploaded-books answer. Unlike the catalogue, a field that is missing
// or unreadable just leaves its cell empty.
struct UserBookEntry
{
    enum class Review
    {
        Pending,
        Approved,
        Rejected
    };

    QString id;
    QString category;
    QString name;
    QString statue;
    QString newchap;
    QString ftime;
    QString checkif;

    QString updatedText() const;
    // statue alone for "全集", otherwise statue + "：" + the size of newchap (empty when not a number).
    QString statusText() const;
    Review review() const;
    QString reviewText() const;   // "已审核", "审核未通过", "待审核"
    unsigned reviewColor() const; // 0xRRGGBB: green, red, grey
    QStringList cells() const;    // six cells in column order
    static QStringList columnCaptions();
};

struct UserBooksAnswer
{
    AnswerOutcome outcome = AnswerOutcome::Ignored; // never Stopped
    QList<UserBookEntry> entries;
    CataloguePaging paging; // when Filled: the old paging with each readable field replaced
};

// previous is the paging on screen: a pageinfo field that is missing keeps its old value.
UserBooksAnswer ParseUserBooksAnswer(int status, const QByteArray &body, const CataloguePaging &previous);

// Text of a size given in kilobytes; nothing when the text is not a number.
std::optional<QString> FormatSizeKB(const QString &kilobytes);
// YYYY/M/D of a date (with or without a time); any other text comes back unchanged.
QString FormatListDate(const QString &text);

// Colours of the list cells, as 0xRRGGBB.
constexpr unsigned TitleCellColor = 0xC64F06;
constexpr unsigned DownloadCellColor = 0x0000FF;
