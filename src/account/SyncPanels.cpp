#include "account/SyncPanels.h"

#include "account/AccountSync.h"
#include "account/PrivateCopyUpload.h"

#include <QCollator>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kCatalogueIdRole = Qt::UserRole;
constexpr int kFingerprintRole = Qt::UserRole + 1;
constexpr int kChangedRole = Qt::UserRole + 2;

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

// Titles and names in the order a Chinese reader looks them up (by pinyin), times by the moment.
class RemoteBookItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == RemoteBooksPanel::TimeColumn)
            return data(0, kChangedRole).toLongLong() < other.data(0, kChangedRole).toLongLong();
        static const QCollator collator = [] {
            QCollator c{QLocale(QLocale::Chinese, QLocale::China)};
            c.setNumericMode(true);
            c.setCaseSensitivity(Qt::CaseInsensitive);
            return c;
        }();
        return collator.compare(text(column), other.text(column)) < 0;
    }
};

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
    m_switch = new QPushButton(this);
    m_switch->setObjectName(QStringLiteral("SyncSwitch"));
    m_syncNow = new QPushButton(QStringLiteral("立即同步"), this);
    m_syncNow->setObjectName(QStringLiteral("SyncNow"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_switch);
    buttons->addWidget(m_syncNow);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    m_hint = new QLabel(this);
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);
    // Beside the sync: the books kept on the server for this account alone.
    layout->addSpacing(12);
    m_privateCopies = addRow(layout, QStringLiteral("我的服务器："), this);
    m_privateCopies->setObjectName(QStringLiteral("PrivateCopyUsage"));
    layout->addStretch(1);
    PrivateCopyUpload *copies = m_sync.privateCopies();
    connect(copies, &PrivateCopyUpload::usageChanged, this, &SyncStatusPanel::showPrivateCopies);
    connect(copies, &PrivateCopyUpload::progress, this, &SyncStatusPanel::showPrivateCopies);
    connect(copies, &PrivateCopyUpload::finished, this, &SyncStatusPanel::showPrivateCopies);
    showPrivateCopies();
    connect(m_switch, &QPushButton::clicked, this, &SyncStatusPanel::toggle);
    connect(m_syncNow, &QPushButton::clicked, &m_sync, &AccountSync::syncNow);
    connect(&m_sync, &AccountSync::changed, this, &SyncStatusPanel::refresh);
    refresh();
}

void SyncStatusPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_sync.privateCopies()->signedIn(m_sync.account()))
        m_sync.privateCopies()->refreshUsage();
}

void SyncStatusPanel::showPrivateCopies()
{
    const PrivateCopyUpload *copies = m_sync.privateCopies();
    QString text = copies->usageText();
    if (!copies->progressText().isEmpty())
        text += u'\n' + copies->progressText();
    m_privateCopies->setText(text);
}

void SyncStatusPanel::toggle()
{
    if (m_sync.isSwitchedOn())
        m_sync.switchOff();
    else
        m_sync.switchOn();
}

void SyncStatusPanel::refresh()
{
    const SyncEngine::State state = m_sync.state();
    const bool on = m_sync.isSwitchedOn();
    m_state->setText(m_sync.stateText());
    const QDateTime last = m_sync.engine()->lastSynced();
    m_lastSynced->setText(last.isValid() ? last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                         : QStringLiteral("本次运行尚未同步"));
    m_error->setText(m_sync.lastError().isEmpty() ? QStringLiteral("无") : m_sync.lastError());
    m_switch->setText(on ? QStringLiteral("关闭阅读同步") : QStringLiteral("开启阅读同步"));
    // Switching on needs the account this window found logged in.
    m_switch->setEnabled(on || !m_sync.account().isEmpty());
    // Off has no login to sync with; a failed start-up check is tried again by the button.
    m_syncNow->setEnabled(state == SyncEngine::State::Idle || state == SyncEngine::State::Failed);
    if (on)
        m_hint->setText(QStringLiteral("关闭后这台电脑不再与账号同步；关闭期间的改动在再次开启时补上。"));
    else if (m_sync.account().isEmpty())
        m_hint->setText(QStringLiteral("阅读同步未开启。确认登录后可以在这里开启。"));
    else
        m_hint->setText(QStringLiteral("阅读同步未开启。开启后，这台电脑的书架、书签和阅读位置与账号“%1”同步。")
                            .arg(m_sync.account()));
}

