#include "account/SyncPanels.h"

#include "account/AccountSync.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kCatalogueIdRole = Qt::UserRole;
constexpr int kFingerprintRole = Qt::UserRole + 1;

QLabel *addRow(QVBoxLayout *layout, const QString &caption, QWidget *parent)
{
    auto *row = new QHBoxLayout;
    auto *name = new QLabel(caption, parent);
    name->setFixedWidth(90);
    auto *value = new QLabel(parent);
    value->setWordWrap(true);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(name);
    row->addWidget(value, 1);
    layout->addLayout(row);
    return value;
}

} // namespace

SyncStatusPanel::SyncStatusPanel(AccountSync &sync, QWidget *parent) : QWidget(parent), m_sync(sync)
{
    setObjectName(QStringLiteral("SyncStatusFrame"));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("阅读同步：阅读位置、书签和书架在登录同一账号的电脑之间同步。"), this);
    title->setWordWrap(true);
    layout->addWidget(title);
    m_state = addRow(layout, QStringLiteral("同步状态："), this);
    m_lastSynced = addRow(layout, QStringLiteral("上次同步："), this);
    m_error = addRow(layout, QStringLiteral("上次错误："), this);
    m_syncNow = new QPushButton(QStringLiteral("立即同步"), this);
    m_syncNow->setObjectName(QStringLiteral("SyncNow"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_syncNow);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(m_syncNow, &QPushButton::clicked, &m_sync, &AccountSync::syncNow);
    connect(&m_sync, &AccountSync::changed, this, &SyncStatusPanel::refresh);
    refresh();
}

void SyncStatusPanel::refresh()
{
    const SyncEngine::State state = m_sync.state();
    m_state->setText(m_sync.stateText());
    const QDateTime last = m_sync.engine()->lastSynced();
    m_lastSynced->setText(last.isValid() ? last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                         : QStringLiteral("本次运行尚未同步"));
    m_error->setText(m_sync.lastError().isEmpty() ? QStringLiteral("无") : m_sync.lastError());
    // Off has no login to sync with; a failed start-up check is tried again by the button.
    m_syncNow->setEnabled(state == SyncEngine::State::Idle || state == SyncEngine::State::Failed);
}

RemoteBooksPanel::RemoteBooksPanel(AccountSync &sync, QWidget *parent) : QWidget(parent), m_sync(sync)
{
    setObjectName(QStringLiteral("RemoteBooksFrame"));
    m_books = new QTreeWidget(this);
    m_books->setObjectName(QStringLiteral("RemoteBooks"));
    m_books->setRootIsDecorated(false);
    m_books->setHeaderLabels({QStringLiteral("书名"), QStringLiteral("作者"), QStringLiteral("类别")});
    m_books->setColumnWidth(0, 260);
    m_books->setColumnWidth(1, 140);
    m_download = new QPushButton(QStringLiteral("下载"), this);
    m_download->setObjectName(QStringLiteral("RemoteDownload"));
    auto *hint = new QLabel(QStringLiteral("登录同一账号的其他电脑书架上有、这台电脑上没有的书。"), this);
    hint->setWordWrap(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_download);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_books, 1);
    layout->addLayout(buttons);
    connect(m_books, &QTreeWidget::currentItemChanged, this, &RemoteBooksPanel::updateButton);
    connect(m_books, &QTreeWidget::itemDoubleClicked, this, &RemoteBooksPanel::download);
    connect(m_download, &QPushButton::clicked, this, &RemoteBooksPanel::download);
    connect(&m_sync, &AccountSync::changed, this, &RemoteBooksPanel::refresh);
    refresh();
}

void RemoteBooksPanel::refresh()
{
    const QString chosen = m_books->currentItem() ? m_books->currentItem()->data(0, kFingerprintRole).toString() : QString();
    m_books->clear();
    const QList<RemoteBook> books = m_sync.remoteOnlyBooks();
    for (qsizetype i = 0; i < books.size(); ++i) {
        auto *item = new QTreeWidgetItem(m_books, {books[i].name, books[i].author, books[i].type});
        item->setData(0, kCatalogueIdRole, books[i].catalogueId);
        item->setData(0, kFingerprintRole, books[i].fingerprint);
        if (books[i].catalogueId.isEmpty())
            item->setToolTip(0, QStringLiteral("这本书不是从网络书库下载的，无法在这里下载。"));
        if (!chosen.isEmpty() && books[i].fingerprint == chosen)
            m_books->setCurrentItem(item);
    }
    updateButton();
}

void RemoteBooksPanel::updateButton()
{
    const QTreeWidgetItem *item = m_books->currentItem();
    m_download->setEnabled(item && !item->data(0, kCatalogueIdRole).toString().isEmpty());
}

void RemoteBooksPanel::download()
{
    const QTreeWidgetItem *item = m_books->currentItem();
    const QString catalogueId = item ? item->data(0, kCatalogueIdRole).toString() : QString();
    if (catalogueId.isEmpty())
        return;
    m_sync.requestDownload(
        RemoteBook{item->data(0, kFingerprintRole).toString(), item->text(2), item->text(0), item->text(1), catalogueId});
}
