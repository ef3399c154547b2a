#include "store/BookStorage.h"

#include "store/BookPrint.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool writeAll(const QString &path, QByteArrayView bytes, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes.data(), bytes.size()) != bytes.size()) {
        *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace

QString BookStorage::folder(qint64 id) const
{
    return QDir(m_booksDir).filePath(QString::number(id));
}

void BookStorage::removeFolder(qint64 id) const
{
    QDir(folder(id)).removeRecursively();
}

qint64 BookStorage::add(BookRow book, const Content &content, QByteArrayView cover, QString *error)
{
    if (!QDir().mkpath(m_booksDir)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(m_booksDir);
        return 0;
    }
    qint64 id = 0;
    QString staging;
    const bool ok = m_store.transaction([&] {
        if (!content.sourcePath.isEmpty())
            book.fileSize = QFileInfo(content.sourcePath).size();
        else
            book.fileSize = content.bytes.size();
        id = m_store.catalogue().insertBook(book);
        if (id <= 0) {
            *error = m_store.lastError();
            return false;
        }
        // Files go to a staging folder first; it becomes books/<id> only when all are written.
        staging = folder(id) + QStringLiteral(".part");
        QDir(staging).removeRecursively();
        QDir(folder(id)).removeRecursively();
        if (!QDir().mkpath(staging)) {
            *error = QStringLiteral("无法创建文件夹 %1").arg(staging);
            return false;
        }
        const QString target = QDir(staging).filePath(book.fileName);
        if (!content.sourcePath.isEmpty()) {
            QFile source(content.sourcePath);
            if (!source.copy(target)) {
                *error = source.errorString();
                return false;
            }
        } else if (!writeAll(target, content.bytes, error)) {
            return false;
        }
        if (extension(book.fileName) == u"txt")
            BookPrint::keep(target, book.fileSize >= BookPrint::kKeptFrom && content.sourcePath.isEmpty()
                                        ? BookPrint::of(content.bytes)
                                        : QString());
        if (!book.coverName.isEmpty() && !writeAll(QDir(staging).filePath(book.coverName), cover, error))
            return false;
        if (!QDir().rename(staging, folder(id))) {
            *error = QStringLiteral("无法保存到 %1").arg(folder(id));
            return false;
        }
        return true;
    });
    if (!ok) {
        if (!staging.isEmpty()) {
            QDir(staging).removeRecursively();
            if (id > 0)
                removeFolder(id);
        }
        if (error->isEmpty())
            *error = m_store.lastError();
        return 0;
    }
    return id;
}

QString BookStorage::safeFileName(const QString &name, const QString &fallback)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        // Noncharacters and byte-order marks too: some readers take them for a swapped byte order.
        if (c.unicode() < 0x20 || c == u'\x7f' || c.isNonCharacter() || c == u'\uFEFF' ||
            QStringLiteral("/\\:*?\"<>|#%&;").contains(c))
            out.append(u'_');
        else
            out.append(c);
    }
    out = out.trimmed();
    while (out.startsWith(u'.'))
        out.remove(0, 1);
    while (out.endsWith(u'.') || out.endsWith(u' '))
        out.chop(1);
    if (out.isEmpty())
        return fallback;
    // Keep names within common file-system limits, extension included.
    if (out.toUtf8().size() > 200) {
        const QString ext = extension(out);
        QString stem = out.left(out.size() - (ext.isEmpty() ? 0 : ext.size() + 1));
        while ((stem + u'.' + ext).toUtf8().size() > 200)
            stem.chop(1);
        out = ext.isEmpty() ? stem : stem + u'.' + ext;
    }
    return out;
}

QString BookStorage::publicName(const BookRow &book)
{
    const QString id = QString::number(book.id);
    const QString ext = extension(book.fileName);
    const QString tail = ext.isEmpty() ? QString() : u'.' + ext;
    return safeFileName(id + u'-' + book.name + tail, id + tail);
}

QString BookStorage::extension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    return fileName.mid(dot + 1).toLower();
}

bool BookStorage::contentMatches(const QString &ext, QByteArrayView head)
{
    if (ext == u"zip")
        return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
    if (ext == u"rar")
        return head.startsWith("Rar!\x1a\x07");
    if (ext == u"jpg" || ext == u"jpeg")
        return head.startsWith("\xff\xd8\xff");
    if (ext == u"gif")
        return head.startsWith("GIF87a") || head.startsWith("GIF89a");
    return true;
}

QString BookStorage::contentHash(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}
