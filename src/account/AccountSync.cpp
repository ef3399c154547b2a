#include "account/AccountSync.h"

#include "account/AccountReply.h"
#include "account/PrivateCopyUpload.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "startup/AppContext.h"

#include <QTimer>

namespace {

// Set by "关闭阅读同步". The library's log of changes runs on meanwhile, so that switched on
// again, each change goes with its own moment and nothing made while off is lost.
const auto kSwitchedOff = QStringLiteral("SyncSwitchedOff");

} // namespace

AccountSync::AccountSync(AppContext &ctx, QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_ctx(ctx), m_engine(new SyncEngine(*ctx.db, this, manager)),
      m_privateCopies(new PrivateCopyUpload(ctx.config.serverBaseUrl, this, manager)),
      m_checkSlot(new RequestSlot(this, manager)), m_checkReader(new AnswerReader(this)), m_timer(new QTimer(this))
{
    m_timer->setInterval(ReadingRoundMs);
    connect(m_timer, &QTimer::timeout, this, &AccountSync::readingTick);
    connect(m_engine, &SyncEngine::stateChanged, this, &AccountSync::changed);
    connect(m_engine, &SyncEngine::finished, this, &AccountSync::changed);
    connect(m_engine, &SyncEngine::libraryChanged, this, &AccountSync::libraryChanged);
    connect(m_checkSlot, &RequestSlot::finished, this, [this](const HttpResult &result) {
        m_checkError = result.failed ? NoAnswerText(result) : QString();
        m_checkReader->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                            [this, ok = result.isOk()](const AccountReply &reply) {
                                onCheckAnswer(ok, reply.valid, reply.code == QLatin1String("1"),
                                              reply.profile.uname);
                            });
    });
}

bool AccountSync::isSwitchedOn() const
{
    return m_ctx.db && m_ctx.db->sync().isEnabled() && m_ctx.db->option(kSwitchedOff) != QLatin1String("1");
}

bool AccountSync::storeSwitch(bool on)
{
    return m_ctx.db && m_ctx.db->setOption(kSwitchedOff, on ? QStringLiteral("0") : QStringLiteral("1"));
}

bool AccountSync::switchOn()
{
    if (!m_ctx.db || m_account.isEmpty())
        return false;
    m_checkAgain = false;
    if (!storeSwitch(true))
        return false;
    // The first time, starting the engine starts the library's log and queues the shelf.
    m_engine->start(m_ctx.config.serverBaseUrl, m_account);
    Q_EMIT changed();
    return isSwitchedOn();
}

void AccountSync::switchOff()
{
    m_checkSlot->abort();
    m_checkAgain = false;
    m_engine->stop();
    storeSwitch(false);
    Q_EMIT changed();
    Q_EMIT remoteBooksChanged();
}

void AccountSync::accountAnswered(bool loggedIn, const QString &account)
{
    m_checkAgain = false;
    if (!loggedIn || account.isEmpty()) {
        m_engine->stop();
        m_account.clear();
        Q_EMIT changed();
        return;
    }
    const bool sameAccount = account == m_account;
    m_account = account;
    // A login alone starts nothing; every visit to "用户信息" checks again, and a round under
    // way goes on for the same account.
    if (!isSwitchedOn() || (m_engine->isOn() && sameAccount)) {
        Q_EMIT changed();
        return;
    }
    m_engine->start(m_ctx.config.serverBaseUrl, account);
}

void AccountSync::checkAtStart()
{
    if (!isSwitchedOn() || m_engine->isOn())
        return;
    m_checkAgain = false;
    m_checkSlot->get(CheckUrl(m_ctx.config.serverBaseUrl));
    Q_EMIT changed();
}

bool AccountSync::isChecking() const
{
    return m_checkSlot->isBusy() || m_checkReader->isBusy();
}

void AccountSync::onCheckAnswer(bool answered, bool valid, bool loggedIn, const QString &account)
{
    // The user centre was quicker, or sync was switched off meanwhile.
    if (m_engine->isOn() || !isSwitchedOn()) {
        Q_EMIT changed();
        return;
    }
    if (!answered || !valid) {
        m_checkAgain = true;
        Q_EMIT changed();
        return;
    }
    accountAnswered(loggedIn, account);
}

void AccountSync::syncNow()
{
    if (m_engine->isOn())
        m_engine->syncNow();
    else if (m_checkAgain && !isChecking())
        checkAtStart();
}

void AccountSync::bookOpened()
{
    m_timer->start();
    syncNow();
}

void AccountSync::bookClosed()
{
    syncNow();
}

SyncEngine::State AccountSync::state() const
{
    if (m_engine->isOn())
        return m_engine->state();
    if (isChecking() && isSwitchedOn())
        return SyncEngine::State::Busy;
    return m_checkAgain ? SyncEngine::State::Failed : SyncEngine::State::Off;
}

QString AccountSync::lastError() const
{
    if (!m_engine->isOn() && m_checkAgain)
        return m_checkError.isEmpty() ? QStringLiteral("服务器的回答无法识别。") : m_checkError;
    return m_engine->lastError();
}

QString AccountSync::stateText() const
{
    switch (state()) {
    case SyncEngine::State::Off:
        return isSwitchedOn() ? QStringLiteral("未登录") : QStringLiteral("未开启");
    case SyncEngine::State::Idle:
        return QStringLiteral("已同步");
    case SyncEngine::State::Busy:
        return QStringLiteral("同步中");
    case SyncEngine::State::Failed:
        return QStringLiteral("同步失败");
    }
    return {};
}

QString AccountSync::summary() const
{
    const QDateTime last = m_engine->lastSynced();
    QStringList lines{QStringLiteral("阅读同步：") + stateText(),
                      QStringLiteral("上次同步：") +
                          (last.isValid() ? last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("无"))};
    if (!lastError().isEmpty())
        lines.append(QStringLiteral("错误：") + lastError());
    return lines.join(QLatin1Char('\n'));
}

QList<RemoteBook> AccountSync::remoteOnlyBooks() const
{
    if (!isSwitchedOn())
        return {};
    QList<RemoteBook> books = m_ctx.db->sync().remoteOnlyBooks();
    // A download from the catalogue is known here by its catalogue id as soon as it is on the
    // shelf; its fingerprint waits for the next round.
    QSet<QString> here;
    for (const CatalogueOrigin &origin : CatalogueOrigins(*m_ctx.db))
        here.insert(origin.catalogueId);
    books.removeIf([&here](const RemoteBook &book) { return !book.catalogueId.isEmpty() && here.contains(book.catalogueId); });
    return books;
}
