#include "library/BookshelfPane.h"
#include "library/CatalogueOrigins.h"

#include "library/LocalBookFiles.h"
#include "library/PageNumberBox.h"
#include "library/ShelfColumns.h"
#include "platform/FileDropCatcher.h"
#include "platform/ListStyle.h"
#include "platform/MainLayout.h"
#include "platform/Prompter.h"
#include "platform/TwipsGeometry.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEngineView>

namespace {

const QColor kTitleColour(198, 79, 6);
const QColor kMissingColour(Qt::red);

enum Column { ColId, ColType, ColName, ColMarke, ColLastRead, ColPath, ColAuthor, ColProgress, ColumnCount };
// Beyond the ordered columns: "有更新" when the catalogue holds a newer copy of the book.
constexpr int ColUpdate = ColumnCount;

// The order a header click asks for, by column.
const ShelfSort kColumnSort[ColumnCount] = {ShelfSort::Id,     ShelfSort::Type,     ShelfSort::Name,
                                            ShelfSort::Marke,  ShelfSort::LastRead, ShelfSort::Path,
                                            ShelfSort::Author, ShelfSort::Progress};

QString lastReadText(const QDateTime &when)
{
    return when.isValid() ? when.toString(QStringLiteral("yyyy/M/d hh:mm")) : QString();
}

} // namespace

BookshelfPane::BookshelfPane(LibraryDb &db, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_db(db), m_prompter(prompter)
{
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreeView1"));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    SetTwips(m_tree, 60, 0, 1720, 3900);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("类别"), QStringLiteral("书名"),
                             QStringLiteral("书签"), QStringLiteral("最近阅读"), QStringLiteral("文件地址"),
                             QStringLiteral("作者"), QStringLiteral("进度")});
    m_list->headerItem()->setToolTip(ColProgress, QStringLiteral("已读到全书的百分之几"));
    m_list->setColumnCount(ColUpdate + 1);
    m_list->headerItem()->setText(ColUpdate, QStringLiteral("更新"));
    m_list->headerItem()->setToolTip(ColUpdate, QStringLiteral("网络书库里有这本书更新过的版本"));
    // A header click orders the whole shelf, not just the page on screen, so the list does its
    // own ordering; the arrow appears with the first click.
    for (int c = 0; c < ColumnCount; ++c)
        m_list->headerItem()->setData(c, Qt::InitialSortOrderRole, int(Qt::AscendingOrder));
    m_list->header()->setSectionsClickable(true);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    // Ctrl and Shift add rows to the selection; a plain click or a right-click elsewhere
    // selects one row, as before.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->viewport()->installEventFilter(this);
    SetTwips(m_list, 1920, 0);
    m_columns = new ShelfColumns(m_list, m_db,
                                 {QStringLiteral("id"), QStringLiteral("type"), QStringLiteral("name"),
                                  QStringLiteral("marke"), QStringLiteral("lastread"), QStringLiteral("path"),
                                  QStringLiteral("author"), QStringLiteral("progress"), QStringLiteral("update")},
                                 {QStringLiteral("author"), QStringLiteral("progress"), QStringLiteral("update")});

    m_pagingBar = new QWidget(this);
    m_pagingBar->setObjectName(QStringLiteral("PagingBar"));
    auto *bar = new QHBoxLayout(m_pagingBar);
    bar->setContentsMargins(0, 0, 0, 0);
    m_pageBox = new QLineEdit(m_pagingBar);
    m_pageBox->setFixedWidth(48);
    m_goButton = new QPushButton(QStringLiteral("Go"), m_pagingBar);
    m_goButton->setFixedWidth(40);
    m_first = PagingLink(QStringLiteral("首页"), m_pagingBar);
    m_previous = PagingLink(QStringLiteral("上一页"), m_pagingBar);
    m_next = PagingLink(QStringLiteral("下一页"), m_pagingBar);
    m_last = PagingLink(QStringLiteral("最后页"), m_pagingBar);
    m_pageIndicator = new QLabel(QStringLiteral("Loadin..."), m_pagingBar);
    m_addButton = new QPushButton(QStringLiteral("添加本地电子书"), m_pagingBar);
    m_batchButton = new QPushButton(QStringLiteral("批量导入…"), m_pagingBar);
    m_batchButton->setObjectName(QStringLiteral("BatchImport"));
    m_batchButton->setToolTip(QStringLiteral("一次添加多个TXT文件、文件夹或压缩包；也可以把它们直接拖到书架上"));
    m_filterBox = new QLineEdit(m_pagingBar);
    m_filterBox->setObjectName(QStringLiteral("ShelfFilter"));
    m_filterBox->setPlaceholderText(QStringLiteral("筛选：书名、作者、路径"));
    m_filterBox->setClearButtonEnabled(true);
    // It narrows before anything beside it would have to (fitPagingBar()).
    m_filterBox->setMinimumWidth(90);
    m_filterBox->setMaximumWidth(170);
    m_filterBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (QWidget *w : std::initializer_list<QWidget *>{m_pageBox, m_goButton, m_first, m_previous, m_next, m_last,
                                                       m_pageIndicator})
        bar->addWidget(w);
    bar->addSpacing(12);
    bar->addWidget(m_filterBox, 1);
    bar->addStretch(1);
    bar->addWidget(m_addButton);
    bar->addWidget(m_batchButton);
    SetTwips(m_pagingBar, 1920, 0, 9000, 450);

    connect(m_first, &QToolButton::clicked, this, &BookshelfPane::onFirst);
    connect(m_previous, &QToolButton::clicked, this, &BookshelfPane::onPrevious);
    connect(m_next, &QToolButton::clicked, this, &BookshelfPane::onNext);
    connect(m_last, &QToolButton::clicked, this, &BookshelfPane::onLast);
    connect(m_goButton, &QPushButton::clicked, this, &BookshelfPane::onGo);
    connect(m_pageBox, &QLineEdit::returnPressed, this, &BookshelfPane::onGo);
    connect(m_addButton, &QPushButton::clicked, this, &BookshelfPane::addBookRequested);
    connect(m_batchButton, &QPushButton::clicked, this, &BookshelfPane::batchImportRequested);
    connect(m_filterBox, &QLineEdit::textChanged, this, &BookshelfPane::onFilterEdited);
    connect(m_list->header(), &QHeaderView::sortIndicatorChanged, this, &BookshelfPane::onSortChosen);


    buildCategoryTree();
    // Made last, so that it watches every widget of the pane (and the server page when it comes).
    auto *drops = new FileDropCatcher(this, [](const QString &path) {
        return KindOfLocalBook(path) != LocalBookKind::None;
    });
    connect(drops, &FileDropCatcher::dropped, this, &BookshelfPane::filesDropped);
    // A click acts on release, on whatever node is selected then, even one that was selected
    // already; a selection moved by the keyboard acts at once.
    m_tree->viewport()->installEventFilter(this);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
        if (!m_treeButtonDown)
            onCategoryChosen(current);
    });
}

