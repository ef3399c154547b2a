#include "library/LocalBookFiles.h"

#include "library/LibraryDb.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool hasSuffix(const QString &name, const QString &suffix)
{
    return name.endsWith(suffix, Qt::CaseInsensitive) && name.size() > suffix.size();
}

} // namespace

TitleAuthor TitleAuthorFromFileName(const QString &fileName)
{
    QString stem = QFileInfo(fileName).fileName();
    for (const QString &suffix : {QStringLiteral(".txt"), QStringLiteral(".zip"), QStringLiteral(".rar"),
                                  QStringLiteral(".7z")}) {
        if (hasSuffix(stem, suffix)) {
            stem.chop(suffix.size());
            break;
        }
    }
    TitleAuthor out;
    qsizetype at = stem.indexOf(QStringLiteral("作者："));
    if (at < 0)
        at = stem.indexOf(QStringLiteral("作者:"));
    if (at >= 0) {
        out.title = stem.left(at).trimmed();
        out.author = stem.mid(at + 3).trimmed();
    } else {
        out.title = stem.trimmed();
    }
    if (out.title.startsWith(u'《') && out.title.endsWith(u'》'))
        out.title = out.title.mid(1, out.title.size() - 2).trimmed();
    if (out.title.isEmpty())
        out.title = stem.trimmed();
    if (out.author.isEmpty())
        out.author = QStringLiteral("佚名");
    return out;
}

LocalBookKind KindOfLocalBook(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return LocalBookKind::Folder;
    if (!info.isFile())
        return LocalBookKind::None;
    const QString name = info.fileName();
    if (hasSuffix(name, QStringLiteral(".txt")))
        return LocalBookKind::Text;
    for (const QString &suffix : {QStringLiteral(".zip"), QStringLiteral(".rar"), QStringLiteral(".7z")}) {
        if (hasSuffix(name, suffix))
            return LocalBookKind::Archive;
    }
    return LocalBookKind::None;
}

QString BookOpenFailedTitle()
{
    return QStringLiteral("电子书打开失败!");
}

QString MissingBookMessage(const QString &path)
{
    return QStringLiteral("文件地址不存在，请检查是否移动或删除了以下文件：\r\n") + path;
}

QString LastBookFolder(const LibraryDb &db)
{
    const QString folder = db.option(LibraryDb::lastBookFolderOption());
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void RememberBookFolder(LibraryDb &db, const QString &pickedPath)
{
    db.setOption(LibraryDb::lastBookFolderOption(), QFileInfo(pickedPath).absolutePath());
}
