#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QTreeWidget>
#include <QtTest>

// Widget steps the window suites share; header only, for the suites that link the widgets.
namespace GuiSupport {

// A drag of these files let go over the widget, as the window delivers it: the drop goes where
// the enter was accepted.
inline void dropFiles(QWidget *target, const QStringList &paths, QPoint at = {5, 5})
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &dropped);
}

inline void clickHeader(QHeaderView *header, int section)
{
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
}

// The text of one column, row by row.
inline QStringList columnTexts(const QTreeWidget *list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

} // namespace GuiSupport
