#pragma once

#include "library/BookRecord.h"
#include "library/EpubExport.h"

#include <QMenu>
#include <QPointer>
#include <functional>

class LibraryDb;
class Prompter;

// The shelf's right-click menu "电子书操作". It acts on the row it was opened for.
class BookMenu : public QMenu
{
    Q_OBJECT
public:
    BookMenu(LibraryDb &db, Prompter &prompter, QWidget *parent = nullptr);

    void popupFor(const BookRecord &book, const QPoint &globalPos);
    // Also enables "更新本书" when the catalogue holds a newer copy of the book.
    void setBook(const BookRecord &book);
    // The shelf's selected rows. With more than one, the menu offers after its own items the ones
    // that act on all of them; the items above still act on the row that was clicked.
    void setSelection(const QList<BookRecord> &books);
    // Sharing needs the account windows; the item stays disabled until they are there.
    void setShareEnabled(bool enabled);
    // "放到我的服务器" needs a login to the account's server.
    void setPrivateCopyEnabled(bool enabled);
    // Opens a folder in the desktop's file manager; tests replace it.
    void setFolderOpener(std::function<void(const QString &)> opener) { m_openFolder = std::move(opener); }

    QAction *item(const QString &name) const;
    // The export "导出为EPUB…" runs, made on first use.
    EpubExport *epubExport() const { return m_epubExport; }

    // The folder that holds a book file: the path up to its last separator.
    static QString folderOf(const QString &path);

Q_SIGNALS:
    // chapterTitle empty: from the start; otherwise the bookmark to look for.
    void openBookRequested(const QString &path, const QString &chapterTitle);
    void editRequested(const QString &editorMode);
    void shareRequested(qint64 id);
    void shelfChanged();
    // Which books downloaded from the catalogue it holds newer copies of; the book to fetch anew.
    void checkUpdatesRequested();
    void updateBookRequested(qint64 id);
    // "放到我的服务器": the selected rows when the clicked one is among several, else that one.
    void privateCopyRequested(const QList<BookRecord> &books);

private:
    void readFromStart();
    void removeFromShelf();
    void changeCategoryOfSelection();
    void removeSelection();
    void exportSelection();

    LibraryDb &m_db;
    Prompter &m_prompter;
    BookRecord m_book;
    QList<BookRecord> m_selection;
    QList<QAction *> m_selectionItems; // with the separators before them
    std::function<void(const QString &)> m_openFolder;
    QPointer<EpubExport> m_epubExport;
};
