#pragma once

#include "settings/SettingsRules.h"

#include <QWidget>

class QToolBar;
class QToolButton;
class QTreeWidget;
struct MainLayout;

// The reading tab: reading toolbar, reading view, the splitter bar that hides or shows the
// chapter list, and the chapter list.
class ReaderPane : public QWidget
{
    Q_OBJECT
public:
    explicit ReaderPane(QWidget *parent = nullptr);

    bool chapterListVisible() const { return m_chapterListVisible; }
    // What the splitter buttons do: 0 hides the chapter list, 1 shows it.
    void splitterButtonClicked(int index);
    void applyLayout(const MainLayout &layout);
    int splitterButtonHeightTwips(int index) const;
    // Colours and text size of the reading page; kept and applied once the page has loaded.
    void setPageStyle(const ReadingPageStyle &style) { m_pageStyle = style; }
    ReadingPageStyle pageStyle() const { return m_pageStyle; }

    QToolButton *splitterButton(int index) const { return m_splitterButtons[index]; }
    QWidget *readingView() const { return m_view; }
    QTreeWidget *chapterList() const { return m_chapters; }
    QWidget *splitterBar() const { return m_splitter; }

Q_SIGNALS:
    void layoutRequested();

private:
    bool m_chapterListVisible = true;
    ReadingPageStyle m_pageStyle;
    QToolBar *m_toolbar;
    QWidget *m_view;
    QWidget *m_splitter;
    QToolButton *m_splitterButtons[2];
    QTreeWidget *m_chapters;
};
