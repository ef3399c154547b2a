#pragma once

#include <QWidget>

class AccountSync;
class QLabel;
class QPushButton;
class QTreeWidget;

// The user centre's "同步状态" panel: the sync state in words, the last synced time, the last
// error, and "立即同步". It follows the sync as it changes.
class SyncStatusPanel : public QWidget
{
    Q_OBJECT
public:
    SyncStatusPanel(AccountSync &sync, QWidget *parent = nullptr);

    QLabel *stateLabel() const { return m_state; }
    QPushButton *syncButton() const { return m_syncNow; }

private:
    void refresh();

    AccountSync &m_sync;
    QLabel *m_state;
    QLabel *m_lastSynced;
    QLabel *m_error;
    QPushButton *m_syncNow;
};

// The user centre's "其他电脑上的书": books the account's other computers keep on their shelves
// and no file here holds, listed again after every round. "下载" asks for the selected one
// when the catalogue has it.
class RemoteBooksPanel : public QWidget
{
    Q_OBJECT
public:
    RemoteBooksPanel(AccountSync &sync, QWidget *parent = nullptr);

    void refresh();
    QTreeWidget *bookList() const { return m_books; }
    QPushButton *downloadButton() const { return m_download; }

private:
    void updateButton();
    void download();

    AccountSync &m_sync;
    QTreeWidget *m_books;
    QPushButton *m_download;
};
