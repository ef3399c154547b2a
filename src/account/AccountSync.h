#pragma once

#include "library/LibrarySync.h"
#include "library/SyncEngine.h"

#include <QObject>

class AnswerReader;
class QNetworkAccessManager;
class QTimer;
class RequestSlot;
struct AppContext;

// Reading synchronised through the account, for the whole program: it owns the sync engine,
// starts it when the user centre finds a login and stops it at a logout or when the login is
// gone. At start it checks the login quietly, but only in a program folder where sync was on
// before, so a user who never logged in sees no request. Rounds run when a book is opened or
// left, every few minutes while one is open, and on demand. Nothing here ever asks or tells the
// user anything; the indicator and the user centre show the state.
class AccountSync : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReadingRoundMs = 5 * 60 * 1000;

    // The engine and the start-up check go through `manager`, the program's shared one if null.
    AccountSync(AppContext &ctx, QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);

    SyncEngine *engine() const { return m_engine; }

    // A user-centre answer: logged in as `account`, or nobody is (refused check, logout).
    void accountAnswered(bool loggedIn, const QString &account);
    // The silent check at start; nothing when sync was never on in this program folder.
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
    QString stateText() const;
    // State, last synced time and last error, a line each.
    QString summary() const;
    QList<RemoteBook> remoteOnlyBooks() const;
    // "下载" in the list of other computers' books.
    void requestDownload(const RemoteBook &book) { Q_EMIT downloadRequested(book); }

Q_SIGNALS:
    // The state, the last synced time or the last error changed.
    void changed();
    // A round brought changes into the library.
    void libraryChanged();
    // The shell fetches the book from the catalogue.
    void downloadRequested(const RemoteBook &book);

private:
    void onCheckAnswer(bool answered, bool valid, bool loggedIn, const QString &account);

    AppContext &m_ctx;
    SyncEngine *m_engine;
    RequestSlot *m_checkSlot;
    AnswerReader *m_checkReader;
    QTimer *m_timer;
    QString m_account;
    bool m_checkAgain = false; // the start-up check could not reach the server
};
