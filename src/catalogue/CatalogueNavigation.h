#pragma once

#include "catalogue/CatalogueProtocol.h"
#include "library/PageNumberBox.h"

#include <QString>
#include <QStringList>

#include <optional>

// The rules of the catalogue tab's paging bar and search box, without the widgets. Each check
// gives either the page (or keyword) to request or the message to show (exclamation icon,
// default title); never both.

PageStep FirstPageStep(const CataloguePaging &paging);
PageStep PreviousPageStep(const CataloguePaging &paging); // also the Left arrow in the list
PageStep NextPageStep(const CataloguePaging &paging);     // also the Right arrow
PageStep LastPageStep(const CataloguePaging &paging);
// The "Go" button with the page-number box's text; the box is emptied whatever the outcome.
PageStep GoToPageStep(const CataloguePaging &paging, const QString &boxText);

struct SearchStep
{
    std::optional<QString> keyword; // trimmed
    QString message;
};
// The "搜书" button (or Enter) with the keyword box's text.
SearchStep CheckSearchKeyword(const QString &boxText);
QString SearchPlaceholder(); // "输入书名或作者", shown grey while the box is empty

// The category bar's captions in order: "全部资源", the ten shelf categories, "上传共享".
// The last one opens the upload page of the user centre instead of a list.
QStringList CatalogueCategoryCaptions();
QString UploadCategoryCaption();

// The list's tooltip for a row: "《title》  status".
QString CatalogueRowToolTip(const QString &title, const QString &status);
