#pragma once

#include "catalogue/LocalImport.h"

#include <QCollator>
#include <QDialog>

#include <atomic>
#include <memory>

struct AppContext;
class Prompter;
class QCloseEvent;
class QComboBox;
class QLabel;
class QProgressBar;
class QThread;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Many books onto the shelf at once: the text files and archives given (dropped, or picked
// here) are listed with a title and author read from their names and a category, each one
// editable; books already on the shelf are marked and left out. "开始导入" puts the rest on
// the shelf one by one and the shelf is read again once, at the end.
//
// The window never waits for the disk: folders are searched and files looked into on a worker
// thread, rows arrive in batches with a running count, and the import goes in short steps
// between which the window repaints and answers (an archive is unpacked on a worker thread).
// "取消" stops either where it stands.
class BatchImportDialog : public QDialog
{
    Q_OBJECT
public:
    enum Column { ColTitle, ColAuthor, ColCategory, ColFile, ColState, ColumnCount };

    BatchImportDialog(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr);
    ~BatchImportDialog() override; // a search still running is stopped and waited for

    // Lists the books in these files and folders; a file listed already is not listed again.
    // The search runs on; listed() tells when its rows are all in.
    void addPaths(const QStringList &paths);
    void pickFiles();
    void pickFolder();
    // Runs on; importFinished() tells when the last book is done.
    void startImport();
    // Stops the search or the import where it stands.
    void cancel();
    bool isSearching() const { return m_scanner != nullptr; }
    bool isImporting() const { return m_running; }

    QTreeWidget *list() const { return m_list; }
    QComboBox *categoryForAll() const { return m_allCategory; }
    // The category of a list row, as the row's cell holds it.
    QString category(int row) const;
    QPushButton *startButton() const { return m_start; }
    QPushButton *cancelButton() const { return m_cancel; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *summary() const { return m_summary; }

Q_SIGNALS:
    void shelfChanged();
    void listed();
    void importFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    LocalImportItem itemAt(int row) const;
    int indexOfRow(int row) const;
    void updateSummary();
    void startSearch(const QStringList &paths);
    void addItems(const QList<LocalImportItem> &items);
    void takeFound();
    void searchEnded();
    void importSome();
    void importEnded();
    void setBusy(bool busy);

    AppContext &m_ctx;
    Prompter &m_prompter;
    QCollator m_titleOrder{QLocale(QLocale::Chinese, QLocale::China)};
    // One per list row in the order found; a row knows its index (indexOfRow).
    QList<LocalImportItem> m_items;
    QList<bool> m_done; // the book needs nothing more: imported, skipped or on the shelf
    QHash<QString, bool> m_sources; // every file listed, in lower case
    bool m_running = false;
    // The search: its thread, its stop flag, and paths dropped while it ran.
    QThread *m_scanner = nullptr;
    std::shared_ptr<std::atomic_bool> m_stopSearch;
    QStringList m_waitingPaths;
    int m_foundBySearch = 0;
    struct FoundBox;
    std::shared_ptr<FoundBox> m_found;
    bool m_searchOver = false; // the thread has ended; what it found may still be in the box
    // The import: rows still to do, and what became of those done.
    QList<int> m_pending;
    int m_added = 0;
    int m_skipped = 0;
    int m_failed = 0;
    bool m_cancelled = false;

    QTreeWidget *m_list;
    QComboBox *m_allCategory;
    QPushButton *m_addFiles;
    QPushButton *m_addFolder;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_close;
    QProgressBar *m_progress;
    QLabel *m_summary;
};
