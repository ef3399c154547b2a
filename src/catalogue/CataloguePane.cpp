#include "catalogue/CataloguePane.h"

#include "catalogue/CatalogueNavigation.h"
#include "catalogue/DownloadQueue.h"
#include "net/RequestSlot.h"
#include "platform/ListStyle.h"
#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"
#include "shell/MainLayout.h"
#include "startup/AppContext.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

namespace {

enum Column { ColId, ColClass, ColName, ColAuthor, ColStatue, ColTime, ColSize, ColAction, ColUrl };
enum DownloadColumn { ColTask, ColProgress, ColState };

QColor rgb(unsigned value)
{
    return QColor::fromRgb(QRgb(value));
}

const QString kShowPanelTip = QStringLiteral("显示下载面版");
const QString kHidePanelTip = QStringLiteral("隐藏下载面版");

} // namespace

CataloguePane::CataloguePane(AppContext &ctx, Prompter &prompter, QWidget *parent, QNetworkAccessManager *manager)
    : QWidget(parent), m_ctx(ctx), m_prompter(prompter)
{
    m_request = new RequestSlot(this, manager);
    connect(m_request, &RequestSlot::finished, this, &CataloguePane::onAnswer);

    m_queue = new DownloadQueue(ctx.db, prompter, this, manager);
    m_queue->setCatalogueRows([this] { return m_entries; });
    // A large archive is unpacked with the window still answering.
    m_queue->setYieldDuringExtraction(true);
    connect(m_queue, &DownloadQueue::downloadStarting, this, [this] { setDownloadPanelVisible(true); });
    connect(m_queue, &DownloadQueue::rowAdded, this, &CataloguePane::addDownloadRow);
    connect(m_queue, &DownloadQueue::rowChanged, this, &CataloguePane::updateDownloadRow);
    connect(m_queue, &DownloadQueue::allDownloadsDone, this, &CataloguePane::shelfChanged);

    m_categoryBar = new QWidget(this);
    m_categoryBar->setObjectName(QStringLiteral("CategoryBar"));
    auto *categories = new QHBoxLayout(m_categoryBar);
    categories->setContentsMargins(0, 0, 0, 0);
    categories->setSpacing(2);
    const QStringList captions = CatalogueCategoryCaptions();
    for (int i = 0; i < captions.size(); ++i) {
        auto *b = new QToolButton(m_categoryBar);
        b->setObjectName(QStringLiteral("Category%1").arg(i));
        b->setText(captions[i]);
        b->setCheckable(true);
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setIcon(style()->standardIcon(i == captions.size() - 1 ? QStyle::SP_ArrowUp : QStyle::SP_DirIcon));
        connect(b, &QToolButton::clicked, this, [this, i] { chooseCategory(i); });
        categories->addWidget(b);
        m_categoryButtons.append(b);
    }
    categories->addStretch(1);
    SetTwips(m_categoryBar, 0, 0, 9000, 420);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("NetBookList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHeaderLabels(CatalogueEntry::columnCaptions());
    m_list->setColumnWidth(ColId, 50);
    m_list->setColumnWidth(ColClass, 70);
    m_list->setColumnWidth(ColName, 200);
    m_list->setColumnWidth(ColAuthor, 90);
    m_list->setColumnWidth(ColStatue, 50);
    m_list->setColumnWidth(ColTime, 80);
    m_list->setColumnWidth(ColSize, 70);
    m_list->setColumnWidth(ColAction, 70);
    m_list->header()->setStretchLastSection(true);
    m_list->setMouseTracking(true);
    m_list->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemEntered, this, [this](QTreeWidgetItem *item) { showRowToolTip(item); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { downloadSelected(); });
    SetTwips(m_list, 0, 450, 9000, 3000);

    m_pagingBar = new QWidget(this);
    m_pagingBar->setObjectName(QStringLiteral("NetPagingBar"));
    auto *bar = new QHBoxLayout(m_pagingBar);
    bar->setContentsMargins(0, 0, 0, 0);
    QToolButton *first = PagingLink(QStringLiteral("首页"), m_pagingBar);
    QToolButton *previous = PagingLink(QStringLiteral("上一页"), m_pagingBar);
    QToolButton *next = PagingLink(QStringLiteral("下一页"), m_pagingBar);
    QToolButton *last = PagingLink(QStringLiteral("最后页"), m_pagingBar);
    m_pageDisplay = new QLabel(m_paging.display(), m_pagingBar);
    m_pageDisplay->setObjectName(QStringLiteral("NetPageInfo"));
    m_pageBox = new QLineEdit(m_pagingBar);
    m_pageBox->setObjectName(QStringLiteral("NetPageBox"));
    m_pageBox->setFixedWidth(48);
    auto *go = new QPushButton(QStringLiteral("Go"), m_pagingBar);
    go->setFixedWidth(40);
    for (QWidget *w : std::initializer_list<QWidget *>{first, previous, next, last, m_pageDisplay, m_pageBox, go})
        bar->addWidget(w);
    bar->addStretch(1);
    SetTwips(m_pagingBar, 160, 3500, 7000, 360);
    connect(first, &QToolButton::clicked, this, &CataloguePane::firstPage);
    connect(previous, &QToolButton::clicked, this, &CataloguePane::previousPage);
    connect(next, &QToolButton::clicked, this, &CataloguePane::nextPage);
    connect(last, &QToolButton::clicked, this, &CataloguePane::lastPage);
    connect(go, &QPushButton::clicked, this, &CataloguePane::goToPage);
    connect(m_pageBox, &QLineEdit::returnPressed, this, &CataloguePane::goToPage);

    m_downloadIcon = new QToolButton(this);
    m_downloadIcon->setObjectName(QStringLiteral("DownloadIcon"));
    m_downloadIcon->setAutoRaise(true);
    m_downloadIcon->setArrowType(Qt::UpArrow);
    m_downloadIcon->setToolTip(kShowPanelTip);
    SetTwips(m_downloadIcon, 8700, 3550, 270, 270);
    connect(m_downloadIcon, &QToolButton::clicked, this, [this] { setDownloadPanelVisible(!m_downloadPanelVisible); });

    m_downloads = new QTreeWidget(this);
    m_downloads->setObjectName(QStringLiteral("DownloadList"));
    m_downloads->setRootIsDecorated(false);
    m_downloads->setUniformRowHeights(true);
    m_downloads->setHeaderLabels({QStringLiteral("下载任务"), QStringLiteral("下载进度"), QStringLiteral("状态")});
    m_downloads->setColumnWidth(ColTask, 260);
    m_downloads->setColumnWidth(ColProgress, 90);
    m_downloads->header()->setStretchLastSection(true);
    SetTwips(m_downloads, 0, 4000, 9000, 1750);
    m_downloads->hide();
}

CataloguePane::~CataloguePane() = default;

void CataloguePane::setDownloadPanelVisible(bool visible)
{
    m_downloadPanelVisible = visible;
    m_downloads->setVisible(visible);
    m_downloadIcon->setArrowType(visible ? Qt::DownArrow : Qt::UpArrow);
    m_downloadIcon->setToolTip(visible ? kHidePanelTip : kShowPanelTip);
    Q_EMIT layoutRequested();
}

void CataloguePane::firstVisit()
{
    if (!m_firstVisit)
        return;
    chooseCategory(0);
}

bool CataloguePane::isLoading() const
{
    return m_request->isBusy();
}

void CataloguePane::tell(const QString &message)
{
    m_prompter.message(message, Prompter::Icon::Exclamation);
}

void CataloguePane::chooseCategory(int index)
{
    if (index < 0 || index >= m_categoryButtons.size())
        return;
    QToolButton *pressed = m_categoryButtons[index];
    const QString caption = pressed->text().trimmed();
    if (caption == UploadCategoryCaption()) {
        pressed->setChecked(false);
        Q_EMIT uploadRequested();
        return;
    }
    for (QToolButton *b : std::as_const(m_categoryButtons))
        b->setChecked(b == pressed);
    m_query.selectCategory(caption);
    m_firstVisit = false;
    send(CategoryListUrl(m_ctx.config.serverBaseUrl, m_query));
}

void CataloguePane::search(const QString &keyword)
{
    m_query.search(keyword);
    m_firstVisit = false;
    Q_EMIT showRequested();
    send(SearchUrl(m_ctx.config.serverBaseUrl, m_query));
}

void CataloguePane::follow(const PageStep &step)
{
    if (step.page)
        send(CataloguePageUrl(m_ctx.config.serverBaseUrl, m_query, *step.page));
    else
        tell(step.message);
}

void CataloguePane::firstPage()
{
    follow(FirstPageStep(m_paging));
}

void CataloguePane::previousPage()
{
    follow(PreviousPageStep(m_paging));
}

void CataloguePane::nextPage()
{
    follow(NextPageStep(m_paging));
}

void CataloguePane::lastPage()
{
    follow(LastPageStep(m_paging));
}

void CataloguePane::goToPage()
{
    const PageStep step = GoToPageStep(m_paging, m_pageBox->text());
    m_pageBox->clear();
    follow(step);
}

void CataloguePane::send(const QString &address)
{
    // The newer request replaces the older; only its answer fills the list.
    m_request->readHTTP(address);
    Q_EMIT loadingChanged(true);
}

void CataloguePane::onAnswer(const HttpResult &result)
{
    const CatalogueAnswer answer = ParseCatalogueAnswer(result);
    switch (answer.outcome) {
    case AnswerOutcome::Ignored:
        break;
    case AnswerOutcome::Filled:
        fillList(answer.entries);
        m_paging = answer.paging;
        m_pageDisplay->setText(m_paging.display());
        Q_EMIT loadingChanged(false);
        m_list->setFocus();
        return;
    case AnswerOutcome::NoData:
        fillList(answer.entries);
        Q_EMIT loadingChanged(false);
        tell(NoDataMessage());
        return;
    case AnswerOutcome::Stopped:
        fillList(answer.entries);
        break;
    }
    Q_EMIT loadingChanged(false);
}

void CataloguePane::fillList(const QList<CatalogueEntry> &entries)
{
    m_entries = entries;
    m_list->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(entries.size());
    for (const CatalogueEntry &entry : entries) {
        auto *item = new QTreeWidgetItem(entry.cells());
        item->setForeground(ColName, rgb(TitleCellColor));
        item->setForeground(ColAction, rgb(DownloadCellColor));
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    if (!items.isEmpty())
        m_list->setCurrentItem(items.first());
}

void CataloguePane::showRowToolTip(QTreeWidgetItem *item)
{
    if (item)
        m_list->setToolTip(CatalogueRowToolTip(item->text(ColName), item->text(ColStatue)));
}

void CataloguePane::downloadSelected()
{
    if (m_list->topLevelItemCount() == 0)
        return;
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || row >= m_entries.size())
        return;
    m_queue->setDownloadFolder(m_ctx.downloadFolder);
    m_queue->downloadCatalogueEntry(m_entries[row], m_ctx.config.serverBaseUrl);
}

void CataloguePane::addDownloadRow(int row)
{
    auto *item = new QTreeWidgetItem(m_downloads);
    Q_ASSERT(m_downloads->topLevelItemCount() == row + 1);
    updateDownloadRow(row);
    m_downloads->scrollToItem(item);
}

void CataloguePane::updateDownloadRow(int row)
{
    QTreeWidgetItem *item = m_downloads->topLevelItem(row);
    if (!item || row >= m_queue->rows().size())
        return;
    const DownloadRow &r = m_queue->rows()[row];
    item->setText(ColTask, r.task);
    item->setText(ColProgress, r.progress);
    item->setText(ColState, r.status);
    const QBrush normal = m_downloads->palette().text();
    const QColor red(255, 0, 0);
    for (int c = ColTask; c <= ColState; ++c)
        item->setForeground(c, r.look == DownloadRow::Look::Failed ? QBrush(red) : normal);
    if (r.look == DownloadRow::Look::Received)
        item->setForeground(ColState, QColor(0, 0, 255));
    else if (r.look == DownloadRow::Look::ImportFailed)
        item->setForeground(ColState, red);
}

bool CataloguePane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            key == Qt::Key_Left ? previousPage() : nextPage();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int CataloguePane::categoryBarHeightTwips() const
{
    return pixelsToTwips(m_categoryBar->height());
}

void CataloguePane::applyLayout(const MainLayout &l)
{
    SetTwips(m_categoryBar, std::nullopt, std::nullopt, l.categoryBarWidth);
    SetTwips(m_downloads, std::nullopt, l.downloadListTop, l.downloadListWidth);
    SetTwips(m_list, std::nullopt, l.catalogueListTop, l.catalogueListWidth, l.catalogueListHeight);
    SetTwips(m_pagingBar, l.cataloguePagingLeft, l.cataloguePagingTop);
    SetTwips(m_downloadIcon, l.downloadIconLeft, l.downloadIconTop);
}
