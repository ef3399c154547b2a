#include "library/PageNumberBox.h"

#include <cmath>

PageStep PageNumberBoxStep(const QString &boxText, const QString &totalPages)
{
    bool ok = false;
    const double typed = boxText.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(typed))
        return {std::nullopt, QStringLiteral("输入的页码有误,请重新输入!")};
    const double n = std::floor(typed);
    if (n < 1 || n > std::floor(totalPages.trimmed().toDouble()))
        return {std::nullopt, QStringLiteral("输入的页码有误,一共才") + totalPages + QStringLiteral("页,请重新输入!")};
    return {QString::number(qint64(n)), {}};
}
