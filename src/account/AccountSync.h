#pragma once

#include "library/LibrarySync.h"
#include "library/SyncEngine.h"

#include <QObject>

class AnswerReader;
class PrivateCopyUpload;
class QNetworkAccessManager;
class QTimer;
class RequestSlot;
struct AppContext;

// Reading synchronised through the account, for the whole program. Sync is the user's choice:
// it stays off, and a login or a logout changes nothing about it, until "开启阅读同步" in the
// user centre switches it on for the account logged in there; "关闭阅读同步" switches it off
// again. While it is on, the engine runs whenever the user centre finds the login and stops at a
// logout; at start a quiet check of the login brings it back. Rounds run when a book is opened
// or left, every few minutes while one is open, and on demand. Nothing here ever asks or tells
// the user anything; the indicator and the user centre show the state.
class AccountSync : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReadingRoundMs = 5 * 60 * 1000;

    // The engine and the start-up check go through `manager`, the program's shared one if null.
    AccountSync(AppContext &ctx, QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);

    SyncEngine *engine() const { return m_engine; }
    // "放到我的服务器" and the room the account's private copies take there.
    PrivateCopyUpload *privateCopies() const { return m_privateCopies; }

    // A user-centre answer: logged in as `account`, or nobody is (refused check, logout).
    void accountAnswered(bool loggedIn, const QString &account);
    // The account the last user-centre answer found logged in; empty when none did.
    QString account() const { return m_account; }

    // Whether the user switched sync on in this program folder (kept across runs). Everything
    // that asks goes through here, wherever the switch is kept.
    bool isSwitchedOn() const;
    // "开启阅读同步": needs a login the user centre confirmed; the first round starts at once.
    bool switchOn();
    // "关闭阅读同步": no further requests until it is switched on again.
    void switchOff();

    // The silent check at start; nothing while sync is switched off.
    void checkAtStart();
    bool isChecking() const;

    // A moment to sync: a round when on; when the start-up check could not reach the server,
    // that check again.
    void syncNow();
    // A book was opened in the reader: a round, and one every ReadingRoundMs from now on.
    void bookOpened();
    // The reader left a book for another.
    void bookClosed();
    // What the reading timer runs; tests call it instead of waiting.
    void readingTick() { syncNow(); }
    QTimer *readingTimer() const { return m_timer; }

    // The state shown: the engine's, or Busy while the start-up check runs and Failed when it
    // could not reach the server.
    SyncEngine::State state() const;
    QString lastError() const;
    // The state in one word, the same in the indicator, its tool tip and the user centre.
    QString stateText() const;
    // State, last synced time and last error, a line each.
    QString summary() const;
    // Books the account's other computers keep and this one does not; none while sync is off.
    // A catalogue book downloaded here leaves the list at once, before any round.
    QList<RemoteBook> remoteOnlyBooks() const;
    // "下载" in the list of other computers' books.
    void requestDownload(const RemoteBook &book) { Q_EMIT downloadRequested(book); }
    // Books came onto the shelf or left it here.
    void shelfChanged() { Q_EMIT remoteBooksChanged(); }

Q_SIGNALS:
    // The state, the last synced time or the last error changed.
    void changed();
    // A round brought changes into the library.
    void libraryChanged();
    // The shell fetches the book from the catalogue.
    void downloadRequested(const RemoteBook &book);
    // The list of other computers' books may have changed without a round.
    void remoteBooksChanged();

private:
    bool storeSwitch(bool on);
    void onCheckAnswer(bool answered, bool valid, bool loggedIn, const QString &account);

    AppContext &m_ctx;
    SyncEngine *m_engine;
    PrivateCopyUpload *m_privateCopies;
    RequestSlot *m_checkSlot;
    AnswerReader *m_checkReader;
    QTimer *m_timer;
    QString m_account;
    bool m_checkAgain = false; // the start-up check could not reach the server
    QString m_checkError;      // why, in words
};
