#include "platform/ListStyle.h"

#include <QAbstractItemView>

void ApplyBandedRows(QAbstractItemView *view)
{
    view->setAlternatingRowColors(true);
    // Qt paints Base on even rows, so Base carries the band that comes first.
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, QColor(236, 246, 255));
    pal.setColor(QPalette::AlternateBase, Qt::white);
    view->setPalette(pal);
}
