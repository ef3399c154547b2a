#pragma once

#include "http/HttpTypes.h"
#include "routes/ServerConfig.h"
#include "store/StoreCatalogue.h"
#include "web/WebBooks.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>

#include <functional>
#include <mutex>
#include <optional>

class Router;
class Store;

// The reader for phones and browsers under /read/: its page, compiled in as resources, and the
// small JSON answers the page asks for. Logins go through the account handlers of the router
// unchanged, so the same rules, throttles and cookie hold; everything else is answered here and
// the rest of the server is handed to the router.
class WebReader
{
public:
    WebReader(const Router &router, ServerConfig config);

    Response handle(const Request &request) const;
    Admission admit(const Request &head) const;
    static bool owns(QByteArrayView path);

    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // The token a page of this browser sends with every request that changes something; empty
    // without the browser's own cookie.
    QByteArray tokenFor(const QByteArray &browserCookie) const;

    static inline const QByteArray kBrowserCookie = "folioway_web";
    static inline const QByteArray kTokenHeader = "x-folioway-token";

private:
    struct Caller
    {
        qint64 userId = 0;
        QString name;
    };

    Response route(const Request &request, const QString &path) const;
    Response asset(const Request &request, const QString &name) const;
    Response session(const Request &request) const;
    Response login(const Request &request) const;
    Response logout(const Request &request) const;
    Response catalogue(const Request &request) const;
    Response shelf(const Caller &caller) const;
    Response addToShelf(const Caller &caller, const Request &request) const;
    // A book the page may open: a catalogue book, or a private copy of the caller's ("p<id>").
    struct Served
    {
        QJsonObject about; // what the page is told of it
        std::optional<BookRow> row;
        QString source; // a private copy's file, and the key its chapter lists are kept under
        QString cacheKey;
    };
    Response book(const Caller &caller, const QStringList &parts, const Request &request) const;
    Response savePlace(const Caller &caller, const Served &book, const Request &request) const;
    // With `recent` as for readable().
    std::optional<Served> served(const Caller &caller, const QString &id, bool recent = false) const;
    // Private copies (WebPrivate.cpp): the caller's copy named "p<id>", and the name of the
    // caller's copy of a fingerprint ("" for none).
    std::optional<Served> privateCopy(const Caller &caller, const QString &id) const;
    QString privateCopyOf(const Caller &caller, const QString &fingerprint) const;

    // With `recent`, for reading a chapter, an answer of the last kRecentMs serves again: the page
    // turns of many readers need no database at all. Everything else asks the database.
    std::optional<Caller> caller(const Request &request, bool recent = false) const;
    bool tokenMatches(const Request &request) const;
    // The book when the caller may read it: approved, or the caller's own upload.
    std::optional<BookRow> readable(const Caller &caller, qint64 id, bool recent = false) const;
    // The chapter list the caller reads the book by: the way chosen on the desktop, which travels
    // as a sync item, or, with `rule` from a page that has its list already, exactly that list
    // (null when the list the page has is no longer there: the way changed meanwhile).
    std::shared_ptr<const WebToc> tocFor(const Caller &caller, const Served &book) const;
    std::shared_ptr<const WebToc> tocFor(const Caller &caller, const Served &book, const QString &rule) const;
    Store &store() const;
    QDateTime now() const { return m_clock(); }

    const Router &m_router;
    ServerConfig m_config;
    QString m_location;
    QByteArray m_secret;
    WebBooks m_books;
    std::function<QDateTime()> m_clock;

    static constexpr qint64 kRecentMs = 2000;
    template <typename T>
    struct Recent
    {
        T value;
        qint64 until = 0; // steady clock, ms
    };
    mutable std::mutex m_recentMutex;
    mutable QHash<QByteArray, Recent<Caller>> m_recentCallers; // by the session cookie
    mutable QHash<qint64, Recent<BookRow>> m_recentBooks;
};

namespace WebAnswers {
// Every answer under /read/ carries these: nothing but the server's own scripts and styles,
// never inside a frame, never sniffed.
void secure(Response &r);
Response json(const QJsonObject &object, int status = 200);
Response problem(int status, const QString &message);
} // namespace WebAnswers
