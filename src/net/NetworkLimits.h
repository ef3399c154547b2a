#pragma once

#include <QNetworkRequest>
#include <QString>

class QNetworkReply;
class QUrl;

// What the program accepts from a server it does not control. Every request of the program is
// made by GuardedRequest() and watched by GuardReply(), so no answer can grow without bound and
// no redirect leaves the server that was asked; every server text a window shows is cut first.
namespace NetworkLimits {
// The start-up answer is a few hundred bytes.
inline constexpr qint64 ServerInfoBytes = 64 * 1024;
// Catalogue lists, account and upload answers.
inline constexpr qint64 AnswerBytes = 16 * 1024 * 1024;
// A cover image; the server takes none larger than 4 MB.
inline constexpr qint64 CoverBytes = 4 * 1024 * 1024;
// A book streamed to disk.
inline constexpr qint64 BookBytes = qint64(2) * 1024 * 1024 * 1024;
// Redirects are followed only as RedirectAllowed() says, and only this often.
inline constexpr int MaxRedirects = 3;
// Server text in a label, tool tip or message box.
inline constexpr int ShownTextChars = 2000;
} // namespace NetworkLimits

// A request that never answers from a cache and gives up after timeoutMs without data. It
// follows at most MaxRedirects redirects; GuardReply() stops those RedirectAllowed() refuses.
QNetworkRequest GuardedRequest(const QUrl &url, int timeoutMs);

// Whether a redirect from one address to the next may be followed: the same scheme, host and
// port; or the same host moving from http to https, on the same port or from 80 to 443.
bool RedirectAllowed(const QUrl &from, const QUrl &to);

// Aborts reply at the first redirect RedirectAllowed() refuses, and when the server announces or
// sends more than maxBytes. A reply read piece by piece (a book) is kept under the cap by
// its reader, which checks its own count against the limit.
void GuardReply(QNetworkReply *reply, qint64 maxBytes);
// True once GuardReply() has aborted reply for its size.
bool ReplyTooLarge(const QNetworkReply *reply);
// True once GuardReply() has aborted reply at a redirect it refused.
bool ReplyRedirectRefused(const QNetworkReply *reply);

// text cut to maxChars characters, "…" marking the cut.
QString BoundedServerText(const QString &text, int maxChars = NetworkLimits::ShownTextChars);
