#pragma once

#include "catalogue/CatalogueBookList.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/DownloadList.h"

#include <QList>
#include <QWidget>

class CatalogueDetailPanel;
class DownloadQueue;
class LibraryDb;
class Prompter;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPushButton;
class QSplitter;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class AnswerReader;
class RequestSlot;
struct AppContext;
struct HttpResult;
struct MainLayout;
struct PageStep;

// The online catalogue tab: the category bar, the server's book list with its paging bar, and
// the download panel under it that its icon shows or hides. The pane keeps the catalogue query
// and the page numbers of the list on screen, sends one request at a time (a newer one drops
// the older) and starts a download when a row is double-clicked.
class CataloguePane : public QWidget
{
    Q_OBJECT
public:
    // The download folder and the server address are read from ctx at each use, so a folder
    // saved in the settings applies to the next download.
    CataloguePane(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr,
                  QNetworkAccessManager *manager = nullptr);
    ~CataloguePane() override;

    bool downloadPanelVisible() const { return m_downloadPanelVisible; }
    void setDownloadPanelVisible(bool visible);
    // Run by the tab switch while the tab has never shown a list: fetches "全部资源".
    void firstVisit();
    bool isFirstVisit() const { return m_firstVisit; }

    // Category bar buttons by index: 0 "全部资源", 1..10 the shelf categories, 11 "上传共享".
    void chooseCategory(int index);
    // A keyword already checked by the search panel: the tab is asked to come forward
    // (showRequested) and the search result is fetched.
    void search(const QString &keyword);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void goToPage(); // with the page-number box's text
    // The double-click on the list: downloads the selected row.
    void downloadSelected();

    const CatalogueQuery &query() const { return m_query; }
    const CataloguePaging &paging() const { return m_paging; }
    const QList<CatalogueEntry> &entries() const { return m_entries; }
    DownloadQueue *downloads() const { return m_queue; }
    bool isLoading() const;

    // The detail panel beside the list, shown by the "详情" toggle after the paging controls.
    // Closed until the user opens it; the choice is kept in the library's options.
    bool detailPanelOpen() const;
    void setDetailPanelOpen(bool open);

    void applyLayout(const MainLayout &layout);
    int categoryBarHeightTwips() const;

    QWidget *categoryBar() const { return m_categoryBar; }
    QToolButton *categoryButton(int index) const { return m_categoryButtons.value(index); }
    QTreeWidget *bookList() const { return m_list; }
    QWidget *pagingBar() const { return m_pagingBar; }
    QLabel *pageDisplay() const { return m_pageDisplay; }
    QLineEdit *pageBox() const { return m_pageBox; }
    QToolButton *downloadIcon() const { return m_downloadIcon; }
    DownloadList *downloadList() const { return m_downloads; }
    CatalogueDetailPanel *detailPanel() const { return m_detail; }
    QToolButton *detailToggle() const { return m_detailToggle; }
    // Under the list: what CatalogueStatusLine() makes of the last answer; empty while a request
    // is out.
    QLabel *statusLine() const { return m_statusLine; }

Q_SIGNALS:
    void layoutRequested();
    void loadingChanged(bool visible);
    // A search wants the catalogue tab in front.
    void showRequested();
    // "上传共享": the user centre's upload page.
    void uploadRequested();
    // A download batch ended: the bookshelf page should be read again.
    void shelfChanged();
    // "阅读" in the download list's menu: open this shelf book.
    void readRequested(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void send(const QString &address);
    void follow(const PageStep &step);
    void onAnswer(const HttpResult &result, const CatalogueAnswer &answer);
    void fillList(const QList<CatalogueEntry> &entries);
    void showSelectedDetail();
    int selectedEntry() const; // index into m_entries, -1 when none
    void tell(const QString &message);

    AppContext &m_ctx;
    Prompter &m_prompter;
    RequestSlot *m_request;
    AnswerReader *m_answers;
    DownloadQueue *m_queue;
    CatalogueQuery m_query;
    CataloguePaging m_paging;
    QList<CatalogueEntry> m_entries;
    bool m_downloadPanelVisible = false;
    bool m_firstVisit = true;

    QWidget *m_categoryBar;
    QList<QToolButton *> m_categoryButtons;
    // The list and the detail panel share the list's place; with the panel closed the list has
    // all of it.
    QSplitter *m_listArea;
    CatalogueBookList *m_list;
    QToolButton *m_detailToggle;
    int m_detailWidth; // pixels, as the user last left it
    QWidget *m_pagingBar;
    QLabel *m_pageDisplay;
    QLineEdit *m_pageBox;
    QToolButton *m_downloadIcon;
    DownloadList *m_downloads;
    CatalogueDetailPanel *m_detail;
    QLabel *m_statusLine;
};
