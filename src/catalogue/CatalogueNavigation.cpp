#include "catalogue/CatalogueNavigation.h"

#include "library/BookRecord.h"
#include "net/NetworkLimits.h"

namespace {

PageStep go(const QString &page)
{
    return {page, {}};
}

PageStep refuse(const QString &message)
{
    return {std::nullopt, message};
}

bool onFirstPage(const CataloguePaging &paging)
{
    bool ok = false;
    const double current = paging.currentPage.trimmed().toDouble(&ok);
    return ok && current == 1;
}

} // namespace

PageStep FirstPageStep(const CataloguePaging &paging)
{
    if (onFirstPage(paging))
        return refuse(QStringLiteral("当前已是第一页!"));
    return go(QStringLiteral("1"));
}

PageStep PreviousPageStep(const CataloguePaging &paging)
{
    if (onFirstPage(paging))
        return refuse(QStringLiteral("前面没有了，当前已是第一页!"));
    return go(paging.previousPage);
}

PageStep NextPageStep(const CataloguePaging &paging)
{
    if (paging.totalPages == paging.currentPage)
        return refuse(QStringLiteral("后面没有了，当前已是最后一页!"));
    return go(paging.nextPage);
}

PageStep LastPageStep(const CataloguePaging &paging)
{
    if (paging.totalPages == paging.currentPage)
        return refuse(QStringLiteral("当前已是最后一页!"));
    return go(paging.totalPages);
}

PageStep GoToPageStep(const CataloguePaging &paging, const QString &boxText)
{
    return PageNumberBoxStep(boxText, paging.totalPages);
}

QString SearchPlaceholder()
{
    return QStringLiteral("输入书名或作者");
}

SearchStep CheckSearchKeyword(const QString &boxText)
{
    const QString keyword = boxText.trimmed();
    if (keyword.toUcs4().size() < 2)
        return {std::nullopt, QStringLiteral("请输入至少2位的关键字进行搜索！")};
    if (keyword == SearchPlaceholder())
        return {std::nullopt, QStringLiteral("请输入一个正确的关键字！")};
    return {keyword, {}};
}

QString UploadCategoryCaption()
{
    return QStringLiteral("上传共享");
}

QStringList CatalogueCategoryCaptions()
{
    return QStringList{QStringLiteral("全部资源")} + BookCategories() + QStringList{UploadCategoryCaption()};
}

QString CatalogueRowToolTip(const QString &title, const QString &status)
{
    return QStringLiteral("《") + BoundedServerText(title) + QStringLiteral("》  ") + BoundedServerText(status);
}
