#pragma once

#include "catalogue/LocalImport.h"

#include <QCollator>
#include <QDialog>

struct AppContext;
class Prompter;
class QCloseEvent;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Many books onto the shelf at once: the text files and archives given (dropped, or picked
// here) are listed with a title and author read from their names and a category, each one
// editable; books already on the shelf are marked and left out. "开始导入" puts the rest on
// the shelf one by one and the shelf is read again once, at the end.
class BatchImportDialog : public QDialog
{
    Q_OBJECT
public:
    enum Column { ColTitle, ColAuthor, ColCategory, ColFile, ColState, ColumnCount };

    BatchImportDialog(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr);

    // Lists the books in these files and folders; a file listed already is not listed again.
    void addPaths(const QStringList &paths);
    void pickFiles();
    void pickFolder();
    void startImport();

    QTreeWidget *list() const { return m_list; }
    QComboBox *categoryForAll() const { return m_allCategory; }
    QComboBox *categoryBox(int row) const;
    QPushButton *startButton() const { return m_start; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *summary() const { return m_summary; }

Q_SIGNALS:
    void shelfChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    LocalImportItem itemAt(int row) const;
    void updateSummary();

    AppContext &m_ctx;
    Prompter &m_prompter;
    QCollator m_titleOrder{QLocale(QLocale::Chinese, QLocale::China)};
    QList<LocalImportItem> m_items; // one per list row
    QList<bool> m_done;             // the row needs nothing more: imported, skipped or on the shelf
    bool m_running = false;

    QTreeWidget *m_list;
    QComboBox *m_allCategory;
    QPushButton *m_addFiles;
    QPushButton *m_addFolder;
    QPushButton *m_start;
    QPushButton *m_close;
    QProgressBar *m_progress;
    QLabel *m_summary;
};
