#include "account/AccountSync.h"

#include "account/AccountReply.h"
#include "library/LibraryDb.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "startup/AppContext.h"

#include <QTimer>

AccountSync::AccountSync(AppContext &ctx, QObject *parent, QNetworkAccessManager *manager)
    : QObject(parent), m_ctx(ctx), m_engine(new SyncEngine(*ctx.db, this, manager)),
      m_checkSlot(new RequestSlot(this, manager)), m_checkReader(new AnswerReader(this)), m_timer(new QTimer(this))
{
    m_timer->setInterval(ReadingRoundMs);
    connect(m_timer, &QTimer::timeout, this, &AccountSync::readingTick);
    connect(m_engine, &SyncEngine::stateChanged, this, &AccountSync::changed);
    connect(m_engine, &SyncEngine::finished, this, &AccountSync::changed);
    connect(m_engine, &SyncEngine::libraryChanged, this, &AccountSync::libraryChanged);
    connect(m_checkSlot, &RequestSlot::finished, this, [this](const HttpResult &result) {
        m_checkReader->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                            [this, ok = result.isOk()](const AccountReply &reply) {
                                onCheckAnswer(ok, reply.valid, reply.code == QLatin1String("1"),
                                              reply.profile.uname);
                            });
    });
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
    // Every visit to "用户信息" checks again; a round under way goes on for the same account.
    if (m_engine->isOn() && account == m_account)
        return;
    m_account = account;
    m_engine->start(m_ctx.config.serverBaseUrl, account);
}

void AccountSync::checkAtStart()
{
    if (!m_ctx.db || !m_ctx.db->sync().isEnabled() || m_engine->isOn())
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
    if (m_engine->isOn()) { // the user centre was quicker
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
    if (isChecking())
        return SyncEngine::State::Busy;
    return m_checkAgain ? SyncEngine::State::Failed : SyncEngine::State::Off;
}

QString AccountSync::lastError() const
{
    if (!m_engine->isOn() && m_checkAgain)
        return QStringLiteral("无法连接服务器，稍后再试。");
    return m_engine->lastError();
}

QString AccountSync::stateText() const
{
    switch (state()) {
    case SyncEngine::State::Off:
        return QStringLiteral("未登录");
    case SyncEngine::State::Idle:
        return QStringLiteral("已同步");
    case SyncEngine::State::Busy:
        return QStringLiteral("正在同步…");
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
    return m_ctx.db && m_ctx.db->sync().isEnabled() ? m_ctx.db->sync().remoteOnlyBooks() : QList<RemoteBook>();
}
