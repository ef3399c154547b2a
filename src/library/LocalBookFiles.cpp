#include "library/LocalBookFiles.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

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

// A control character that text does not hold (tabs, line and page breaks and the old end of
// file mark it may).
bool isStrayControl(char16_t c)
{
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1A;
}

// Whether bytes read as UTF-16 give text: hardly any NUL, stray control or lone surrogate.
bool readsAsUtf16(QByteArrayView bytes, bool bigEndian)
{
    const qsizetype count = bytes.size() / 2;
    const auto unit = [&](qsizetype i) -> char16_t {
        const auto hi = uchar(bytes[2 * i + (bigEndian ? 0 : 1)]), lo = uchar(bytes[2 * i + (bigEndian ? 1 : 0)]);
        return char16_t(hi << 8 | lo);
    };
    qsizetype bad = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t u = unit(i);
        if (u == 0 || isStrayControl(u) || QChar::isLowSurrogate(u))
            ++bad;
        else if (QChar::isHighSurrogate(u) && (i + 1 < count && QChar::isLowSurrogate(unit(i + 1))))
            ++i;
        else if (QChar::isHighSurrogate(u))
            ++bad;
    }
    return bad * 100 <= count;
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

BookFileProblem CheckBookBytes(QByteArrayView head)
{
    static constexpr std::array<std::string_view, 4> executables{"MZ", "\x7F" "ELF", "\xCA\xFE\xBA\xBE", "\xCF\xFA\xED\xFE"};
    // Zip, RAR, 7z, gzip, xz and the compound files of old office documents.
    static constexpr std::array<std::string_view, 7> archives{"PK\x03\x04", "PK\x05\x06", "Rar!\x1A\x07",
                                                              "7z\xBC\xAF\x27\x1C", "\x1F\x8B", "\xFD" "7zXZ",
                                                              "\xD0\xCF\x11\xE0"};
    const auto startsWith = [&](std::string_view magic) {
        return head.size() >= qsizetype(magic.size()) && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
    };
    const bool utf16Mark = startsWith("\xFF\xFE") || startsWith("\xFE\xFF");
    // "MZ" alone could begin a line of text; an executable has NUL bytes soon after it.
    if (!utf16Mark && std::any_of(executables.begin(), executables.end(), startsWith) &&
        (!startsWith("MZ") || head.indexOf('\0') >= 0))
        return BookFileProblem::Executable;
    if (std::any_of(archives.begin(), archives.end(), startsWith))
        return BookFileProblem::Archive;

    qsizetype nuls = 0, controls = 0, text = 0;
    for (qsizetype i = 0; i < head.size(); ++i) {
        const uchar b = uchar(head[i]);
        if (b == 0)
            ++nuls;
        else if (isStrayControl(b))
            ++controls;
        else if (b > ' ' && !(i < 3 && (b == 0xEF || b == 0xBB || b == 0xBF || b == 0xFF || b == 0xFE)))
            ++text;
    }
    // NUL bytes belong to UTF-16 text or to no text at all; UTF-16 has any byte value.
    if (utf16Mark || nuls > 0) {
        const bool little = startsWith("\xFF\xFE"), big = startsWith("\xFE\xFF");
        const QByteArrayView units = head.sliced(utf16Mark ? 2 : 0);
        if (!((!big && readsAsUtf16(units, false)) || (!little && readsAsUtf16(units, true))))
            return BookFileProblem::Binary;
    } else if (controls * 100 > head.size()) {
        return BookFileProblem::Binary;
    }
    return text == 0 ? BookFileProblem::Empty : BookFileProblem::None;
}

BookFileProblem CheckBookFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return BookFileProblem::None;
    const BookFileProblem problem = CheckBookBytes(file.read(BookCheckBytes));
    // Blanks in the head only: text may still follow them.
    return problem == BookFileProblem::Empty && file.size() > BookCheckBytes ? BookFileProblem::None : problem;
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

QString BookFileProblemMessage(BookFileProblem problem, const QString &path)
{
    switch (problem) {
    case BookFileProblem::None:
        break;
    case BookFileProblem::Empty:
        return QStringLiteral("这本书是空的，文件里没有可以阅读的文字：\r\n") + path;
    case BookFileProblem::Executable:
        return QStringLiteral("这不是电子书，而是一个程序文件，无法打开：\r\n") + path;
    case BookFileProblem::Archive:
        return QStringLiteral("这是一个压缩包，不是TXT文本，请先解压或用“批量导入”导入：\r\n") + path;
    case BookFileProblem::Binary:
        return QStringLiteral("这不是文本文件，里面没有可以阅读的文字，无法打开：\r\n") + path;
    }
    return {};
}

QString BookFileProblemShort(BookFileProblem problem)
{
    switch (problem) {
    case BookFileProblem::None:
        break;
    case BookFileProblem::Empty:
        return QStringLiteral("空文件，跳过");
    case BookFileProblem::Executable:
        return QStringLiteral("是程序文件，不是电子书，跳过");
    case BookFileProblem::Archive:
        return QStringLiteral("是压缩包，扩展名却是.txt，跳过");
    case BookFileProblem::Binary:
        return QStringLiteral("不是文本文件，跳过");
    }
    return {};
}

QString BookOpenFailedTitle()
{
    return QStringLiteral("电子书打开失败!");
}

QString MissingBookMessage(const QString &path)
{
    return QStringLiteral("文件地址不存在，请检查是否移动或删除了以下文件：\r\n") + path;
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
    return picked;
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
