#pragma once

#include "library/LibraryDb.h"

#include <QPoint>
#include <QWidget>

class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;
class ShelfColumns;
struct MainLayout;

// The bookshelf tab: the category tree, one page of books, the paging bar and the button that
// adds a local book. It owns the shelf query and the paging state.
class BookshelfPane : public QWidget
{
    Q_OBJECT
public:
    BookshelfPane(LibraryDb &db, Prompter &prompter, QWidget *parent = nullptr);

    // Fills the list with the current page of the query; every change to the shelf ends here.
    void ReadList(const ShelfQuery &query);
    void reload() { ReadList(m_query); }

    ShelfQuery shelfQuery() const { return m_query; }
    // The page chosen with the paging controls; a shorter list shows its last page instead.
    int currentPage() const { return m_currentPage; }
    int shownPage() const { return m_shownPage; }
    int pageCount() const { return m_pageCount; }
    QString pageIndicatorText() const;

    void applyLayout(const MainLayout &layout);
    int pagingBarHeightTwips() const;
    // The server's page, shown below the category tree once the server names one.
    void showServerPage(const QUrl &url);

    QTreeWidget *categoryTree() const { return m_tree; }
    QTreeWidget *bookList() const { return m_list; }
    QLineEdit *pageBox() const { return m_pageBox; }
    QPushButton *goButton() const { return m_goButton; }
    QToolButton *firstPageButton() const { return m_first; }
    QToolButton *previousPageButton() const { return m_previous; }
    QToolButton *nextPageButton() const { return m_next; }
    QToolButton *lastPageButton() const { return m_last; }
    QPushButton *addBookButton() const { return m_addButton; }
    QPushButton *batchImportButton() const { return m_batchButton; }
    // Narrows the list to the books whose title, author or path hold the text, as it is typed.
    QLineEdit *filterBox() const { return m_filterBox; }
    QWidget *serverPage() const { return m_serverPage; }
    ShelfColumns *columns() const { return m_columns; }
    // The selected rows, top to bottom; several after Ctrl or Shift clicks.
    QList<BookRecord> selectedBooks() const;
    // A book's place was saved while it was read: its row shows the new figure at once.
    void updateProgress(const ReadingPosition &position);
    // The last column and the title's tool tip say this of a book the catalogue holds a newer copy of.
    static QString UpdateMark() { return QStringLiteral("有更新"); }
    static int updateColumn();
    // The "文件地址" cell of a row whose file is gone is drawn in red with this tool tip.
    static QString MissingFileTip()
    {
        return QStringLiteral("找不到这个文件：它被移动或删除了。可以在右键菜单里“重新定位文件…”");
    }
    static int pathColumn();

Q_SIGNALS:
    // The file exists and its lastread is set; the reader takes it from here.
    void openBookRequested(const QString &path);
    void bookMenuRequested(const BookRecord &book, const QPoint &globalPos);
    void addBookRequested();
    void batchImportRequested();
    // Text files, archives and folders dropped on the shelf, for the batch import.
    void filesDropped(const QStringList &paths);
    void loadingChanged(bool visible);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildCategoryTree();
    void onCategoryChosen(QTreeWidgetItem *item);
    void onSortChosen(int column, Qt::SortOrder order);
    void onFilterEdited(const QString &text);
    void goToPage(int page);
    void fitPagingBar();
    void onFirst();
    void onPrevious();
    void onNext();
    void onLast();
    void onGo();
    void openRowAt(const QPoint &pos);
    BookRecord rowRecord(QTreeWidgetItem *item) const;
    static void showProgress(QTreeWidgetItem *item, const ReadingPosition &read);
    void markMissing(QTreeWidgetItem *item) const;

    LibraryDb &m_db;
    Prompter &m_prompter;
    ShelfQuery m_query;
    int m_currentPage = 0; // 0 until the first fill
    int m_shownPage = 0;
    int m_pageCount = 0;
    QPoint m_lastMousePos;
    bool m_treeButtonDown = false;

    QTreeWidget *m_tree;
    QTreeWidget *m_list;
    QWidget *m_pagingBar;
    QLineEdit *m_pageBox;
    QPushButton *m_goButton;
    QToolButton *m_first;
    QToolButton *m_previous;
    QToolButton *m_next;
    QToolButton *m_last;
    QLabel *m_pageIndicator;
    QPushButton *m_addButton;
    QPushButton *m_batchButton;
    QLineEdit *m_filterBox;
    QWidget *m_serverPage = nullptr;
    ShelfColumns *m_columns;
};
