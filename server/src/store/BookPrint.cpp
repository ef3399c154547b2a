#include "store/BookPrint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/evp.h>
#include <sys/stat.h>

#include <memory>

namespace BookPrint {

namespace {

using Digest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Digest started()
{
    Digest hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (hash && EVP_DigestInit_ex(hash.get(), EVP_sha1(), nullptr) != 1)
        hash.reset();
    return hash;
}

QString finished(EVP_MD_CTX *hash, qint64 size)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash, digest, &length) != 1)
        return {};
    return QStringLiteral("%1:%2").arg(size).arg(
        QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex()));
}

QString printFile(const QString &path)
{
    return QDir(QFileInfo(path).absolutePath()).filePath(QStringLiteral(".reader/print"));
}

// Which file this is and which of its versions: a file written anew or replaced differs in one.
QByteArray stamp(const QString &path)
{
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0 || !S_ISREG(s.st_mode))
        return {};
    return QByteArray::number(qulonglong(s.st_ino)) + ' ' + QByteArray::number(qlonglong(s.st_size)) + ' ' +
           QByteArray::number(qlonglong(s.st_mtim.tv_sec)) + '.' + QByteArray::number(qlonglong(s.st_mtim.tv_nsec));
}

} // namespace

QString of(QByteArrayView bytes)
{
    const Digest hash = started();
    if (!hash || EVP_DigestUpdate(hash.get(), bytes.data(), size_t(bytes.size())) != 1)
        return {};
    return finished(hash.get(), bytes.size());
}

QString ofFile(const QString &path)
{
    QFile file(path);
    const Digest hash = started();
    if (!hash || !file.open(QIODevice::ReadOnly))
        return {};
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (qint64 n; (n = file.read(chunk.data(), chunk.size())) > 0; total += n)
        EVP_DigestUpdate(hash.get(), chunk.constData(), size_t(n));
    return total == file.size() ? finished(hash.get(), total) : QString();
}

void keep(const QString &path, QString print)
{
    if (QFileInfo(path).size() < kKeptFrom)
        return;
    const QByteArray before = stamp(path);
    if (print.isEmpty())
        print = ofFile(path);
    // Named while it changed: nothing kept rather than a wrong name.
    if (before.isEmpty() || print.isEmpty() || stamp(path) != before)
        return;
    const QString target = printFile(path);
    QSaveFile out(target);
    if (QDir().mkpath(QFileInfo(target).absolutePath()) && out.open(QIODevice::WriteOnly)) {
        out.write(before + '\n' + print.toLatin1());
        out.commit();
    }
}

QString kept(const QString &path)
{
    QFile in(printFile(path));
    if (!in.open(QIODevice::ReadOnly) || in.size() > 256)
        return {};
    const QList<QByteArray> lines = in.readAll().split('\n');
    if (lines.size() != 2 || lines.at(0) != stamp(path))
        return {};
    return QString::fromLatin1(lines.at(1));
}

} // namespace BookPrint
