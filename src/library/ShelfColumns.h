#pragma once

#include <QList>
#include <QObject>

class LibraryDb;
class QMenu;
class QTreeWidget;

// The widths and the visibility of the shelf list's columns. Until the user drags a column its
// width follows the list: "类别" to "最近阅读" take the window layout's widths, "ID" its own, and
// "文件地址" whatever room the others leave, so that every column shown fits in the list. A
// dragged width is kept from then on. The header's right-click menu hides and shows columns;
// the ones added beside the laid-out six start hidden. Both choices are kept in the library's
// options by the column's key, so they outlive the program.
class ShelfColumns : public QObject
{
    Q_OBJECT
public:
    // keys: one stable name per column, in column order, the laid-out six first; hiddenAtFirst:
    // the columns hidden until the user shows one.
    ShelfColumns(QTreeWidget *list, LibraryDb &db, const QStringList &keys, const QStringList &hiddenAtFirst);

    // The list's width as the window lays it out, in twips; the laid-out columns take their
    // share of it. Until it is given they take it of the list's own width.
    void setListWidthTwips(int twips);
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
    int defaultWidth(int column, int listTwips) const;
    void onSectionResized(int column, int newSize);
    void save();

    QTreeWidget *m_list;
    LibraryDb &m_db;
    QStringList m_keys;
    QList<int> m_dragged; // 0: follows the list
    QMenu *m_menu;
    int m_listTwips = -1;
    bool m_fitting = false;
};
