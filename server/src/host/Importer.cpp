#include "host/Importer.h"

#include "store/BookCopies.h"
#include "store/BookStorage.h"
#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

// A file below the folder: the name it is shown and stored by, and the bytes of its path.
struct Found
{
    QString name;
    QByteArray path;
    bool operator<(const Found &other) const { return path < other.path; }
};

// A name that is not text in this system's encoding is taken as GB18030, as files named on
// Chinese systems arrive (GBK bytes under UTF-8).
QString nameOf(const QByteArray &raw)
{
    const QString local = QFile::decodeName(raw);
    if (QFile::encodeName(local) == raw)
        return local;
    QStringDecoder gb18030("GB18030");
    const QString chinese = gb18030.decode(raw);
    return gb18030.hasError() ? local : chinese;
}

// Every readable file below dir, walked by the bytes of the names; links to folders are not followed.
void walk(const QByteArray &dir, QList<Found> *out)
{
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        const QByteArray path = dir + '/' + name;
        struct stat st{};
        if (name == "." || name == ".." || ::lstat(path.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walk(path, out);
        else if ((S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))) &&
                 ::access(path.constData(), R_OK) == 0)
            out->append({nameOf(name), path});
    }
    ::closedir(d);
}

// The file's bytes under a name Qt can open: a copy in dir when its own name is not text here.
bool readable(const QByteArray &raw, const QString &dir, std::unique_ptr<QTemporaryFile> *copy, QString *path)
{
    *path = QFile::decodeName(raw);
    if (QFile::encodeName(*path) == raw)
        return true;
    *copy = std::make_unique<QTemporaryFile>(QDir(dir).filePath(QStringLiteral("import-XXXXXX")));
    const int fd = ::open(raw.constData(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && QDir().mkpath(dir) && (*copy)->open();
    char buffer[1 << 16];
    for (ssize_t n = 0; ok && (n = ::read(fd, buffer, sizeof buffer)) != 0;)
        ok = n > 0 && (*copy)->write(buffer, n) == n;
    if (fd >= 0)
        ::close(fd);
    *path = (*copy)->fileName();
    return ok && (*copy)->flush();
}

// Noncharacters and byte-order marks read as a swapped byte order by some readers: left out of names.
QString withoutMarks(const QString &text)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (c != 0xFEFF && !QChar::isNonCharacter(c))
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

} // namespace

namespace Importer {

TitleAuthor fromFileName(const QString &name)
{
    const QString fileName = withoutMarks(name);
    QString stem = QFileInfo(fileName).completeBaseName();
    const QString ext = BookStorage::extension(fileName);
    if (ext == u"txt" || ext == u"zip" || ext == u"rar")
        stem = fileName.left(fileName.size() - ext.size() - 1);
    TitleAuthor out;
    qsizetype at = stem.indexOf(QStringLiteral("作者："));
    qsizetype markLength = 3;
    if (at < 0) {
        at = stem.indexOf(QStringLiteral("作者:"));
        markLength = 3;
    }
    if (at >= 0) {
        out.title = stem.left(at);
        out.author = stem.mid(at + markLength).trimmed();
    } else {
        out.title = stem;
    }
    out.title = out.title.trimmed();
    if (out.title.startsWith(u'《') && out.title.endsWith(u'》'))
        out.title = out.title.mid(1, out.title.size() - 2).trimmed();
    if (out.title.isEmpty())
        out.title = stem.trimmed();
    if (out.author.isEmpty())
        out.author = QStringLiteral("佚名");
    return out;
}

int importFolder(Store &store, const QString &booksDir, const QString &folder, const QString &category,
                 QStringList *skipped, QString *error, QStringList *replaced)
{
    QList<Found> found, files;
    walk(QFile::encodeName(QDir::cleanPath(folder)), &found);
    for (const Found &f : found) {
        const QString ext = BookStorage::extension(f.name);
        if (ext == u"txt" || ext == u"zip" || ext == u"rar")
            files.append(f);
    }
    std::sort(files.begin(), files.end());

    BookStorage storage(store, booksDir);
    int added = 0;
    for (const Found &file : files) {
        std::unique_ptr<QTemporaryFile> copy;
        QString path;
        const QString shown = QFile::decodeName(file.path.left(file.path.lastIndexOf('/') + 1)) + file.name;
        const QString hash = readable(file.path, booksDir, &copy, &path) ? BookStorage::contentHash(path) : QString();
        if (hash.isEmpty()) {
            *error = QStringLiteral("%1: cannot read").arg(shown);
            return -1;
        }
        if (store.catalogue().bookWithHash(hash)) {
            skipped->append(shown);
            continue;
        }
        const TitleAuthor ta = fromFileName(file.name);
        if (const qint64 id = replaced ? BookCopies::hostBookNamed(store, ta.title, ta.author) : 0; id > 0) {
            QString why;
            if (!BookCopies::replaceFile(store, booksDir, id, path, &why)) {
                *error = QStringLiteral("%1: %2").arg(shown, why);
                return -1;
            }
            replaced->append(shown);
            continue;
        }
        BookRow row;
        row.name = ta.title;
        row.author = ta.author;
        row.category = category;
        row.status = QStringLiteral("全集");
        row.fileName =
            BookStorage::safeFileName(file.name, QStringLiteral("book.") + BookStorage::extension(file.name));
        row.updated = storeTime(QDateTime::currentDateTime());
        row.review = Review::Approved;
        row.hash = hash;
        QString why;
        if (storage.add(row, {{}, path}, {}, &why) <= 0) {
            *error = QStringLiteral("%1: %2").arg(shown, why);
            return -1;
        }
        ++added;
    }
    return added;
}

} // namespace Importer
