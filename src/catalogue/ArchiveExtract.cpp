#include "catalogue/ArchiveExtract.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

struct ArchiveCloser
{
    void operator()(archive *a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

ExtractResult failure(int code)
{
    ExtractResult result;
    result.code = code;
    result.reason = ExtractErrorText(code);
    return result;
}

QString decodeName(archive_entry *entry)
{
    if (const char *raw = archive_entry_pathname(entry)) {
        const QByteArray bytes(raw);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(bytes);
        if (!utf8.hasError())
            return text;
        // Names written by Chinese Windows tools without a Unicode marking.
        QStringDecoder gbk("GB18030", QStringDecoder::Flag::Stateless);
        if (gbk.isValid()) {
            const QString legacy = gbk.decode(bytes);
            if (!gbk.hasError())
                return legacy;
        }
        return text;
    }
    if (const char *utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    if (const wchar_t *wide = archive_entry_pathname_w(entry))
        return QString::fromWCharArray(wide);
    return {};
}

// The entry's path split into safe pieces, or empty when it must not be written.
QStringList safePieces(const QString &name)
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        return {};
    if (path.size() >= 2 && path[1] == QLatin1Char(':'))
        return {}; // a drive letter
    QStringList pieces;
    for (const QString &piece : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (piece == QLatin1String("."))
            continue;
        if (piece == QLatin1String("..") || piece.contains(QChar(0)))
            return {};
        pieces.append(piece);
    }
    return pieces;
}

bool mentionsPassword(archive *a)
{
    const QString error = QString::fromLocal8Bit(archive_error_string(a)).toLower();
    return error.contains(QLatin1String("passphrase")) || error.contains(QLatin1String("encrypt")) ||
           error.contains(QLatin1String("password"));
}

// Moves everything staged into destination, replacing files of the same name.
bool mergeInto(const QString &staging, const QString &destination)
{
    QDirIterator it(staging, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext()) {
        it.next();
        const QString relative = QDir(staging).relativeFilePath(it.filePath());
        const QString target = QDir(destination).filePath(relative);
        if (it.fileInfo().isDir()) {
            const QFileInfo existing(target);
            if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
                return false;
            if (!QDir().mkpath(target))
                return false;
        } else {
            files.append(relative);
        }
    }
    for (const QString &relative : files) {
        const QString target = QDir(destination).filePath(relative);
        const QFileInfo existing(target);
        if (existing.isDir() && !existing.isSymLink())
            return false;
        if ((existing.exists() || existing.isSymLink()) && !QFile::remove(target))
            return false;
        if (!QFile::rename(QDir(staging).filePath(relative), target))
            return false;
    }
    return true;
}

} // namespace

ExtractResult ExtractRar(ExtractMode mode, const QString &archivePath, const QString &destination,
                         const QString &password, const ExtractLimits &limits, const std::function<void()> &yield)
{
    const QFileInfo info(archivePath);
    if (!info.isFile() || !info.isReadable())
        return failure(100 + RarError::OpenFailed);

    ArchivePtr a(archive_read_new());
    if (!a)
        return failure(100 + RarError::NoMemory);
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    archive_read_support_format_zip(a.get());
    archive_read_support_format_7zip(a.get());
    archive_read_support_format_tar(a.get());
    archive_read_support_filter_all(a.get());
    if (!password.isEmpty())
        archive_read_add_passphrase(a.get(), password.toUtf8().constData());
    if (archive_read_open_filename(a.get(), QFile::encodeName(archivePath).constData(), 64 * 1024) != ARCHIVE_OK)
        return failure(100 + RarError::BadArchive);

    std::unique_ptr<QTemporaryDir> staging;
    if (mode == ExtractMode::Extract) {
        if (!QDir().mkpath(destination))
            return failure(200 + RarError::CreateFailed);
        staging = std::make_unique<QTemporaryDir>(QDir(destination).filePath(QStringLiteral(".unpack-XXXXXX")));
        if (!staging->isValid())
            return failure(200 + RarError::CreateFailed);
    }

    ExtractResult result;
    qint64 totalBytes = 0;
    int entries = 0;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        if (yield)
            yield();
        archive_entry *entry = nullptr;
        const int h = archive_read_next_header(a.get(), &entry);
        if (h == ARCHIVE_EOF)
            break;
        if (h < ARCHIVE_WARN) // ARCHIVE_WARN is a name that did not convert: still usable
            return failure(mentionsPassword(a.get()) ? 200 + RarError::MissingPassword : 212);
        if (++entries > limits.maxEntries)
            return failure(200 + RarError::LimitExceeded);

        const bool encrypted = archive_entry_is_encrypted(entry);
        if (encrypted && password.isEmpty())
            return failure(200 + RarError::MissingPassword);
        const mode_t type = archive_entry_filetype(entry);
        const QStringList pieces = safePieces(decodeName(entry));
        const bool link = archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
        if (pieces.isEmpty() || link || (type != AE_IFREG && type != AE_IFDIR)) {
            ++result.entriesSkipped;
            archive_read_data_skip(a.get());
            continue;
        }
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limits.maxTotalBytes - totalBytes)
            return failure(200 + RarError::LimitExceeded);

