#pragma once

#include "catalogue/BatchImportDialog.h"
#include "library/BookEditor.h"
#include "platform/MainLayout.h"
#include "startup/AppContext.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class AccountWindows;
class BookMenu;
class BookshelfPane;
class BossKeyHotKey;
class CatalogueUpdates;
class CataloguePane;
class Prompter;
class QLabel;
class QToolButton;
class ReaderPane;
class SearchPanel;
class SettingsPane;
class SpeechEngine;

// The program's one large window: five toolbar buttons acting as tabs over the panes below,
// the search panel at the right of the toolbar row, and the layout of everything in twips.
// The panes own their behaviour; this window composes them and switches between them.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TabCount = 5;

    MainWindow(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The load step: builds the panes' initial state in order and shows the window.
    void load();

    // Switches to tab 1..5; 4 opens the user centre and leaves the current tab as it is.
    void SelectToolBar(int buttonId);
    int currentTab() const { return m_currentTab; }
    void runLayout();
    // The reader's full screen: the window fills the screen and shows the reading page alone.
    void setReaderFullScreen(bool on);
    MainLayout currentLayout() const { return m_layout; }

    // The reader owns the book being read.
    QString currentBookPath() const;
    QString editorMode() const { return m_editorMode; }
    // Switches to the reader and opens a book; chapterTitle selects a chapter (a bookmark).
    void openBook(const QString &path, const QString &chapterTitle = {});
    // A file named on the command line: opened in the reader the way its open button does.
    void openFileGiven(const QString &path);
    // The single book editor: made with the mode when closed, brought to the front when open.
    void showBookEditor(const QString &editorMode);
    BookEditor *bookEditor() const { return m_editor; }
    // The single batch import: made when closed, brought to the front when open; the files and
    // folders given join its list either way.
    void showBatchImport(const QStringList &paths = {});
    BatchImportDialog *batchImport() const { return m_batchImport; }
    BookMenu *bookMenu() const { return m_bookMenu; }
    CatalogueUpdates *catalogueUpdates() const { return m_updates; }
    // Login, registration, user centre and upload; the share menu items call into it.
    AccountWindows *accounts() const { return m_accounts; }

    BookshelfPane *shelf() const { return m_shelf; }
    ReaderPane *reader() const { return m_reader; }
    CataloguePane *catalogue() const { return m_catalogue; }
    SettingsPane *settings() const { return m_settings; }
    BossKeyHotKey *bossKey() const { return m_bossKey; }
    QWidget *panel(int index) const { return m_panels[index - 1]; }
    QToolButton *toolButton(int index) const { return m_buttons[index - 1]; }
    SearchPanel *searchPanel() const { return m_searchPanel; }
    QLabel *loadingPanel() const { return m_loading; }
    // Right of the tab buttons: the reading sync's state; hidden while sync is off.
    QToolButton *syncIndicator() const { return m_syncIndicator; }
    // Beside it: "放到我的服务器" under way, then its outcome; hidden otherwise.
    QToolButton *privateCopyIndicator() const { return m_copyIndicator; }

Q_SIGNALS:
    void closed();
    void userCentreRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();
    void onReaderDrop(const QStringList &paths);
    void connectSync();
    void showSyncState();
    void placeSyncIndicator();
    void connectPrivateCopies();

    AppContext &m_ctx;
    Prompter &m_prompter;
    MainLayout m_layout;
    int m_currentTab = 0;
    QString m_editorMode;
    bool m_readerShown = false;
    bool m_maximizedBeforeFullScreen = false;

    QToolButton *m_buttons[TabCount] = {};
    QWidget *m_panels[TabCount] = {};
    SearchPanel *m_searchPanel = nullptr;
    QToolButton *m_syncIndicator = nullptr;
    QToolButton *m_copyIndicator = nullptr;
    QLabel *m_loading = nullptr;
    BookshelfPane *m_shelf = nullptr;
    ReaderPane *m_reader = nullptr;
    CataloguePane *m_catalogue = nullptr;
    AccountWindows *m_accounts = nullptr;
    BookMenu *m_bookMenu = nullptr;
    CatalogueUpdates *m_updates = nullptr;
    QPointer<BookEditor> m_editor;
    QPointer<BatchImportDialog> m_batchImport;
    SettingsPane *m_settings = nullptr;
    BossKeyHotKey *m_bossKey = nullptr;
    std::unique_ptr<SpeechEngine> m_speech;
};