RemoteBooksPanel::RemoteBooksPanel(AccountSync &sync, QWidget *parent) : QWidget(parent), m_sync(sync)
{
    setObjectName(QStringLiteral("RemoteBooksFrame"));
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("RemoteBooksFilter"));
    m_filter->setPlaceholderText(QStringLiteral("筛选：书名、作者、类别"));
    m_filter->setClearButtonEnabled(true);
    m_books = new QTreeWidget(this);
    m_books->setObjectName(QStringLiteral("RemoteBooks"));
    m_books->setRootIsDecorated(false);
    m_books->setHeaderLabels({QStringLiteral("书名"), QStringLiteral("作者"), QStringLiteral("类别"), QStringLiteral("时间")});
    m_books->headerItem()->setToolTip(TimeColumn, QStringLiteral("另一台电脑最后一次改动这本书的书架信息的时间"));
    m_books->setColumnWidth(NameColumn, 220);
    m_books->setColumnWidth(AuthorColumn, 110);
    m_books->setColumnWidth(TypeColumn, 80);
    // The time reads newest first from the first click on.
    m_books->headerItem()->setData(TimeColumn, Qt::InitialSortOrderRole, int(Qt::DescendingOrder));
    m_books->setSortingEnabled(true);
    m_books->sortByColumn(TimeColumn, Qt::DescendingOrder);
    m_download = new QPushButton(QStringLiteral("下载"), this);
    m_download->setObjectName(QStringLiteral("RemoteDownload"));
    m_count = new QLabel(this);
    auto *hint = new QLabel(QStringLiteral("登录同一账号的其他电脑书架上有、这台电脑上没有的书。"), this);
    hint->setWordWrap(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_download);
    buttons->addWidget(m_count);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_filter);
    layout->addWidget(m_books, 1);
    layout->addLayout(buttons);
    connect(m_filter, &QLineEdit::textChanged, this, &RemoteBooksPanel::applyFilter);
    connect(m_books, &QTreeWidget::currentItemChanged, this, &RemoteBooksPanel::updateButton);
    connect(m_books, &QTreeWidget::itemDoubleClicked, this, &RemoteBooksPanel::download);
    connect(m_download, &QPushButton::clicked, this, &RemoteBooksPanel::download);
    connect(&m_sync, &AccountSync::changed, this, &RemoteBooksPanel::refresh);
    connect(&m_sync, &AccountSync::remoteBooksChanged, this, &RemoteBooksPanel::refresh);
    refresh();
}

void RemoteBooksPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void RemoteBooksPanel::refresh()
{
    const QString chosen = m_books->currentItem() ? m_books->currentItem()->data(0, kFingerprintRole).toString() : QString();
    m_books->clear();
    const QList<RemoteBook> books = m_sync.remoteOnlyBooks();
    QTreeWidgetItem *again = nullptr;
    for (const RemoteBook &book : books) {
        const QString when = book.changed > 0
                                 ? QDateTime::fromMSecsSinceEpoch(book.changed).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                 : QString();
        auto *item = new RemoteBookItem(m_books, {book.name, book.author, book.type, when});
        item->setData(0, kCatalogueIdRole, book.catalogueId);
        item->setData(0, kFingerprintRole, book.fingerprint);
        item->setData(0, kChangedRole, book.changed);
        if (book.catalogueId.isEmpty())
            item->setToolTip(NameColumn, QStringLiteral("这本书不是从网络书库下载的，无法在这里下载。"));
        if (!chosen.isEmpty() && book.fingerprint == chosen)
            again = item;
    }
    applyFilter();
    if (!m_sync.isSwitchedOn())
        m_count->setText(QStringLiteral("阅读同步未开启（在“同步状态”里开启）。"));
    if (again && !again->isHidden())
        m_books->setCurrentItem(again);
    updateButton();
}

void RemoteBooksPanel::applyFilter()
{
    const QString word = m_filter->text().trimmed();
    int shown = 0;
    for (int i = 0; i < m_books->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_books->topLevelItem(i);
        const bool match = word.isEmpty() || item->text(NameColumn).contains(word, Qt::CaseInsensitive) ||
                           item->text(AuthorColumn).contains(word, Qt::CaseInsensitive) ||
                           item->text(TypeColumn).contains(word, Qt::CaseInsensitive);
        item->setHidden(!match);
        shown += match ? 1 : 0;
    }
    if (m_books->currentItem() && m_books->currentItem()->isHidden())
        m_books->setCurrentItem(nullptr);
    const int all = m_books->topLevelItemCount();
    m_count->setText(word.isEmpty() ? QStringLiteral("共 %1 本").arg(all) : QStringLiteral("共 %1 本，显示 %2 本").arg(all).arg(shown));
    updateButton();
}

void RemoteBooksPanel::updateButton()
{
    const QTreeWidgetItem *item = m_books->currentItem();
    m_download->setEnabled(item && !item->isHidden() && !item->data(0, kCatalogueIdRole).toString().isEmpty());
}

void RemoteBooksPanel::download()
{
    const QTreeWidgetItem *item = m_books->currentItem();
    const QString catalogueId = item && !item->isHidden() ? item->data(0, kCatalogueIdRole).toString() : QString();
    if (catalogueId.isEmpty())
        return;
    m_sync.requestDownload(RemoteBook{item->data(0, kFingerprintRole).toString(), item->text(TypeColumn),
                                      item->text(NameColumn), item->text(AuthorColumn), catalogueId,
                                      item->data(0, kChangedRole).toLongLong()});
}
