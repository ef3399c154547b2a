#pragma once

#include "catalogue/CatalogueProtocol.h"

#include <QTreeWidget>

// The catalogue's book list: one page of the server's answer, nine columns, title and download
// cells in their colours. A header click sorts the page on screen (titles, authors and
// categories in pinyin order); a new page comes in the server's order. Each row remembers which
// entry of the page it shows, whatever order it stands in.
class CatalogueBookList : public QTreeWidget
{
    Q_OBJECT
public:
    explicit CatalogueBookList(QWidget *parent = nullptr);

    // Shows a new page, in the server's order, the first row current.
    void fill(const QList<CatalogueEntry> &entries);
    // Index into the page of the current row, -1 when none.
    int selectedEntry() const;
    void sortBy(int column);

private:
    void showRowToolTip(QTreeWidgetItem *item);

    int m_entryCount = 0;
    int m_sortColumn = -1; // the page on screen is in the server's order
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
