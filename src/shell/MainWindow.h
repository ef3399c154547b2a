#pragma once

#include "shell/MainLayout.h"
#include "startup/AppContext.h"

#include <QWidget>

class BookshelfPane;
class CataloguePane;
class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class ReaderPane;

// The program's one large window: five toolbar buttons acting as tabs over the panes below,
// the search panel at the right of the toolbar row, and the layout of everything in twips.
// The panes own their behaviour; this window composes them and switches between them.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TabCount = 5;

    MainWindow(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr);

    // The load step: builds the panes' initial state in order and shows the window.
    void load();

    // Switches to tab 1..5; 4 opens the user centre and leaves the current tab as it is.
    void SelectToolBar(int buttonId);
    int currentTab() const { return m_currentTab; }
    void runLayout();
    MainLayout currentLayout() const { return m_layout; }

    QString currentBookPath() const { return m_currentBookPath; }
    QString editorMode() const { return m_editorMode; }

    BookshelfPane *shelf() const { return m_shelf; }
    ReaderPane *reader() const { return m_reader; }
    CataloguePane *catalogue() const { return m_catalogue; }
    QWidget *panel(int index) const { return m_panels[index - 1]; }
    QToolButton *toolButton(int index) const { return m_buttons[index - 1]; }
    QWidget *searchPanel() const { return m_searchPanel; }
    QLabel *loadingPanel() const { return m_loading; }

Q_SIGNALS:
    void closed();
    void userCentreRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();
    void openBook(const QString &path);

    AppContext &m_ctx;
    Prompter &m_prompter;
    MainLayout m_layout;
    int m_currentTab = 0;
    QString m_currentBookPath;
    QString m_editorMode;

    QToolButton *m_buttons[TabCount] = {};
    QWidget *m_panels[TabCount] = {};
    QWidget *m_searchPanel = nullptr;
    QLineEdit *m_searchBox = nullptr;
    QPushButton *m_searchButton = nullptr;
    QLabel *m_loading = nullptr;
    BookshelfPane *m_shelf = nullptr;
    ReaderPane *m_reader = nullptr;
    CataloguePane *m_catalogue = nullptr;
};