void BookshelfPane::buildCategoryTree()
{
    auto *root = new QTreeWidgetItem(m_tree, {QStringLiteral("我的书架")});
    root->setData(0, Qt::UserRole, QStringLiteral("sj"));
    int key = 1;
    for (const QString &name : BookCategories()) {
        auto *child = new QTreeWidgetItem(root, {name});
        child->setData(0, Qt::UserRole, QStringLiteral("Key%1").arg(key++));
    }
    const QSignalBlocker quiet(m_tree);
    m_tree->setCurrentItem(root);
    root->setExpanded(true);
    m_tree->scrollToItem(root->child(root->childCount() - 1));
}

void BookshelfPane::onCategoryChosen(QTreeWidgetItem *item)
{
    if (!item)
        return;
    // The filter and the column order stay when the category changes.
    if (!item->parent()) {
        item->setExpanded(true);
        m_query.category.clear();
    } else {
        m_query.category = item->text(0);
    }
    ReadList(m_query);
}

void BookshelfPane::onSortChosen(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    m_list->header()->setSortIndicatorShown(true);
    m_query.sort = kColumnSort[column];
    m_query.descending = order == Qt::DescendingOrder;
    ReadList(m_query);
}

void BookshelfPane::onFilterEdited(const QString &text)
{
    m_query.filter = text.trimmed();
    ReadList(m_query);
}

QString BookshelfPane::pageIndicatorText() const
{
    return m_pageIndicator->text();
}

