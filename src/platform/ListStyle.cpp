#include "platform/ListStyle.h"

#include <QAbstractItemView>
#include <QToolButton>

void ApplyBandedRows(QAbstractItemView *view)
{
    view->setAlternatingRowColors(true);
    // Qt paints Base on even rows, so Base carries the band that comes first.
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, QColor(236, 246, 255));
    pal.setColor(QPalette::AlternateBase, Qt::white);
    view->setPalette(pal);
}

QToolButton *PagingLink(const QString &text, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}
