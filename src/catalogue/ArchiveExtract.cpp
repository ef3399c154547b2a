#include "catalogue/ArchiveExtract.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QThread>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

struct ArchiveCloser
{
    void operator()(archive *a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

// What the file system takes: a name of at most 255 bytes, a path of fewer than 4096.
constexpr qsizetype MaxNameBytes = 255;
constexpr qsizetype MaxPathBytes = 4095;

ExtractResult failure(int code, const QString &reason = {})
{
    ExtractResult result;
    result.code = code;
    result.reason = reason.isEmpty() ? ExtractErrorText(code) : reason;
    return result;
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024));
}

ExtractResult tooManyEntries(const ExtractLimits &limits)
{
    return failure(200 + RarError::LimitExceeded,
                   QStringLiteral("压缩包中的文件超过 %1 个，已拒绝解压").arg(limits.maxEntries));
}

ExtractResult fileTooLarge(const QStringList &pieces, const ExtractLimits &limits)
{
    // The name as the download list can show it: the file's own name, shortened.
    QString name = pieces.last();
    if (name.size() > 40)
        name = name.left(40) + QStringLiteral("…");
    return failure(
        200 + RarError::LimitExceeded,
        QStringLiteral("压缩包中的文件“%1”超过 %2 MB，已拒绝解压").arg(name, megabytes(limits.maxFileBytes)));
}

ExtractResult totalTooLarge(qint64 totalLimit)
{
    return failure(
        200 + RarError::LimitExceeded,
        QStringLiteral("压缩包解压后超过 %1 MB，与压缩包的大小不相称，已拒绝解压").arg(megabytes(totalLimit)));
}

// Staging folders are ".unpack-" and letters or digits; beside each is a lock file of the same
// name plus ".lock", held by the extraction that fills it.
const QString &stagingPrefix()
{
    static const QString prefix = QStringLiteral(".unpack-");
    return prefix;
}

bool isStagingName(const QString &name)
{
    if (!name.startsWith(stagingPrefix()) || name.size() == stagingPrefix().size())
        return false;
    for (qsizetype i = stagingPrefix().size(); i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

QString lockPathFor(const QString &stagingPath)
{
    return stagingPath + QStringLiteral(".lock");
}

// A fresh staging folder whose lock is held until the object goes, and the folder with it.
// The lock is taken before the folder exists, so a cleaner never sees the folder unlocked.
class Staging
{
public:
    explicit Staging(const QString &destination)
    {
        const QDir dir(destination);
        for (int attempt = 0; attempt < 16 && m_path.isEmpty(); ++attempt) {
            const QString name = stagingPrefix() + QString::number(QRandomGenerator::global()->generate64(), 36);
            auto lock = std::make_unique<QLockFile>(lockPathFor(dir.filePath(name)));
            lock->setStaleLockTime(0);
            if (!lock->tryLock(0))
                continue;
            if (dir.mkdir(name)) {
                m_path = dir.filePath(name);
                m_lock = std::move(lock);
            }
        }
    }
    ~Staging()
    {
        if (!m_path.isEmpty())
            QDir(m_path).removeRecursively();
    }
    Staging(const Staging &) = delete;
    Staging &operator=(const Staging &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock; // released after the folder is gone
};

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

// Whether the file system would refuse the entry's name inside the staging folder.
bool nameTooLong(const QString &stagingPath, const QStringList &pieces)
{
    qsizetype total = QFile::encodeName(stagingPath).size();
    for (const QString &piece : pieces) {
        const qsizetype bytes = QFile::encodeName(piece).size();
        if (bytes > MaxNameBytes)
            return true;
        total += 1 + bytes;
    }
    return total > MaxPathBytes;
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

    std::unique_ptr<Staging> staging;
    if (mode == ExtractMode::Extract) {
        if (!QDir().mkpath(destination))
            return failure(200 + RarError::CreateFailed);
        RemoveStaleStaging(destination);
        staging = std::make_unique<Staging>(destination);
        if (!staging->isValid())
            return failure(200 + RarError::CreateFailed);
    }

    ExtractResult result;
    const qint64 totalLimit = limits.totalFor(info.size());
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
            return tooManyEntries(limits);

        const bool encrypted = archive_entry_is_encrypted(entry);
        if (encrypted && password.isEmpty())
            return failure(200 + RarError::MissingPassword);
        const mode_t type = archive_entry_filetype(entry);
        const QStringList pieces = safePieces(decodeName(entry));
        const bool link = archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
        if (pieces.isEmpty() || link || (type != AE_IFREG && type != AE_IFDIR) ||
            (staging && nameTooLong(staging->path(), pieces))) {
            ++result.entriesSkipped;
            archive_read_data_skip(a.get());
            continue;
        }
        if (archive_entry_size_is_set(entry)) {
            if (archive_entry_size(entry) > limits.maxFileBytes)
                return fileTooLarge(pieces, limits);
            if (archive_entry_size(entry) > totalLimit - totalBytes)
                return totalTooLarge(totalLimit);
        }

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
        qint64 fileBytes = 0;
        for (;;) {
            const la_ssize_t got = archive_read_data(a.get(), buffer.data(), buffer.size());
            if (got == 0)
                break;
            if (got < 0) {
                if (encrypted || mentionsPassword(a.get()))
                    return failure(200 + (password.isEmpty() ? RarError::MissingPassword : RarError::BadPassword));
                return failure(200 + RarError::BadData);
            }
            // The sizes in the headers are the archive's word; the bytes are counted as well.
            fileBytes += got;
            if (fileBytes > limits.maxFileBytes)
                return fileTooLarge(pieces, limits);
            totalBytes += got;
            if (totalBytes > totalLimit)
                return totalTooLarge(totalLimit);
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

qint64 ExtractLimits::totalFor(qint64 archiveBytes) const
{
    const qint64 byRatio = archiveBytes > maxTotalBytes / qMax<qint64>(ratio, 1) ? maxTotalBytes : archiveBytes * ratio;
    return qMin(maxTotalBytes, qMax(ratioFloorBytes, byRatio));
}

void RunOffThread(const std::function<void()> &work, QEventLoop::ProcessEventsFlags flags)
{
    QEventLoop loop;
    const std::unique_ptr<QThread> worker(QThread::create(work));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    loop.exec(flags);
    // Quitting the program ends every event loop; the work still has to end before its data goes.
    worker->wait();
}

void RemoveStaleStaging(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({stagingPrefix() + QLatin1Char('*')},
                                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        QString staged = name;
        // A lock file left alone: its extraction died before making the folder, or after removing it.
        if (name.endsWith(QLatin1String(".lock")))
            staged.chop(5);
        if (!isStagingName(staged) || (staged != name && names.contains(staged)))
            continue;
        QLockFile lock(lockPathFor(dir.filePath(staged)));
        lock.setStaleLockTime(0);
        if (!lock.tryLock(0))
            continue; // a running extraction, or one that cannot be told apart from it
        const QFileInfo info(dir.filePath(staged));
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else if (info.exists() || info.isSymLink())
            QFile::remove(info.filePath());
    }
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
