#pragma once

#include <QWidget>

class QToolButton;
class QTreeWidget;
struct MainLayout;

// The online catalogue tab: category bar, book list with its paging bar, and the download
// panel under it that its icon shows or hides.
class CataloguePane : public QWidget
{
    Q_OBJECT
public:
    explicit CataloguePane(QWidget *parent = nullptr);

    bool downloadPanelVisible() const { return m_downloadPanelVisible; }
    void setDownloadPanelVisible(bool visible);
    // Run by the tab switch the first time this tab is shown.
    void firstVisit();
    bool isFirstVisit() const { return m_firstVisit; }

    void applyLayout(const MainLayout &layout);
    int categoryBarHeightTwips() const;

    QWidget *categoryBar() const { return m_categoryBar; }
    QTreeWidget *bookList() const { return m_list; }
    QWidget *pagingBar() const { return m_pagingBar; }
    QToolButton *downloadIcon() const { return m_downloadIcon; }
    QTreeWidget *downloadList() const { return m_downloads; }

Q_SIGNALS:
    void layoutRequested();
    void firstVisitLoaded();

private:
    bool m_downloadPanelVisible = false;
    bool m_firstVisit = true;
    QWidget *m_categoryBar;
    QTreeWidget *m_list;
    QWidget *m_pagingBar;
    QToolButton *m_downloadIcon;
    QTreeWidget *m_downloads;
};
