#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;

// The answer of one request, as the window that asked sees it.
struct HttpResult
{
    int status = 0;      // HTTP status; 0 when no answer came (no connection, timeout, refused)
    QString contentType; // the Content-Type header as sent, parameters included
    QByteArray body;
    bool failed = true; // true for a transport failure; an HTTP error status alone is not one
    QString errorText;  // why it failed: the transport's words, or the timeout's sentence
    bool tooLarge = false; // failed because the answer passed the size limit
    bool timedOut = false; // failed because the server sent nothing for the slot's whole timeout

    bool isOk() const { return !failed && status == 200; }
};

// Why a request got no answer, in words for the user: the server did not answer in time, or
// could not be reached at all.
QString NoAnswerText(const HttpResult &result);

// One request at a time for its owner (a window, a pane). Starting a request aborts the one
// before it; the aborted request's answer is never delivered. The answer arrives through
// finished() on the thread that owns the slot, after the request has left the slot, so a
// handler may start the next request at once. Destroying the slot drops its request unanswered.
class RequestSlot : public QObject
{
    Q_OBJECT
public:
    // Uses the program's shared manager unless one is given (tests).
    explicit RequestSlot(QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);
    ~RequestSlot() override;

    // GET of a finished address (see WebAddress.h). ReadHTTP and LoginHTTP differ only in the
    // loading panel the window shows, which is the caller's business.
    void readHTTP(const QString &address) { get(address); }
    void loginHTTP(const QString &address) { get(address); }
    void get(const QString &address);
    // POST with Content-Type application/x-www-form-urlencoded; the body is sent unchanged.
    void postForm(const QString &address, const QByteArray &body);
    // POST of a body of the given Content-Type, sent unchanged.
    void post(const QString &address, const QByteArray &body, const QByteArray &contentType);

    // Drops the outstanding request without an answer.
    void abort();
    bool isBusy() const { return m_reply != nullptr; }

    // Without data for this long a request fails (status 0). Default 30 s.
    void setTransferTimeout(int ms) { m_timeoutMs = ms; }
    int transferTimeout() const { return m_timeoutMs; }
    // Answers larger than this fail (status 0). Default NetworkLimits::AnswerBytes.
    void setMaxBodyBytes(qint64 bytes) { m_maxBody = bytes; }

Q_SIGNALS:
    void finished(const HttpResult &result);

private:
    void start(QNetworkReply *reply);
    void onFinished();

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    int m_timeoutMs;
    qint64 m_maxBody;
};
