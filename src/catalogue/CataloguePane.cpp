#include "catalogue/CataloguePane.h"

#include "catalogue/CatalogueBookList.h"
#include "catalogue/CatalogueDetailPanel.h"
#include "catalogue/CatalogueNavigation.h"
#include "catalogue/DownloadList.h"
#include "catalogue/DownloadQueue.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "platform/ListStyle.h"
#include "platform/MainLayout.h"
#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"
#include "library/LibraryDb.h"
#include "startup/AppContext.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

namespace {

// The detail panel's width when first opened.
constexpr int DetailWidthTwips = 2700;
// Library option: "1" while the detail panel is open.
const QString kDetailOption = QStringLiteral("CatalogueDetailOpen");

const QString kShowPanelTip = QStringLiteral("显示下载面版");
const QString kHidePanelTip = QStringLiteral("隐藏下载面版");

} // namespace

CataloguePane::CataloguePane(AppContext &ctx, Prompter &prompter, QWidget *parent, QNetworkAccessManager *manager)
    : QWidget(parent), m_ctx(ctx), m_prompter(prompter)
{
    m_request = new RequestSlot(this, manager);
    // Answers are read off the window's thread; the loading panel stays up until one is read.
    m_answers = new AnswerReader(this);
    connect(m_request, &RequestSlot::finished, m_answers, [this](const HttpResult &result) {
        m_answers->read([result] { return ParseCatalogueAnswer(result); },
                        [this, result](const CatalogueAnswer &answer) { onAnswer(result, answer); });
    });

    m_queue = new DownloadQueue(ctx.db, prompter, this, manager);
    m_queue->setCatalogueRows([this] { return m_entries; });
    // A large archive is unpacked with the window still answering.
    m_queue->setYieldDuringExtraction(true);
    connect(m_queue, &DownloadQueue::downloadStarting, this, [this] { setDownloadPanelVisible(true); });
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

    m_listArea = new QSplitter(Qt::Horizontal, this);
    m_listArea->setObjectName(QStringLiteral("NetListArea"));
    m_listArea->setChildrenCollapsible(false);
    m_list = new CatalogueBookList(m_listArea);
    m_list->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { downloadSelected(); });

    m_detail = new CatalogueDetailPanel(m_listArea, manager);
    m_listArea->addWidget(m_list);
    m_listArea->addWidget(m_detail);
    m_listArea->setStretchFactor(0, 1);
    m_listArea->setStretchFactor(1, 0);
    SetTwips(m_listArea, 0, 450, 9000, 3000);
    m_detailWidth = twipsToPixels(DetailWidthTwips);
    m_listArea->setSizes({twipsToPixels(9000) - m_detailWidth, m_detailWidth});
    connect(m_listArea, &QSplitter::splitterMoved, this, [this] { m_detailWidth = m_listArea->sizes().value(1); });
    connect(m_detail, &CatalogueDetailPanel::downloadRequested, this, &CataloguePane::downloadSelected);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &CataloguePane::showSelectedDetail);

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
    m_statusLine = new QLabel(m_pagingBar);
    m_statusLine->setObjectName(QStringLiteral("NetStatusLine"));
    m_statusLine->setStyleSheet(QStringLiteral("color: #808080"));
    m_detailToggle = new QToolButton(m_pagingBar);
    m_detailToggle->setObjectName(QStringLiteral("NetDetailToggle"));
    m_detailToggle->setText(QStringLiteral("详情"));
    m_detailToggle->setToolTip(QStringLiteral("在列表旁显示所选书籍的封面和简介"));
    m_detailToggle->setCheckable(true);
    for (QWidget *w : std::initializer_list<QWidget *>{first, previous, next, last, m_pageDisplay, m_pageBox, go})
        bar->addWidget(w);
    bar->addSpacing(8);
    bar->addWidget(m_detailToggle);
    bar->addSpacing(16);
    bar->addWidget(m_statusLine);
    bar->addStretch(1);
    SetTwips(m_pagingBar, 160, 3500, 7000, 360);
    connect(first, &QToolButton::clicked, this, &CataloguePane::firstPage);
    connect(previous, &QToolButton::clicked, this, &CataloguePane::previousPage);
    connect(next, &QToolButton::clicked, this, &CataloguePane::nextPage);
    connect(last, &QToolButton::clicked, this, &CataloguePane::lastPage);
    connect(go, &QPushButton::clicked, this, &CataloguePane::goToPage);
    connect(m_pageBox, &QLineEdit::returnPressed, this, &CataloguePane::goToPage);
    const bool detailOpen = ctx.db && ctx.db->option(kDetailOption) == QLatin1String("1");
    m_detail->setVisible(detailOpen);
    m_detailToggle->setChecked(detailOpen);
    connect(m_detailToggle, &QToolButton::toggled, this, &CataloguePane::setDetailPanelOpen);

    m_downloadIcon = new QToolButton(this);
    m_downloadIcon->setObjectName(QStringLiteral("DownloadIcon"));
    m_downloadIcon->setAutoRaise(true);
    m_downloadIcon->setArrowType(Qt::UpArrow);
    m_downloadIcon->setToolTip(kShowPanelTip);
    SetTwips(m_downloadIcon, 8700, 3550, 270, 270);
    connect(m_downloadIcon, &QToolButton::clicked, this, [this] { setDownloadPanelVisible(!m_downloadPanelVisible); });

    m_downloads = new DownloadList(m_queue, this);
    connect(m_downloads, &DownloadList::readRequested, this, &CataloguePane::readRequested);
    // The queue's controls end the paging bar, just above the download panel, while it shows.
    bar->addWidget(m_downloads->controls());
    m_downloads->controls()->hide();
    SetTwips(m_downloads, 0, 4000, 9000, 1750);
    m_downloads->hide();
    // Downloads the last run left unfinished wait, paused, in the list.
    m_queue->restoreUnfinished();
}

