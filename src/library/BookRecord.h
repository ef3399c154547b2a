#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QMetaType>

// One row of BookList.
struct BookRecord
{
    qint64 id = 0;
    QString type;
    QString name;
    QString author;
    QString path;
    QString marke;
    QDateTime lastread;
};

// The ten shelf categories in their fixed order; the editor, the catalogue, the upload form
// and the user centre all use this order.
inline const QStringList &BookCategories()
{
    static const QStringList categories{
        QStringLiteral("武侠仙侠"), QStringLiteral("玄幻修真"), QStringLiteral("都市言情"), QStringLiteral("游戏动漫"),
        QStringLiteral("历史军事"), QStringLiteral("推理灵异"), QStringLiteral("纪实文学"), QStringLiteral("学习资料"),
        QStringLiteral("管理哲学"), QStringLiteral("其他分类")};
    return categories;
}
Q_DECLARE_METATYPE(BookRecord)
