#pragma once

#include <QWidget>

class AccountSync;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The user centre's "同步状态" panel: the sync state in words, the last synced time, the last
// error, the switch ("开启阅读同步" / "关闭阅读同步") and "立即同步". It follows the sync as it
// changes. Below them, the room the account's private copies take on its server and their quota.
class SyncStatusPanel : public QWidget
{
    Q_OBJECT
public:
    SyncStatusPanel(AccountSync &sync, QWidget *parent = nullptr);

    QLabel *stateLabel() const { return m_state; }
    QLabel *errorLabel() const { return m_error; }
    QLabel *privateCopiesLabel() const { return m_privateCopies; }
    QPushButton *syncButton() const { return m_syncNow; }
    // "开启阅读同步" while sync is off, "关闭阅读同步" while it is on.
    QPushButton *switchButton() const { return m_switch; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void toggle();
    void showPrivateCopies();

    AccountSync &m_sync;
    QLabel *m_state;
    QLabel *m_lastSynced;
    QLabel *m_error;
    QLabel *m_hint;
    QLabel *m_privateCopies;
    QPushButton *m_switch;
    QPushButton *m_syncNow;
};

// The user centre's "其他电脑上的书": books the account's other computers keep on their shelves
// and no file here holds, listed again after every round and whenever the shelf here changes.
// A click on a column header orders the list by it; the box above keeps the rows holding what
// is typed there. "下载" asks for the selected book when the catalogue has it.
class RemoteBooksPanel : public QWidget
{
    Q_OBJECT
public:
    enum Column
    {
        NameColumn,
        AuthorColumn,
        TypeColumn,
        TimeColumn
    };

    RemoteBooksPanel(AccountSync &sync, QWidget *parent = nullptr);

    void refresh();
    QTreeWidget *bookList() const { return m_books; }
    QLineEdit *filterBox() const { return m_filter; }
    QPushButton *downloadButton() const { return m_download; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyFilter();
    void updateButton();
    void download();

    AccountSync &m_sync;
    QLineEdit *m_filter;
    QTreeWidget *m_books;
    QLabel *m_count;
    QPushButton *m_download;
};
