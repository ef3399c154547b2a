#pragma once

#include "FormCodec.h"
#include "HttpTypes.h"
#include "ServerConfig.h"

#include <QDateTime>

#include <functional>
#include <optional>

class Store;
struct UserRow;

// Maps requests under /readerserver/ and /books/ to answers. Stateless apart from the
// configuration: every call takes the database of the calling thread, so one Router
// serves all transport threads.
class Router
{
public:
    explicit Router(ServerConfig config);

    Response handle(const Request &request) const;
    // Largest body accepted for a request line; larger ones are refused before reading.
    static qint64 bodyLimit(QByteArrayView method, QByteArrayView rawPath);
    static constexpr int kMaxUploadParts = 32;
    static constexpr qint64 kMaxUploadBytes = 64ll * 1024 * 1024;

    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
    struct Session
    {
        qint64 userId = 0;
        QByteArray tokenHash;
    };

    Response serverInfo() const;
    Response listBooks(const FormCodec::Fields &query) const;
    Response userInfo(const Request &request, const FormCodec::Fields &query) const;
    Response login(const FormCodec::Fields &fields) const;
    Response check(const Request &request) const;
    Response logout(const Request &request) const;
    Response registerUser(const FormCodec::Fields &fields) const;
    Response editProfile(const Request &request, const FormCodec::Fields &fields) const;
    Response userBooks(const Request &request, const FormCodec::Fields &query) const;
    Response upload(const Request &request) const;
    Response bookFile(const Request &request, const QString &id, const QString &name) const;

    std::optional<Session> session(const Request &request) const;
    QString profileUrl(const Request &request, qint64 userId) const;
    Store &store() const;
    QDateTime now() const { return m_clock(); }

    ServerConfig m_config;
    std::function<QDateTime()> m_clock;
    QByteArray m_serverInfo;
};

// The client's account rules, applied again on the server.
namespace AccountRules {
bool emailPlausible(const QString &email);
bool userNameCharacters(const QString &name);
// Empty when acceptable, else the message to answer with.
QString userNameProblem(const QString &name);
QString passwordProblem(const QString &password);
} // namespace AccountRules
