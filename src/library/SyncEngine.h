#pragma once

#include "library/LibrarySync.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class AnswerReader;
class LibraryDb;
class QNetworkAccessManager;
class RequestSlot;
struct HttpResult;
struct SyncAnswer;

// Keeps the library's places, bookmarks and shelf entries in step with the account on the
// server. A round fingerprints the shelf's files on a worker thread, fetches what changed
// elsewhere since the last round and lets the library take it, then sends the changes waiting
// in the library (in batches the server takes); it fetches again only when someone else stored
// something between its pushes, so a computer never fetches back what it sent itself. Every step waits for its answer through the event
// loop, so the window never waits for a round; a round asked for while one runs follows it.
// A failed round keeps the waiting changes for the next. Nothing happens before start().
class SyncEngine : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Off,
        Idle,
        Busy,
        Failed
    };
    Q_ENUM(State)

    // Uses the program's shared manager (and its login cookies) unless one is given.
    explicit SyncEngine(LibraryDb &db, QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);
    ~SyncEngine() override;

    // A login of `account` on that server was confirmed: the library starts logging changes and
    // a round begins. Another account or server than last time fetches everything again.
    void start(const QString &serverBaseUrl, const QString &account);
    // Logged out: no further rounds; the library keeps logging and sends later.
    void stop();
    bool isOn() const { return m_state != State::Off; }

    void syncNow();

    State state() const { return m_state; }
    // Why the last round failed, in words for a tool tip; empty after a good round.
    QString lastError() const { return m_lastError; }
    QDateTime lastSynced() const { return m_lastSynced; }

Q_SIGNALS:
    void stateChanged(SyncEngine::State state);
    // A round ended; ok false when it failed (see lastError()).
    void finished(bool ok);
    // The shelf or a bookmark was changed from the server, or a newer place arrived.
    void libraryChanged();

private:
    void setState(State state);
    void pushNext();
    void onPushed(const SyncAnswer &answer);
    void pull(qint64 after);
    void onPulled(qint64 after, const SyncAnswer &answer);
    void endRound(bool ok, const QString &error = {});
    template <typename Next>
    void readAnswer(const HttpResult &result, Next next);

    LibraryDb &m_db;
    RequestSlot *m_slot;
    AnswerReader *m_reader;
    QString m_server;
    State m_state = State::Off;
    static constexpr int MaxPushesPerRound = 1000; // 500,000 changes
    bool m_again = false;
    bool m_pullAgain = false;       // another computer stored items between this round's pushes
    bool m_pulledAfterPush = false; // the round's last fetch, after its pushes
    bool m_takesReadings = false;   // the server said it takes "reading" items (an older one refuses them)
    int m_pushes = 0;
    QList<PendingSyncItem> m_sent;
    QString m_warning;
    QString m_lastError;
    QDateTime m_lastSynced;
    // Set when the engine stops or goes: the files being fingerprinted are left for the next time,
    // so closing the program never waits for a whole shelf to be read.
    std::shared_ptr<std::atomic_bool> m_stop = std::make_shared<std::atomic_bool>(false);
};
