#include "catalogue/BatchImportDialog.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/FileDropCatcher.h"
#include "platform/Prompter.h"
#include "startup/AppContext.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QStyledItemDelegate>

#include <algorithm>

// What the search has found and the window's thread has not yet listed.
struct BatchImportDialog::FoundBox
{
    QMutex mutex;
    QList<LocalImportItem> items;
};

namespace {

const QColor kSkippedColour(128, 128, 128);
// One step of the import does this much before the window has its turn again.
constexpr int StepMs = 10;

// Where a row's book is in m_items, whatever place the title order gives the row.
constexpr int IndexRole = Qt::UserRole + 1;

// The category cell is text; a click on it opens a box with the categories. No box lives in the
// list otherwise, so thousands of rows cost nothing to place and the wheel always scrolls.
class CategoryDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        auto *box = new QComboBox(parent);
        box->addItems(BookCategories());
        return box;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        static_cast<QComboBox *>(editor)->setCurrentText(index.data().toString());
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        model->setData(index, static_cast<QComboBox *>(editor)->currentText());
    }
};

// A row that stands in pinyin order of its title, books of the same title in the order found.
class BookRow : public QTreeWidgetItem
{
public:
    BookRow(const QStringList &cells, QCollatorSortKey key, int index)
        : QTreeWidgetItem(cells), m_key(std::move(key)), m_index(index)
    {
        setData(ColumnTitle, IndexRole, index);
    }
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const auto &row = static_cast<const BookRow &>(other);
        const int order = m_key.compare(row.m_key);
        return order != 0 ? order < 0 : m_index < row.m_index;
    }

private:
    static constexpr int ColumnTitle = 0;
    QCollatorSortKey m_key;
    int m_index;
};

QString outcomeText(const ImportResult &result)
{
    switch (result.outcome) {
    case ImportResult::Outcome::Added:
        return QStringLiteral("已导入");
    case ImportResult::Outcome::AlreadyOnShelf:
        return QStringLiteral("已在书架，跳过");
    case ImportResult::Outcome::NoTextFile:
        return QStringLiteral("压缩包里没有TXT文件");
    case ImportResult::Outcome::ExtractFailed:
        return QStringLiteral("无法解压：") + result.extract.reason;
    case ImportResult::Outcome::Failed:
    case ImportResult::Outcome::NoCatalogueRow:
        break;
    }
    return QStringLiteral("失败：") + result.error;
}

} // namespace

BatchImportDialog::BatchImportDialog(AppContext &ctx, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_ctx(ctx), m_prompter(prompter)
{
    setObjectName(QStringLiteral("BatchImport"));
    m_titleOrder.setNumericMode(true);
    setWindowTitle(QStringLiteral("批量导入电子书 - Folioway"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *hint = new QLabel(QStringLiteral("把TXT文件、文件夹或压缩包(zip、rar、7z)拖到这里，或者："), this);
    m_addFiles = new QPushButton(QStringLiteral("添加文件…"), this);
    m_addFolder = new QPushButton(QStringLiteral("添加文件夹…"), this);
    m_allCategory = new QComboBox(this);
    m_allCategory->addItems(BookCategories());
    m_allCategory->setCurrentIndex(int(BookCategories().size()) - 1);
    m_allCategory->setToolTip(QStringLiteral("为列表中所有未导入的书设置类别；单本的类别可在列表里改"));

    m_list = new QTreeWidget(this);
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("书名"), QStringLiteral("作者"), QStringLiteral("类别"),
                             QStringLiteral("文件"), QStringLiteral("状态")});
    m_list->setRootIsDecorated(false);
    // Every row as high as the first: placing a row's category box then costs nothing, however
    // many thousands of rows the list holds.
    m_list->setUniformRowHeights(true);
    m_list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);
    m_list->setItemDelegateForColumn(ColCategory, new CategoryDelegate(m_list));
    m_list->setColumnWidth(ColTitle, 200);
    m_list->setColumnWidth(ColAuthor, 90);
    m_list->setColumnWidth(ColCategory, 100);
    m_list->setColumnWidth(ColFile, 260);

    m_progress = new QProgressBar(this);
    m_progress->setValue(0);
    m_summary = new QLabel(this);
    m_start = new QPushButton(QStringLiteral("开始导入"), this);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_cancel->setEnabled(false);
    m_close = new QPushButton(QStringLiteral("关闭"), this);

    auto *top = new QHBoxLayout;
    top->addWidget(hint);
    top->addWidget(m_addFiles);
    top->addWidget(m_addFolder);
    top->addStretch(1);
    top->addWidget(new QLabel(QStringLiteral("类别（全部）："), this));
    top->addWidget(m_allCategory);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_summary, 1);
    bottom->addWidget(m_start);
    bottom->addWidget(m_cancel);
    bottom->addWidget(m_close);
    auto *column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(m_list, 1);
    column->addWidget(m_progress);
    column->addLayout(bottom);
    resize(860, 460);

    connect(m_addFiles, &QPushButton::clicked, this, &BatchImportDialog::pickFiles);
    connect(m_addFolder, &QPushButton::clicked, this, &BatchImportDialog::pickFolder);
    connect(m_start, &QPushButton::clicked, this, &BatchImportDialog::startImport);
    connect(m_cancel, &QPushButton::clicked, this, &BatchImportDialog::cancel);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_allCategory, &QComboBox::activated, this, [this](int index) {
        for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
            if (!m_done[indexOfRow(row)])
                m_list->topLevelItem(row)->setText(ColCategory, m_allCategory->itemText(index));
        }
    });
    auto *drops = new FileDropCatcher(this, [](const QString &path) {
        return KindOfLocalBook(path) != LocalBookKind::None;
    });
    connect(drops, &FileDropCatcher::dropped, this, &BatchImportDialog::addPaths);
}

