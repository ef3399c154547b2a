#include "library/SyncEngine.h"

#include "library/LibraryDb.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "net/SyncProtocol.h"

#include <algorithm>

SyncEngine::SyncEngine(LibraryDb &db, QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_db(db), m_slot(new RequestSlot(this, manager)), m_reader(new AnswerReader(this))
{}

SyncEngine::~SyncEngine()
{
    m_stop->store(true);
}

void SyncEngine::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void SyncEngine::start(const QString &serverBaseUrl, const QString &account)
{
    if (m_state == State::Busy)
        stop();
    m_server = serverBaseUrl;
    if (!m_db.sync().enable()) {
        m_lastError = QStringLiteral("无法记录同步数据：%1").arg(m_db.lastError());
        setState(State::Failed);
        return;
    }
    m_db.sync().resetFor(serverBaseUrl + QLatin1Char('\n') + account);
    setState(State::Idle);
    syncNow();
}

void SyncEngine::stop()
{
    m_slot->abort();
    m_stop->store(true);
    m_stop = std::make_shared<std::atomic_bool>(false);
    // A read in flight is superseded by this empty one, whose result nobody waits for.
    m_reader->read([] { return 0; }, [](int) {});
    m_again = false;
    setState(State::Off);
}

void SyncEngine::syncNow()
{
    if (m_state == State::Off)
        return;
    if (m_state == State::Busy) {
        m_again = true;
        return;
    }
    setState(State::Busy);
    m_warning.clear();
    m_pushes = 0;
    m_pulledAfterPush = false;
    m_pullAgain = false;
    m_reader->read([entries = m_db.sync().fingerprintEntries(), stop = m_stop] {
                       return RefreshFingerprints(entries, stop.get());
                   },
                   [this](const QList<FingerprintEntry> &fresh) {
                       if (!fresh.isEmpty())
                           m_db.sync().storeFingerprints(fresh);
                       pull(m_db.sync().cursor());
                   });
}

template <typename Next>
void SyncEngine::readAnswer(const HttpResult &result, Next next)
{
    m_reader->read([result] { return DecodeSyncAnswer(result); }, std::move(next));
}

void SyncEngine::pushNext()
{
    // Every push settles what it sent, so a round ends; a library that cannot record that
    // must not send the same items for ever.
    if (++m_pushes > MaxPushesPerRound)
        return endRound(false, QStringLiteral("同步的变化未能记录：%1").arg(m_db.lastError()));
    m_sent = m_db.sync().pendingItems(SyncLimits::PushItems, m_takesReadings);
    qint64 bytes = 0;
    for (qsizetype i = 0; i < m_sent.size(); ++i) {
        bytes += 3 * (m_sent[i].item.key.size() + m_sent[i].item.payload.size()) + 200;
        if (bytes > SyncLimits::PushBytes && i > 0) {
            m_sent.resize(i);
            break;
        }
    }
    if (m_sent.isEmpty()) {
        // What others stored between this computer's pushes is fetched; its own never are.
        if (m_pullAgain) {
            m_pulledAfterPush = true;
            return pull(m_db.sync().cursor());
        }
        return endRound(true, m_warning);
    }
    QList<SyncItem> items;
    for (const PendingSyncItem &p : std::as_const(m_sent))
        items.append(p.item);
    connect(m_slot, &RequestSlot::finished, this, [this](const HttpResult &result) {
        readAnswer(result, [this](const SyncAnswer &answer) { onPushed(answer); });
    }, Qt::SingleShotConnection);
    m_slot->post(SyncPushUrl(m_server), SyncPushBody(items), QByteArrayLiteral("application/xml; charset=utf-8"));
}

void SyncEngine::onPushed(const SyncAnswer &answer)
{
    if (!answer.ok)
        return endRound(false, answer.error);
    // The answer speaks of the items sent, in their order; one that does not cannot be trusted.
    if (answer.items.size() != m_sent.size())
        return endRound(false, QStringLiteral("服务器的同步回答不完整。"));
    QList<SyncItem> newer;
    QList<SyncItem> held;
    for (qsizetype i = 0; i < m_sent.size(); ++i) {
        const SyncItem &kept = answer.items[i];
        if (kept.kind != m_sent[i].item.kind || kept.key != m_sent[i].item.key)
            return endRound(false, QStringLiteral("服务器的同步回答不完整。"));
        if (kept.result == QLatin1String("stored") || kept.result == QLatin1String("same")) {
            held.append(m_sent[i].item);
        } else if (kept.result == QLatin1String("older")) {
            newer.append(kept);
        } else if (kept.result == QLatin1String("full")) {
            m_warning = QStringLiteral("账号里同步的项目已达上限，部分变化未能保存。");
        } else if (kept.result != QLatin1String("stored") && kept.result != QLatin1String("same")) {
            return endRound(false, QStringLiteral("服务器的同步回答无法识别。"));
        }
    }
    m_db.sync().settle(m_sent, held);
    // When the numbers the server gave this push follow the cursor with no gap, nobody else
    // stored anything meanwhile: the cursor passes them, and they are never fetched back.
    const qint64 cursor = m_db.sync().cursor();
    const auto stored = std::count_if(answer.items.cbegin(), answer.items.cend(), [cursor](const SyncItem &i) {
        return i.result == QLatin1String("stored") && i.seq > cursor;
    });
    if (answer.last == cursor + stored)
        m_db.sync().setCursor(answer.last);
    else if (answer.last > cursor)
        m_pullAgain = true;
    if (!newer.isEmpty()) {
        if (!m_db.sync().apply(newer))
            return endRound(false, QStringLiteral("无法保存同步数据：%1").arg(m_db.lastError()));
        Q_EMIT libraryChanged();
    }
    pushNext();
}

void SyncEngine::pull(qint64 after)
{
    connect(m_slot, &RequestSlot::finished, this, [this, after](const HttpResult &result) {
        readAnswer(result, [this, after](const SyncAnswer &answer) { onPulled(after, answer); });
    }, Qt::SingleShotConnection);
    m_slot->get(SyncPullUrl(m_server, after));
}

void SyncEngine::onPulled(qint64 after, const SyncAnswer &answer)
{
    if (!answer.ok)
        return endRound(false, answer.error);
    // The server's data came back from an older copy: everything is fetched again.
    if (answer.last < after) {
        m_db.sync().setCursor(0);
        return pull(0);
    }
    if (!answer.items.isEmpty()) {
        if (!m_db.sync().apply(answer.items))
            return endRound(false, QStringLiteral("无法保存同步数据：%1").arg(m_db.lastError()));
        Q_EMIT libraryChanged();
    }
    if (answer.next > after)
        m_db.sync().setCursor(answer.next);
    m_takesReadings = answer.kinds.contains(QLatin1String("reading"));
    if (answer.more && answer.next > after)
        return pull(answer.next);
    m_pullAgain = false;
    if (m_pulledAfterPush)
        return endRound(true, m_warning);
    // Rows that appeared before their items came take them, then the changes here go.
    if (!m_db.sync().takeAccountValues())
        return endRound(false, QStringLiteral("无法保存同步数据：%1").arg(m_db.lastError()));
    pushNext();
}

void SyncEngine::endRound(bool ok, const QString &error)
{
    m_sent.clear();
    m_lastError = error;
    if (ok)
        m_lastSynced = QDateTime::currentDateTime();
    setState(ok ? State::Idle : State::Failed);
    Q_EMIT finished(ok);
    if (m_again && m_state != State::Off) {
        m_again = false;
        syncNow();
    }
}
