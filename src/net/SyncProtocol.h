#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct HttpResult;

// One thing of a reader's kept on the server: a book's place, a bookmark or a shelf entry,
// named by the book's fingerprint, with the moment it changed where it changed.
struct SyncItem
{
    // "position", "bookmark", "shelf", "successor" (key: a content, payload: the one it became) or
    // "reading" (payload: how the book is read, BookReading::toText())
    QString kind;
    QString key;
    qint64 changed = 0; // ms since 1970 UTC
    bool deleted = false;
    QString payload;
    qint64 seq = 0;  // pull answers only
    QString result;  // push answers only: stored, same, older or full
};

// The server's answer to a push or a pull, read with the XML guard. ok is false when no usable
// answer came; error then says why, in words for the tool tip.
struct SyncAnswer
{
    bool ok = false;
    bool loginNeeded = false; // the login ended or was never made
    QString error;
    qint64 last = 0;
    qint64 next = 0;
    bool more = false;
    QList<SyncItem> items;
    QStringList kinds; // pull answers: the kinds the server takes; empty from a server that does not say
};

namespace SyncLimits {
inline constexpr int PushItems = 500;
inline constexpr int PushBytes = 900 * 1024; // under the server's 1 MiB, with room for the markup
inline constexpr int PullItems = 500;
inline constexpr int PayloadChars = 4000;
} // namespace SyncLimits

// Both end with "&rnt=" and the time, like every address the client builds.
QString SyncPushUrl(const QString &serverBaseUrl);
QString SyncPullUrl(const QString &serverBaseUrl, qint64 after, int limit = SyncLimits::PullItems);
QByteArray SyncPushBody(const QList<SyncItem> &items);
// Parses whole answers: meant for AnswerReader's worker thread.
SyncAnswer DecodeSyncAnswer(const HttpResult &result);
