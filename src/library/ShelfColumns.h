#pragma once

#include <QList>
#include <QObject>

class LibraryDb;
class QMenu;
class QTreeWidget;

// The widths and the visibility of the shelf list's columns. Until the user drags a column its
// width follows the list, so that every shown column fits in it; a dragged width is kept from
// then on. The header's right-click menu hides and shows columns. Both are kept in the
// library's options by the column's key, so they outlive the program.
class ShelfColumns : public QObject
{
    Q_OBJECT
public:
    // keys: one stable name per column, in column order.
    ShelfColumns(QTreeWidget *list, LibraryDb &db, const QStringList &keys);

    // Sets the width of every column the user has not dragged, for the list's present width.
    void fit();
    void setShown(int column, bool shown);
    // The header's menu: one checkable item per column, named after its key.
    QMenu *headerMenu() const { return m_menu; }

    static QString widthsOption() { return QStringLiteral("ShelfColumnWidths"); }
    static QString hiddenOption() { return QStringLiteral("ShelfHiddenColumns"); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int defaultWidth(int column, int room) const;
    void onSectionResized(int column, int newSize);
    void save();

    QTreeWidget *m_list;
    LibraryDb &m_db;
    QStringList m_keys;
    QList<int> m_dragged; // 0: follows the list
    QMenu *m_menu;
    bool m_fitting = false;
};