QString BatchImportDialog::category(int row) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(row);
    return item ? item->text(ColCategory) : QString();
}

int BatchImportDialog::indexOfRow(int row) const
{
    return m_list->topLevelItem(row)->data(ColTitle, IndexRole).toInt();
}

BatchImportDialog::~BatchImportDialog()
{
    if (m_scanner) {
        m_stopSearch->store(true);
        m_scanner->wait();
    }
}

void BatchImportDialog::addPaths(const QStringList &paths)
{
    if (m_running || paths.isEmpty())
        return;
    if (m_scanner) {
        m_waitingPaths += paths;
        return;
    }
    startSearch(paths);
}

void BatchImportDialog::startSearch(const QStringList &paths)
{
    m_stopSearch = std::make_shared<std::atomic_bool>(false);
    m_foundBySearch = 0;
    LocalBookScan scan;
    scan.paths = paths;
    scan.downloadFolder = m_ctx.downloadFolder;
    scan.shelfTitles = ShelfTitlesByPath(*m_ctx.db);
    scan.stop = [stop = m_stopSearch] { return stop->load(); };
    // The books found wait in a box that the window's thread empties a few hundred at a time,
    // one turn of its event loop each, however fast the search fills it.
    m_found = std::make_shared<FoundBox>();
    m_searchOver = false;
    scan.found = [dialog = QPointer<BatchImportDialog>(this), box = m_found](const QList<LocalImportItem> &items) {
        bool wasEmpty = false;
        {
            const QMutexLocker lock(&box->mutex);
            wasEmpty = box->items.isEmpty();
            box->items += items;
        }
        if (wasEmpty)
            QMetaObject::invokeMethod(dialog.data(), [dialog] { if (dialog) dialog->takeFound(); }, Qt::QueuedConnection);
    };
    m_scanner = QThread::create([scan] { ScanLocalBooks(scan); });
    // Queued after every batch the search handed over, so the rows are all in when it comes.
    connect(m_scanner, &QThread::finished, this, [this] {
        m_searchOver = true;
        takeFound();
    }, Qt::QueuedConnection);
    setBusy(true);
    m_progress->setRange(0, 0);
    m_summary->setText(QStringLiteral("正在查找电子书…"));
    m_scanner->start();
}

