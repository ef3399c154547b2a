#include "catalogue/DownloadList.h"

#include "catalogue/DownloadQueue.h"
#include "platform/Prompter.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace {

// Where a row's bar stands, 0..100; absent while the size is unknown.
constexpr int PercentRole = Qt::UserRole + 1;
// A failed transfer: the cell is drawn as a plain red cell, without the bar.
constexpr int FailedRole = Qt::UserRole + 2;

// The progress cell as a bar with the cell's own text on it.
class ProgressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QVariant percent = index.data(PercentRole);
        if (!percent.isValid() || index.data(FailedRole).toBool()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget); // background, selection

        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.state = option.state | QStyle::State_Horizontal;
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = percent.toInt();
        bar.text = index.data(Qt::DisplayRole).toString().trimmed();
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        bar.palette = option.palette;
        if (const QVariant colour = index.data(Qt::ForegroundRole); colour.isValid())
            bar.palette.setBrush(QPalette::Text, colour.value<QBrush>());
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

} // namespace

DownloadList::DownloadList(DownloadQueue *queue, QWidget *parent)
    : QTreeWidget(parent), m_queue(queue),
      m_openFolder([](const QString &folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); })
{
    setObjectName(QStringLiteral("DownloadList"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHeaderLabels({QStringLiteral("下载任务"), QStringLiteral("下载进度"), QStringLiteral("状态"),
                     QStringLiteral("速度"), QStringLiteral("剩余时间")});
    setColumnWidth(ColTask, 220);
    setColumnWidth(ColProgress, 90);
    setColumnWidth(ColState, 230);
    setColumnWidth(ColSpeed, 200); // room for a failed row's reason and its retry
    header()->setStretchLastSection(true);
    setItemDelegateForColumn(ColProgress, new ProgressDelegate(this));

    m_strip = new QWidget(this);
    m_strip->setObjectName(QStringLiteral("DownloadControls"));
    auto *strip = new QHBoxLayout(m_strip);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(6);
    const std::pair<QString, int (DownloadQueue::*)()> controls[] = {
        {QStringLiteral("全部暂停"), &DownloadQueue::pauseAll},
        {QStringLiteral("全部继续"), &DownloadQueue::resumeAll},
        {QStringLiteral("重试全部失败"), &DownloadQueue::retryAllFailed},
        {QStringLiteral("清除已完成"), &DownloadQueue::clearFinished},
    };
    for (const auto &[caption, act] : controls) {
        auto *button = new QToolButton(m_strip);
        button->setText(caption);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, act = act] { (m_queue->*act)(); });
        strip->addWidget(button);
        m_controls.append(button);
    }
    updateControls();

    connect(queue, &DownloadQueue::rowAdded, this, &DownloadList::addRow);
    connect(queue, &DownloadQueue::rowChanged, this, &DownloadList::updateRow);
    connect(queue, &DownloadQueue::rowRemoved, this, [this](int row) {
        delete takeTopLevelItem(row);
        updateControls();
    });
}

// Each control is enabled while some row is there for it to act on.
void DownloadList::updateControls()
{
    bool running = false, paused = false, failed = false, finished = false;
    for (int i = 0; i < m_queue->rows().size(); ++i) {
        const DownloadRow &r = m_queue->rows()[i];
        running |= m_queue->canPause(i);
        paused |= r.paused;
        failed |= (r.look == DownloadRow::Look::Failed || r.startFailed) && !r.url.isEmpty();
        finished |= r.finished;
    }
    m_controls[PauseAll]->setEnabled(running);
    m_controls[ResumeAll]->setEnabled(paused);
    m_controls[RetryFailed]->setEnabled(failed);
    m_controls[ClearFinished]->setEnabled(finished);
}

void DownloadList::addRow(int row)
{
    auto *item = new QTreeWidgetItem(this);
    Q_ASSERT(topLevelItemCount() == row + 1);
    updateRow(row);
    scrollToItem(item);
}

void DownloadList::updateRow(int row)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (!item || row >= m_queue->rows().size())
        return;
    const DownloadRow &r = m_queue->rows()[row];
    item->setText(ColTask, r.task);
    item->setText(ColProgress, r.progress);
    item->setText(ColState, r.status);
    item->setText(ColSpeed, r.speed);
    item->setText(ColTimeLeft, r.timeLeft);
    const QBrush normal = palette().text();
    const QColor red(255, 0, 0);
    for (int c = ColTask; c <= ColTimeLeft; ++c) {
        item->setForeground(c, r.look == DownloadRow::Look::Failed ? QBrush(red) : normal);
        item->setToolTip(c, r.look == DownloadRow::Look::Failed || r.startFailed ? r.failure : QString());
    }
    if (r.look == DownloadRow::Look::Received)
        item->setForeground(ColState, QColor(0, 0, 255));
    else if (r.look == DownloadRow::Look::ImportFailed)
        item->setForeground(ColState, red);

    QVariant percent;
    if (r.look == DownloadRow::Look::Received || r.look == DownloadRow::Look::ImportFailed)
        percent = 100;
    else if (r.bytesTotal > 0 && r.progress != QLatin1String(" "))
        percent = int(std::clamp<qint64>(r.bytesRead * 100 / r.bytesTotal, 0, 100));
    item->setData(ColProgress, PercentRole, percent);
    item->setData(ColProgress, FailedRole, r.look == DownloadRow::Look::Failed);
    updateControls();
}

QMenu *DownloadList::menuFor(int row)
{
    auto *menu = new QMenu(this);
    if (row < 0 || row >= m_queue->rows().size())
        return menu;
    const QString saveFile = m_queue->rows()[row].saveFile;
    // Rows move when one is removed; each action finds its row again by its file.
    const auto at = [this, saveFile] { return m_queue->rowOf(saveFile); };

    menu->addAction(QStringLiteral("取消"), this, [this, at] { m_queue->cancel(at()); })
        ->setEnabled(m_queue->isRunning(row));
    menu->addAction(QStringLiteral("重试"), this, [this, at] { m_queue->retry(at()); })->setEnabled(m_queue->canRetry(row));
    menu->addAction(QStringLiteral("从列表移除"), this, [this, at] { m_queue->remove(at()); });
    menu->addSeparator();
    const QString folder = QFileInfo(saveFile).absolutePath();
    menu->addAction(QStringLiteral("打开所在文件夹"), this, [this, folder] { openFolder(folder); })
        ->setEnabled(QFileInfo(folder).isDir());
    const QString book = m_queue->shelfBook(row);
    QAction *read = menu->addAction(QStringLiteral("阅读"), this, [this, book] { Q_EMIT readRequested(book); });
    read->setEnabled(!book.isEmpty());
    menu->addSeparator();
    menu->addAction(QStringLiteral("重新下载"), this, [this, at] { m_queue->redownload(at()); })
        ->setEnabled(m_queue->canRedownload(row));
    return menu;
}

void DownloadList::openFolder(const QString &folder)
{
    if (!m_openFolder(folder))
        m_queue->prompter().message(QStringLiteral("没有找到可以打开文件夹的程序：") + QDir::toNativeSeparators(folder),
                                    Prompter::Icon::Exclamation, QStringLiteral("打开所在文件夹"));
}

void DownloadList::contextMenuEvent(QContextMenuEvent *event)
{
    QTreeWidgetItem *item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!item)
        return;
    setCurrentItem(item);
    QMenu *menu = menuFor(indexOfTopLevelItem(item));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