void BookshelfPane::ReadList(const ShelfQuery &query)
{
    m_query = query;
    // The page is read in one statement and filled in one go, so two fills can never
    // interleave their rows.
    const ShelfPage page = m_db.shelfPage(query, m_currentPage);
    m_list->clear();
    if (page.rows.isEmpty()) {
        // A filter that matches nothing says so; an empty shelf or category keeps the old figures.
        if (!query.filter.isEmpty())
            m_pageIndicator->setText(QStringLiteral("0/0"));
        Q_EMIT loadingChanged(false);
        return;
    }
    Q_EMIT loadingChanged(true);
    // The chosen page stays as it is when a shorter list shows its last page instead: going
    // back to the longer list shows the chosen page again.
    m_pageCount = page.pageCount;
    m_currentPage = std::max(m_currentPage, 1);
    m_shownPage = page.page;
    m_pageIndicator->setText(QStringLiteral("%1/%2").arg(m_shownPage).arg(m_pageCount));

    const QSet<qint64> updated = BooksWithUpdates(m_db);
    QList<QTreeWidgetItem *> items;
    items.reserve(page.rows.size());
    for (const BookRecord &book : page.rows) {
        auto *item = new QTreeWidgetItem({QString::number(book.id), book.type, book.name, book.marke,
                                          lastReadText(book.lastread), book.path, book.author, QString()});
        item->setForeground(ColName, kTitleColour);
        if (!QFileInfo(book.path).isFile())
            markMissing(item);
        if (const std::optional<ReadingPosition> read = m_db.readingPosition(book.path))
            showProgress(item, *read);
        if (updated.contains(book.id)) {
            item->setText(ColUpdate, UpdateMark());
            const QString tip = item->toolTip(ColName);
            item->setToolTip(ColName, tip.isEmpty() ? UpdateMark() : tip + QStringLiteral("，") + UpdateMark());
        }
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    Q_EMIT loadingChanged(false);
}

int BookshelfPane::updateColumn()
{
    return ColUpdate;
}

int BookshelfPane::pathColumn()
{
    return ColPath;
}

void BookshelfPane::goToPage(int page)
{
    m_currentPage = page;
    ReadList(m_query);
}

void BookshelfPane::onFirst()
{
    if (m_shownPage == 1) {
        m_prompter.message(QStringLiteral("当前已是第一页!"), Prompter::Icon::Exclamation);
        return;
    }
    goToPage(1);
}

void BookshelfPane::onPrevious()
{
    if (m_shownPage == 1) {
        m_prompter.message(QStringLiteral("前面没有了，当前已是第一页!"), Prompter::Icon::Exclamation);
        return;
    }
    goToPage(m_shownPage - 1);
}

void BookshelfPane::onNext()
{
    if (m_shownPage == m_pageCount) {
        m_prompter.message(QStringLiteral("后面没有了，当前已是最后一页!"), Prompter::Icon::Exclamation);
        return;
    }
    goToPage(m_shownPage + 1);
}

void BookshelfPane::onLast()
{
    if (m_shownPage == m_pageCount) {
        m_prompter.message(QStringLiteral("当前已是最后一页!"), Prompter::Icon::Exclamation);
        return;
    }
    goToPage(m_pageCount);
}

void BookshelfPane::onGo()
{
    const PageStep step = PageNumberBoxStep(m_pageBox->text(), QString::number(m_pageCount));
    m_pageBox->clear();
    if (!step.page) {
        m_prompter.message(step.message, Prompter::Icon::Exclamation);
        return;
    }
    goToPage(step.page->toInt());
}

void BookshelfPane::markMissing(QTreeWidgetItem *item) const
{
    // The icon stays in sight when the column is narrow.
    item->setIcon(ColPath, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setForeground(ColPath, kMissingColour);
    item->setToolTip(ColPath, MissingFileTip());
}

void BookshelfPane::showProgress(QTreeWidgetItem *item, const ReadingPosition &read)
{
    const QString percent = QStringLiteral("%1%").arg(read.progressPercent());
    item->setText(ColProgress, percent);
    // A hidden or narrowed column still tells it on the title.
    const QString update = item->text(ColUpdate);
    item->setToolTip(ColName, QStringLiteral("已读 ") + percent + (update.isEmpty() ? QString() : u'，' + update));
}

void BookshelfPane::updateProgress(const ReadingPosition &position)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->text(ColPath).compare(position.path, Qt::CaseInsensitive) == 0)
            showProgress(item, position);
    }
}

BookRecord BookshelfPane::rowRecord(QTreeWidgetItem *item) const
{
    BookRecord r;
    r.id = item->text(ColId).toLongLong();
    r.type = item->text(ColType);
    r.name = item->text(ColName);
    r.author = item->text(ColAuthor);
    r.marke = item->text(ColMarke);
    r.path = item->text(ColPath);
    return r;
}

