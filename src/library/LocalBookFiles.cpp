#include "library/LocalBookFiles.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool hasSuffix(const QString &name, const QString &suffix)
{
    return name.endsWith(suffix, Qt::CaseInsensitive) && name.size() > suffix.size();
}

// "书名-作者" and "书名_作者": the last "-" or "_", when a title stands before it and what follows
// reads as a name: a few characters, no figures ("_2023", "-v2", "-第3卷") and none of the words
// that name a part or an edition ("-上卷", "_全本", "-精校版").
qsizetype authorSeparator(const QString &stem)
{
    const qsizetype cut = std::max(stem.lastIndexOf(u'-'), stem.lastIndexOf(u'_'));
    if (cut <= 0 || stem.left(cut).trimmed().isEmpty())
        return -1;
    const QString author = stem.mid(cut + 1).trimmed();
    if (author.isEmpty() || author.size() > 12 ||
        std::any_of(author.cbegin(), author.cend(), [](QChar c) { return c.isDigit(); }))
        return -1;
    for (const char16_t *word : {u"卷", u"部", u"册", u"篇", u"章", u"回", u"全本", u"全集", u"完结", u"精校", u"版"}) {
        if (author.contains(QStringView(word)))
            return -1;
    }
    return cut;
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
    } else if (const qsizetype cut = authorSeparator(stem); cut > 0) {
        out.title = stem.left(cut).trimmed();
        out.author = stem.mid(cut + 1).trimmed();
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

QString UnpackableArchiveSuffix(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return QStringLiteral(".zip");
    if (head.startsWith("Rar!\x1A\x07"))
        return QStringLiteral(".rar");
    if (head.startsWith("7z\xBC\xAF\x27\x1C"))
        return QStringLiteral(".7z");
    return {};
}

QString RelocateBook(LibraryDb &db, Prompter &prompter, qint64 id)
{
    const std::optional<BookRecord> row = db.findById(id);
    if (!row)
        return {};
    // The old folder, or the nearest one above it that is still there.
    QString folder = QFileInfo(row->path).absolutePath();
    while (!QFileInfo(folder).isDir() && QFileInfo(folder).absolutePath() != folder)
        folder = QFileInfo(folder).absolutePath();
    const QString picked = prompter.openFileName(
        QStringLiteral("重新定位《%1》-Folioway").arg(row->name), QStringLiteral("文本文件(*.txt)|*.txt"),
        QFileInfo(folder).isDir() && QFileInfo(row->path).isAbsolute() ? folder : LastBookFolder(db));
    if (picked.isEmpty() || picked == row->path)
        return {};
    if (const std::optional<BookRecord> other = db.findByPathExcept(picked, row->id)) {
        prompter.message(QStringLiteral("这个文件已经在书架上了，是《%1》：\r\n").arg(other->name) + picked,
                         Prompter::Icon::Exclamation);
        return {};
    }
    if (!db.updateBook(row->id, row->type, row->name, row->author, picked))
        return {};
    RememberBookFolder(db, picked);
    for (const QStringView kind : {QStringView(u"BookReading"), QStringView(u"BookScript")}) {
        if (const QString kept = db.option(BookOptionName(kind, row->path)); !kept.isEmpty())
            db.setOption(BookOptionName(kind, picked), kept);
    }
    return picked;
}

QString BookOptionName(QStringView kind, const QString &path)
{
    return kind.toString() + u':' + QFileInfo(path).absoluteFilePath();
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
