#pragma once

#include "http/HttpTypes.h"
#include "routes/FormCodec.h"
#include "routes/ServerConfig.h"

#include <QDateTime>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class EpubCache;
class Store;
struct BookRow;
struct UserRow;

// Maps requests under /readerserver/ and /books/ to answers. Stateless apart from the
// configuration: every call takes the database of the calling thread, so one Router
// serves all transport threads.
class Router
{
public:
    explicit Router(ServerConfig config);
    ~Router();

    Response handle(const Request &request) const;
    // Decides from the head alone how much body to accept, or refuses it unread: uploads of
    // an unknown user or beyond a quota never reach the disk.
    Admission admit(const Request &head) const;
    static constexpr int kMaxUploadParts = 32;

    // The address users reach the server at, for promotion links; set once the port is known
    // unless the host configured one.
    void setPublicUrl(const QString &url)
    {
        std::lock_guard lock(m_publicUrlMutex);
        m_config.publicUrl = url;
    }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setFreeDiskProbe(std::function<qint64()> probe) { m_freeDisk = std::move(probe); }
    // Sign-ups, logins refused by the throttle, uploads: one line each, never a password.
    void setEventLog(std::function<void(const QString &)> log) { m_events = std::move(log); }

private:
    struct Session
    {
        qint64 userId = 0;
        QByteArray tokenHash;
    };

    Response route(const Request &request) const;
    // Runs work against this thread's database; 503 when the database failed it.
    Response guarded(const std::function<Response()> &work) const;
    Response serverInfo() const;
    Response listBooks(const FormCodec::Fields &query) const;
    Response userInfo(const Request &request, const FormCodec::Fields &query) const;
    Response login(const FormCodec::Fields &fields, const Request &request) const;
    struct Throttle
    {
        QString key;
        int lockTries = 0;
        bool delays = true;     // waits grow after the free tries
        bool clearedByLogin = false;
        bool keptWhenBusy = false; // a guess the queue turned away still counts here
        qint64 untilBefore = 0; // its lock before this attempt was counted
    };
    Response verifiedLogin(const QString &name, const QString &password, bool remember,
                           const QList<Throttle> &throttles, const QByteArray &peer) const;
    // Every password goes this way: turned away by the throttles before any hashing (refusal
    // answers with the reason), else checked on the password queue by check, which settles
    // the throttles; busy answers when the queue has no place.
    Response throttledLogin(const QString &name, const Request &request, Response busy,
                            const std::function<Response(const QString &why)> &refusal,
                            std::function<Response(const QList<Throttle> &)> check) const;
    // The account when the password is right and it may log in, else *why says why not.
    std::optional<UserRow> checkedPassword(const QString &name, const QString &password,
                                           const QList<Throttle> &throttles, const QByteArray &peer,
                                           QString *why) const;
    Response check(const Request &request) const;
    Response logout(const Request &request) const;
    Response registerUser(const FormCodec::Fields &fields, const QByteArray &peer) const;
    Response editProfile(const Request &request, const FormCodec::Fields &fields) const;
    Response userBooks(const Request &request, const FormCodec::Fields &query) const;
    Response upload(const Request &request) const;
    std::optional<Response> uploadRefusal(const Request &request, qint64 size) const;
    // Login throttle, per account and address, per address and per account: an attempt counts
    // as failed when it is let through to the password check, and is taken back when right.
    QList<Throttle> loginThrottles(const QString &name, const Request &request) const;
    // The login's place in the password queue: below zero when its address logged in to the
    // account lately, else by the address's recent failures and, among equals, by those of the
    // network around it, so a first guess from a guesser's next address waits behind a
    // newcomer from elsewhere.
    int loginRank(const QString &name, const QByteArray &peer) const;
    QString admitLogin(QList<Throttle> &throttles) const;
    // Sign-ups per address and hour, counted when they arrive.
    bool admitSignup(const QByteArray &peer) const;
    // A visit of a user's promotion link pays that user, once per visitor address and day.
    void promotionVisit(const Request &request, const QString &uid) const;
    void logEvent(const QString &line) const
    {
        if (m_events)
            m_events(line);
    }
    Response bookFile(const Request &request, const QString &id, const QString &name) const;
    // A file streamed from disk, or the byte range the request asks for.
    static Response servedFile(const Request &request, const QString &path, const QByteArray &type);
    // Books as EPUBs and the account's own feed for reading apps (RouterOpds.cpp).
    struct EpubSource
    {
        QString path;  // the text file
        QString cover; // its cover image file, or empty
        QString keyPrefix; // names its EPUBs in the cache, before the hash of their input
        QString title, author, subject, identifier;
        QDateTime date;
        QString reading; // how the account reads the book (BookReading text); empty: the default way
    };
    Response bookEpub(const Request &request, const BookRow &book) const;
    EpubSource epubSourceOf(const BookRow &book) const;
    Response epubAnswer(const Request &request, const EpubSource &source) const;
    // The account's feed behind HTTP Basic; `rest` is what follows "/opds/my/" (a private copy's
    // "p<id>.txt" or "p<id>.epub", a shelf book's "b<id>.epub" cut the account's own way, or
    // nothing for the feed itself).
    Response personalFeed(const Request &request, const QString &rest) const;
    Response privateCopyFile(const Request &request, qint64 userId, qint64 copyId, bool epub) const;
    Response shelfBookEpub(const Request &request, qint64 userId, qint64 bookId) const;
    // The shelf's catalogue books as the account put them there, each with its shelf key; nothing
    // when the database does not answer.
    std::optional<QList<std::pair<BookRow, QString>>> shelfBooks(qint64 userId) const;
    // How the account reads the book of that shelf key; empty for the default way.
    QString readingOf(qint64 userId, const QString &key) const;
    // Reading synchronised through the account, under /folioway/sync/ (RouterSync.cpp).
    Response sync(const Request &request, const QString &lowerPath, const FormCodec::Fields &query) const;
    Admission syncAdmission(const Request &head) const;
    // Private copies of a user's own books, under /folioway/private/ (RouterPrivate.cpp).
    Response privateCopies(const Request &request, const QString &lowerPath, const FormCodec::Fields &query) const;
    Admission privateAdmission(const Request &head) const;
    std::optional<Response> privateRefusal(const Request &request, const QString &fingerprint, qint64 size) const;

    std::optional<Session> session(const Request &request) const;
    QString profileUrl(qint64 userId) const;
    Store &store() const;
    QDateTime now() const { return m_clock(); }

    ServerConfig m_config;
    QString m_location; // of the database
    mutable std::mutex m_publicUrlMutex;
    mutable std::mutex m_loginMutex; // one login admitted at a time, so a burst is counted in turn
    std::function<QDateTime()> m_clock;
    std::function<qint64()> m_freeDisk;
    std::function<void(const QString &)> m_events;
    QByteArray m_serverInfo;
    std::unique_ptr<EpubCache> m_epubs;
};

// The client's account rules, applied again on the server.
namespace AccountRules {
bool emailPlausible(const QString &email);
bool userNameCharacters(const QString &name);
// Empty when acceptable, else the message to answer with.
QString userNameProblem(const QString &name);
QString passwordProblem(const QString &password);
} // namespace AccountRules