QList<BookRecord> BookshelfPane::selectedBooks() const
{
    QList<BookRecord> books;
    // In the order the rows are shown, whatever order they were picked in.
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->isSelected())
            books << rowRecord(m_list->topLevelItem(i));
    }
    return books;
}

bool BookshelfPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tree->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            m_treeButtonDown = true;
        } else if (event->type() == QEvent::MouseButtonRelease && m_treeButtonDown) {
            m_treeButtonDown = false;
            onCategoryChosen(m_tree->currentItem());
        }
    }
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto *me = static_cast<QMouseEvent *>(event);
            m_lastMousePos = me->position().toPoint();
            if (QTreeWidgetItem *item = m_list->itemAt(m_lastMousePos)) {
                // A right-click inside a selection of several rows keeps it for the menu; Ctrl
                // and Shift clicks are the list's own.
                const bool keep =
                    (me->button() == Qt::RightButton && item->isSelected()) ||
                    (me->button() == Qt::LeftButton && (me->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)));
                if (!keep)
                    m_list->setCurrentItem(item);
                if (me->button() == Qt::RightButton) {
                    Q_EMIT bookMenuRequested(rowRecord(item), me->globalPosition().toPoint());
                    return true;
                }
            }
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            openRowAt(m_lastMousePos);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BookshelfPane::openRowAt(const QPoint &pos)
{
    QTreeWidgetItem *item = m_list->itemAt(pos);
    if (!item)
        return;
    const QString path = item->text(ColPath);
    if (!QFileInfo(path).isFile()) {
        m_prompter.message(MissingBookMessage(path), Prompter::Icon::Critical, BookOpenFailedTitle());
        return;
    }
    m_db.touchLastRead(path);
    Q_EMIT openBookRequested(path);
}

int BookshelfPane::pagingBarHeightTwips() const
{
    return m_pagingBar->height() * 15;
}

void BookshelfPane::applyLayout(const MainLayout &l)
{
    SetTwips(m_list, l.bookListLeft, std::nullopt, l.bookListWidth, l.bookListHeight);
    m_columns->setListWidthTwips(l.bookListWidth);
    SetTwips(m_pagingBar, l.bookListLeft, l.shelfPagingBarTop, l.bookListWidth);
    fitPagingBar();
    if (m_serverPage)
        SetTwips(m_serverPage, l.serverPageLeft, l.serverPageTop, l.serverPageWidth,
                 pixelsToTwips(height()) - l.serverPageTop);
}

void BookshelfPane::fitPagingBar()
{
    // The paging controls and "添加本地电子书" keep their size. What was added beside them gives
    // way first: the filter box narrows (its layout does that), then "批量导入…" leaves (files
    // dropped on the shelf still reach the batch import), then an empty filter box.
    const auto wanted = [](const QWidget *w) {
        return w->minimumWidth() > 0 && w->minimumWidth() == w->maximumWidth() ? w->minimumWidth() : w->sizeHint().width();
    };
    int spacing = m_pagingBar->layout()->spacing();
    if (spacing < 0)
        spacing = std::max(6, style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton, Qt::Horizontal));
    // The 12 pixels before the filter box, and a spacing's slack for the stretch around it.
    int needed = 12 + spacing;
    int widgets = 0;
    for (const QWidget *w : std::initializer_list<const QWidget *>{m_pageBox, m_goButton, m_first, m_previous, m_next,
                                                                 m_last, m_pageIndicator, m_addButton}) {
        needed += wanted(w);
        ++widgets;
    }
    const auto fits = [&](bool batch, bool filter) {
        const int count = widgets + (batch ? 1 : 0) + (filter ? 1 : 0);
        return needed + (batch ? wanted(m_batchButton) : 0) + (filter ? m_filterBox->minimumWidth() : 0) +
                   spacing * (count - 1) <=
               m_pagingBar->width();
    };
    const bool batch = fits(true, true);
    const bool filter = fits(false, true) || !m_filterBox->text().isEmpty();
    m_batchButton->setVisible(batch);
    m_filterBox->setVisible(filter);
}

void BookshelfPane::showServerPage(const QUrl &url)
{
    if (!m_serverPage) {
        auto *view = new QWebEngineView(this);
        view->setObjectName(QStringLiteral("ServerPage"));
        m_serverPage = view;
        SetTwips(m_serverPage, 60, 3960, 1720, std::max(0, pixelsToTwips(height()) - 3960));
    }
    static_cast<QWebEngineView *>(m_serverPage)->setUrl(url);
    m_serverPage->show();
}
