#pragma once

#include <QList>
#include <QObject>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;
class ReaderPane;

// The reading tab's commands as the reader meets them: the reading toolbar (with the bookmark
// button's menu) and the reading menu of the page's right-click, each command's keys in its tool
// tip. They call the pane; the tools behind them add their own items after these.
class ReaderCommands : public QObject
{
    Q_OBJECT
public:
    // Fills `toolbar` and makes the reading menu.
    ReaderCommands(ReaderPane &pane, QToolBar *toolbar);

    QAction *toolAction(int position) const { return m_toolActions.at(position - 1); }
    QToolButton *toolButton(int position) const;
    QMenu *bookmarkMenu() const { return m_bookmarkMenu; }
    QMenu *readingMenu() const { return m_readingMenu; }
    QAction *readingMenuItem(const QString &name) const;

Q_SIGNALS:
    // "从这里开始朗读".
    void readFromHereRequested();

private:
    void addToolbarActions();
    void addReadingMenu();

    ReaderPane &m_pane;
    QToolBar *m_toolbar;
    QList<QAction *> m_toolActions;
    QMenu *m_bookmarkMenu = nullptr;
    QMenu *m_readingMenu = nullptr;
};