CataloguePane::~CataloguePane() = default;

void CataloguePane::setDownloadPanelVisible(bool visible)
{
    m_downloadPanelVisible = visible;
    m_downloads->setVisible(visible);
    m_downloads->controls()->setVisible(visible);
    m_downloadIcon->setArrowType(visible ? Qt::DownArrow : Qt::UpArrow);
    m_downloadIcon->setToolTip(visible ? kHidePanelTip : kShowPanelTip);
    Q_EMIT layoutRequested();
}

bool CataloguePane::detailPanelOpen() const
{
    return !m_detail->isHidden();
}

void CataloguePane::setDetailPanelOpen(bool open)
{
    m_detailToggle->setChecked(open);
    if (open == detailPanelOpen())
        return;
    m_detail->setVisible(open);
    if (m_ctx.db)
        m_ctx.db->setOption(kDetailOption, open ? QStringLiteral("1") : QStringLiteral("0"));
    if (open) {
        const int total = m_listArea->width() - m_listArea->handleWidth();
        m_listArea->setSizes({std::max(0, total - m_detailWidth), m_detailWidth});
        showSelectedDetail();
    }
}

void CataloguePane::showSelectedDetail()
{
    // A closed panel fetches no covers.
    if (!detailPanelOpen())
        return;
    const int row = selectedEntry();
    m_detail->showEntry(row >= 0 ? &m_entries[row] : nullptr, m_ctx.config.serverBaseUrl);
}

void CataloguePane::firstVisit()
{
    if (!m_firstVisit)
        return;
    chooseCategory(0);
}

bool CataloguePane::isLoading() const
{
    return m_request->isBusy() || m_answers->isBusy();
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
    m_statusLine->clear();
    m_request->readHTTP(address);
    Q_EMIT loadingChanged(true);
}

void CataloguePane::onAnswer(const HttpResult &result, const CatalogueAnswer &answer)
{
    // Said quietly under the list; the list and the paging follow the answer as before. An
    // answer read while a newer request is out says nothing about that one: the line stays clear.
    if (!m_request->isBusy())
        m_statusLine->setText(CatalogueStatusLine(result, answer));
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
    m_list->fill(entries);
    if (entries.isEmpty())
        showSelectedDetail();
}

int CataloguePane::selectedEntry() const
{
    return m_list->selectedEntry();
}

void CataloguePane::downloadSelected()
{
    if (m_list->topLevelItemCount() == 0)
        return;
    const int row = selectedEntry();
    if (row < 0)
        return;
    m_queue->setDownloadFolder(m_ctx.downloadFolder);
    m_queue->downloadCatalogueEntry(m_entries[row], m_ctx.config.serverBaseUrl);
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
    SetTwips(m_listArea, std::nullopt, l.catalogueListTop, l.catalogueListWidth, l.catalogueListHeight);
    // The status line runs along the paging bar up to the panel icon.
    SetTwips(m_pagingBar, l.cataloguePagingLeft, l.cataloguePagingTop,
             std::max(0, l.downloadIconLeft - 100 - l.cataloguePagingLeft));
    SetTwips(m_downloadIcon, l.downloadIconLeft, l.downloadIconTop);
}
