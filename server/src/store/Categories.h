#pragma once

#include <QStringList>

// The ten catalogue categories in their fixed order, shared with the desktop client.
namespace Categories {

inline const QStringList &names()
{
    static const QStringList list = {
        QStringLiteral("武侠仙侠"), QStringLiteral("玄幻修真"), QStringLiteral("都市言情"), QStringLiteral("游戏动漫"),
        QStringLiteral("历史军事"), QStringLiteral("推理灵异"), QStringLiteral("纪实文学"), QStringLiteral("学习资料"),
        QStringLiteral("管理哲学"), QStringLiteral("其他分类"),
    };
    return list;
}

// The catalogue's name for "every category".
inline QString all()
{
    return QStringLiteral("全部资源");
}

} // namespace Categories