        if (mode == ExtractMode::List) {
            archive_read_data_skip(a.get());
            continue;
        }

        std::unique_ptr<QFile> out;
        if (mode == ExtractMode::Extract) {
            const QString target = QDir(staging->path()).filePath(pieces.join(QLatin1Char('/')));
            if (type == AE_IFDIR) {
                if (!QDir().mkpath(target))
                    return failure(200 + RarError::CreateFailed);
                continue;
            }
            if (!QDir().mkpath(QFileInfo(target).path()))
                return failure(200 + RarError::CreateFailed);
            out = std::make_unique<QFile>(target);
            if (!out->open(QIODevice::WriteOnly | QIODevice::Truncate))
                return failure(200 + RarError::CreateFailed);
        }
        for (;;) {
            const la_ssize_t got = archive_read_data(a.get(), buffer.data(), buffer.size());
            if (got == 0)
                break;
            if (got < 0) {
                if (encrypted || mentionsPassword(a.get()))
                    return failure(200 + (password.isEmpty() ? RarError::MissingPassword : RarError::BadPassword));
                return failure(200 + RarError::BadData);
            }
            totalBytes += got;
            if (totalBytes > limits.maxTotalBytes)
                return failure(200 + RarError::LimitExceeded);
            if (out && out->write(buffer.constData(), got) != got)
                return failure(200 + RarError::WriteFailed);
        }
        if (out) {
            if (!out->flush())
                return failure(200 + RarError::WriteFailed);
            out->close();
            ++result.filesWritten;
        }
    }

    if (mode == ExtractMode::Extract && !mergeInto(staging->path(), destination))
        return failure(200 + RarError::CreateFailed);
    return result;
}

QString ExtractErrorText(int code)
{
    switch (code) {
    case 0:
        return {};
    case 100 + RarError::OpenFailed:
        return QStringLiteral("无法打开下载的文件");
    case 100 + RarError::BadArchive:
    case 100 + RarError::UnknownFormat:
        return QStringLiteral("不是可以识别的压缩包");
    case 212:
        return QStringLiteral("压缩包已损坏");
    case 200 + RarError::MissingPassword:
        return QStringLiteral("压缩包已加密，需要密码");
    case 200 + RarError::BadPassword:
        return QStringLiteral("压缩包密码不正确");
    case 200 + RarError::CreateFailed:
        return QStringLiteral("无法在书籍文件夹中创建文件");
    case 200 + RarError::WriteFailed:
        return QStringLiteral("写入解压文件失败，磁盘可能已满");
    case 200 + RarError::LimitExceeded:
        return QStringLiteral("压缩包内容过大或文件过多");
    default:
        break;
    }
    return QStringLiteral("解压失败（错误 %1）").arg(code);
}