void BatchImportDialog::addItems(const QList<LocalImportItem> &items)
{
    // The batch goes in as one change and the list is put in order once.
    QList<QTreeWidgetItem *> rows;
    for (const LocalImportItem &item : items) {
        if (std::exchange(m_sources[item.source.toLower()], true))
            continue;
        const int index = int(m_items.size());
        const QString category = m_allCategory->currentText();
        auto *row = new BookRow({item.title, item.author, category, item.source, QString()},
                                m_titleOrder.sortKey(item.title), index);
        row->setToolTip(ColFile, item.source);
        const bool onShelf = !item.onShelfAs.isEmpty() || item.problem != BookFileProblem::None;
        if (onShelf) {
            row->setText(ColState, item.problem != BookFileProblem::None
                                       ? BookFileProblemShort(item.problem)
                                       : QStringLiteral("已在书架《%1》，跳过").arg(item.onShelfAs));
            for (int c = 0; c < ColumnCount; ++c)
                row->setForeground(c, kSkippedColour);
        } else {
            row->setText(ColState, QStringLiteral("待导入"));
            row->setFlags(row->flags() | Qt::ItemIsEditable);
        }
        m_items.append(item);
        m_done.append(onShelf);
        rows.append(row);
        ++m_foundBySearch;
    }
    if (!rows.isEmpty()) {
        m_list->addTopLevelItems(rows);
        m_list->sortItems(ColTitle, Qt::AscendingOrder);
    }
    m_summary->setText(QStringLiteral("正在查找电子书…已找到 %1 本").arg(m_items.size()));
}

void BatchImportDialog::takeFound()
{
    if (!m_scanner)
        return;
    constexpr qsizetype TurnItems = 100;
    QList<LocalImportItem> items;
    bool more = false;
    {
        const QMutexLocker lock(&m_found->mutex);
        items = m_found->items.mid(0, TurnItems);
        m_found->items.remove(0, items.size());
        more = !m_found->items.isEmpty();
    }
    if (!m_stopSearch->load())
        addItems(items);
    if (more)
        QTimer::singleShot(0, this, &BatchImportDialog::takeFound);
    else if (m_searchOver)
        searchEnded();
}

void BatchImportDialog::searchEnded()
{
    const bool stopped = m_stopSearch->load();
    m_scanner->deleteLater();
    m_scanner = nullptr;
    if (!stopped && !m_waitingPaths.isEmpty()) {
        startSearch(std::exchange(m_waitingPaths, {}));
        return;
    }
    m_waitingPaths.clear();
    setBusy(false);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    updateSummary();
    if (stopped)
        m_summary->setText(m_summary->text() + QStringLiteral("（查找已取消）"));
    else if (m_foundBySearch == 0)
        m_summary->setText(QStringLiteral("没有找到新的TXT文件或压缩包。"));
    Q_EMIT listed();
}

void BatchImportDialog::cancel()
{
    if (m_scanner)
        m_stopSearch->store(true);
    if (m_running)
        m_cancelled = true;
}

void BatchImportDialog::setBusy(bool busy)
{
    for (QWidget *w : std::initializer_list<QWidget *>{m_addFiles, m_addFolder, m_allCategory, m_start})
        w->setEnabled(!busy);
    m_cancel->setEnabled(busy);
}

void BatchImportDialog::pickFiles()
{
    const QStringList files = m_prompter.openFileNames(
        QStringLiteral("批量导入电子书-Folioway"),
        QStringLiteral("电子书(*.txt;*.zip;*.rar;*.7z)|*.txt;*.zip;*.rar;*.7z|文本文件(*.txt)|*.txt"),
        LastBookFolder(*m_ctx.db));
    if (files.isEmpty())
        return;
    RememberBookFolder(*m_ctx.db, files.first());
    addPaths(files);
}

void BatchImportDialog::pickFolder()
{
    const QString folder =
        m_prompter.folderName(QStringLiteral("请选择存放电子书的文件夹."), LastBookFolder(*m_ctx.db));
    if (folder.isEmpty())
        return;
    // The folder itself is where the next dialog opens.
    m_ctx.db->setOption(LibraryDb::lastBookFolderOption(), folder);
    addPaths({folder});
}

LocalImportItem BatchImportDialog::itemAt(int row) const
{
    LocalImportItem item = m_items[indexOfRow(row)];
    const QTreeWidgetItem *cells = m_list->topLevelItem(row);
    const TitleAuthor named = TitleAuthorFromFileName(QFileInfo(item.source).fileName());
    item.title = cells->text(ColTitle).trimmed();
    if (item.title.isEmpty())
        item.title = named.title;
    item.author = cells->text(ColAuthor).trimmed();
    if (item.author.isEmpty())
        item.author = QStringLiteral("佚名");
    item.category = cells->text(ColCategory);
    return item;
}

