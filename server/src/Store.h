#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class StoreDialect;

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

// The database's text form of a time.
QString storeTime(const QDateTime &t);

struct BookPage
{
    QList<BookRow> rows;
    int totalPages = 1; // at least 1, so an empty list still reads as page 1 of 1
    qint64 totalBooks = 0;
    int page = 1;
    bool ok = true; // false when the database could not answer
};

struct UserRow
{
    qint64 id = 0;
    QString name;
    QString passHash;
    QString email;
    QString sex;
    QString qq;
    QString question;
    QString answerHash;
    qint64 logins = 0;
    QDateTime lastLogin;     // the latest login (null before the first)
    QDateTime previousLogin; // the one before it, which the profile shows
    qint64 points = 0;
    qint64 money = 0;
    QDateTime created;
    bool disabled = false; // set by the host; such an account cannot log in or upload
};

// What a user has sent that still weighs on the server.
struct UploadUsage
{
    int pending = 0; // awaiting review
    qint64 pendingBytes = 0;
    int lastHour = 0; // uploads since the time asked about
};

// Failed logins under one key ("user:<name>" or "addr:<address>").
struct LoginFailures
{
    int count = 0;
    qint64 last = 0;  // seconds since the epoch
    qint64 until = 0; // no login attempt is considered before this
};

struct ReviewOutcome
{
    bool found = false;
    bool changed = false;
    QList<qint64> replacedIds; // older copies of the same book withdrawn by an approval
};

// The catalogue database. A Qt Sql connection belongs to the thread that opened it, so
// every thread gets its own Store through forThread(). The location names the back end:
// "sqlite:PATH" for the embedded file shared in WAL mode, or a postgresql:// address that
// several server processes may share.
class Store
{
public:
    explicit Store(const QString &location);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The calling thread's store for location, opened on first use.
    static Store &forThread(const QString &location);
    static QString sqliteLocation(const QString &path) { return QStringLiteral("sqlite:") + path; }

    bool open(QString *error = nullptr);
    bool isOpen() const { return m_open; }
    // Counts operations failed because the connection to the database was lost; a request
    // that sees it change was not served.
    quint64 lostCount() const { return m_lostCount; }
    QSqlDatabase database() const;
    // Statements the back end needs after rows were copied in with their ids.
    QStringList afterCopy() const;
    QString lastError() const { return m_lastError; }
    // The location without its password, for messages.
    QString describe() const;
    bool isPostgres() const;

    // Runs work inside a transaction; commits when it returns true.
    bool transaction(const std::function<bool()> &work);

    BookPage listBooks(const QString &category, int page, int pageSize);
    BookPage searchBooks(const QString &key, int page, int pageSize);
    BookPage userBooks(qint64 userId, int page, int pageSize);
    std::optional<BookRow> book(qint64 id);
    std::optional<qint64> bookWithHash(const QString &hash);
    qint64 countBooks();
    qint64 insertBook(const BookRow &book);
    bool setBookFile(qint64 id, const QString &fileName, qint64 fileSize, const QString &coverName);
    bool deleteBook(qint64 id);
    QList<BookRow> pendingBooks();
    ReviewOutcome review(qint64 id, Review verdict, int newBookCoins, int updateCoins);

    std::optional<UserRow> userByName(const QString &name);
    std::optional<UserRow> userById(qint64 id);
    qint64 insertUser(const UserRow &user); // 0 when the name is taken or on error
    bool updateProfile(const UserRow &user);
    // Counts a login and awards the daily points the first time on a calendar day. With
    // firstOfDayOnly nothing changes when the user was already seen that day.
    bool recordLogin(qint64 userId, const QDateTime &now, int dailyPoints, bool firstOfDayOnly = false);
    // Pays coins for a visit of the user's promotion link, once per visitor and day; true
    // when paid.
    bool creditPromotion(qint64 userId, const QString &visitor, const QDate &day, int coins);

    struct UserSummary
    {
        UserRow user;
        int uploads = 0;
    };
    QList<UserSummary> users();
    bool setDisabled(qint64 userId, bool disabled);
    bool setPassword(qint64 userId, const QString &passHash);
    UploadUsage uploadUsage(qint64 userId, const QString &since);
    LoginFailures loginFailures(const QString &key);
    // Counts one failure in a single statement, so processes sharing the database never lose
    // one; the count restarts after forgiveSeconds without failures. Returns the new count
    // (0 on error).
    int countLoginFailure(const QString &key, qint64 now, qint64 forgiveSeconds);
    bool setLoginLock(const QString &key, qint64 until);
    bool clearLoginFailures(const QString &key);
    // Takes back one counted attempt that turned out right, with the lock it may have set.
    bool uncountLoginFailure(const QString &key, qint64 untilBefore);

    bool insertSession(const QByteArray &tokenHash, qint64 userId, qint64 expiresAt);
    std::optional<qint64> sessionUser(const QByteArray &tokenHash, qint64 now);
    bool deleteSession(const QByteArray &tokenHash);
    bool deleteOtherSessions(qint64 userId, const QByteArray &keepTokenHash);
    bool purgeSessions(qint64 now);

    // Catalogue answers built from the database, kept until the catalogue changes in any
    // process (a counter the database bumps on every change to a public book).
    QByteArray cachedAnswer(const QByteArray &key);
    qint64 catalogueVersion(); // -1 when the database cannot answer
    void rememberAnswer(const QByteArray &key, const QByteArray &answer);

private:
    QSqlQuery &prepared(const QString &sql);
    bool exec(QSqlQuery &q);
    // Whether error means the connection is gone; it is then closed and counted.
    bool lost(const QSqlError &error);
    BookPage page(const QString &where, const QVariantList &binds, int page, int pageSize);

    QString m_location;
    std::unique_ptr<StoreDialect> m_dialect;
    QString m_connectionName;
    QString m_lastError;
    bool m_open = false;
    bool m_inTransaction = false;
    quint64 m_lostCount = 0;
    QElapsedTimer m_retryTimer; // since the last failed open
    // Cached prepared statements; held by pointer so references survive later insertions.
    std::map<QString, std::unique_ptr<QSqlQuery>> m_statements;
    QHash<QByteArray, QByteArray> m_answers;
    qint64 m_answersVersion = -1;
};
