#pragma once

class QAbstractItemView;
class QString;
class QToolButton;
class QWidget;

// Rows alternate between a light blue band and white, the light blue band first.
void ApplyBandedRows(QAbstractItemView *view);

// A flat, clickable caption of a list's paging bar ("首页", "上一页", ...).
QToolButton *PagingLink(const QString &text, QWidget *parent);