void BatchImportDialog::startImport()
{
    if (m_running || m_scanner)
        return;
    m_pending.clear();
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (!m_done[indexOfRow(row)])
            m_pending << row;
    }
    if (m_pending.isEmpty()) {
        m_summary->setText(QStringLiteral("没有需要导入的电子书。"));
        return;
    }
    m_running = true;
    m_cancelled = false;
    m_added = m_skipped = m_failed = 0;
    setBusy(true);
    m_list->setEnabled(false);
    m_close->setEnabled(false);
    m_progress->setRange(0, int(m_pending.size()));
    m_progress->setValue(0);
    QTimer::singleShot(0, this, &BatchImportDialog::importSome);
}

// Text files go onto the shelf in one transaction per step; an archive takes a step of its own
// and is unpacked on a worker thread while the window goes on.
void BatchImportDialog::importSome()
{
    QSqlDatabase db = m_ctx.db->connection().db();
    QElapsedTimer step;
    step.start();
    bool inTransaction = false;
    while (!m_pending.isEmpty() && !m_cancelled) {
        const int row = m_pending.first();
        const LocalImportItem item = itemAt(row);
        if (item.archive && inTransaction)
            break;
        QTreeWidgetItem *cells = m_list->topLevelItem(row);
        std::optional<QEventLoop::ProcessEventsFlags> keepHandling;
        if (item.archive) {
            cells->setText(ColState, QStringLiteral("正在导入…"));
            m_list->scrollToItem(cells);
            keepHandling = QEventLoop::AllEvents;
        } else if (!inTransaction) {
            inTransaction = db.transaction();
        }
        const ImportResult result = ImportLocalBook(*m_ctx.db, item, m_ctx.downloadFolder, keepHandling);
        m_pending.removeFirst();
        cells->setText(ColState, outcomeText(result));
        cells->setFlags(cells->flags() & ~Qt::ItemIsEditable);
        m_done[indexOfRow(row)] = true;
        if (result.outcome == ImportResult::Outcome::Added) {
            ++m_added;
        } else if (result.outcome == ImportResult::Outcome::AlreadyOnShelf) {
            ++m_skipped;
        } else {
            cells->setForeground(ColState, QColor(200, 0, 0));
            ++m_failed;
        }
        m_progress->setValue(m_progress->value() + 1);
        if (item.archive || step.elapsed() >= StepMs)
            break;
    }
    if (inTransaction)
        db.commit();
    m_summary->setText(QStringLiteral("正在导入：%1/%2").arg(m_progress->value()).arg(m_progress->maximum()));
    if (m_pending.isEmpty() || m_cancelled)
        importEnded();
    else
        QTimer::singleShot(0, this, &BatchImportDialog::importSome);
}

void BatchImportDialog::importEnded()
{
    m_running = false;
    m_pending.clear();
    setBusy(false);
    m_list->setEnabled(true);
    m_close->setEnabled(true);
    // One reload of the shelf for the whole batch.
    if (m_added > 0)
        Q_EMIT shelfChanged();
    m_summary->setText(QStringLiteral("导入完成：新增 %1 本，跳过 %2 本，失败 %3 本。").arg(m_added).arg(m_skipped).arg(m_failed) +
                       (m_cancelled ? QStringLiteral("（其余已取消）") : QString()));
    Q_EMIT importFinished();
}

void BatchImportDialog::updateSummary()
{
    const qsizetype waiting = std::count(m_done.cbegin(), m_done.cend(), false);
    m_summary->setText(QStringLiteral("共 %1 本，其中 %2 本待导入。").arg(m_items.size()).arg(waiting));
}

void BatchImportDialog::closeEvent(QCloseEvent *event)
{
    // The import goes on in steps; the dialog must outlive it. A search just stops.
    if (m_running) {
        event->ignore();
        return;
    }
    if (m_scanner)
        m_stopSearch->store(true);
    QDialog::closeEvent(event);
}
