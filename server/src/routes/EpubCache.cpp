#include "routes/EpubCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/time.h>

#include <algorithm>

QString EpubCache::contentHash(const QString &path, bool compute) const
{
    const QFileInfo info(path);
    {
        std::lock_guard lock(m_mutex);
        const auto kept = m_hashes.constFind(path);
        if (kept != m_hashes.cend() && kept->size == info.size() && kept->modified == info.lastModified())
            return kept->hash;
    }
    if (!compute)
        return {};
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    Hashed h{info.size(), info.lastModified(), QString::fromLatin1(hash.result().toHex())};
    std::lock_guard lock(m_mutex);
    m_hashes.insert(path, h);
    return h.hash;
}

QString EpubCache::pathOf(const QString &key) const
{
    return QDir(m_dir).filePath(key + QStringLiteral(".epub"));
}

QString EpubCache::find(const QString &key) const
{
    const QString path = pathOf(key);
    // Its time of use is its modification time: the files used longest ago go first.
    if (::utimes(QFile::encodeName(path).constData(), nullptr) != 0)
        return {};
    std::lock_guard lock(m_useMutex);
    m_used.insert(QFileInfo(path).fileName(), ++m_uses);
    return path;
}

EpubCache::Built EpubCache::build(const QString &key,
                                  const std::function<bool(const QString &, QString *)> &write) const
{
    {
        std::unique_lock lock(m_mutex);
        m_built.wait(lock, [&] { return !m_building.contains(key); });
        if (QString kept = find(key); !kept.isEmpty())
            return {kept, {}};
        m_building.insert(key);
    }
    Built out;
    if (!QDir().mkpath(m_dir)) {
        out.error = QStringLiteral("服务器无法保存EPUB文件，请稍后再试。");
    } else if (write(pathOf(key), &out.error)) {
        out.path = pathOf(key);
    }
    {
        std::lock_guard lock(m_mutex);
        m_building.remove(key);
    }
    m_built.notify_all();
    if (!out.path.isEmpty()) {
        find(key); // its first use
        trim(out.path);
    }
    return out;
}

void EpubCache::trim(const QString &newest) const
{
    std::lock_guard trimming(m_trimMutex);
    QFileInfoList files =
        QDir(m_dir).entryInfoList({QStringLiteral("*.epub")}, QDir::Files, QDir::Time | QDir::Reversed);
    {
        std::lock_guard lock(m_useMutex);
        std::stable_sort(files.begin(), files.end(), [this](const QFileInfo &a, const QFileInfo &b) {
            return m_used.value(a.fileName()) < m_used.value(b.fileName());
        });
    }
    qint64 total = 0;
    for (const QFileInfo &f : files)
        total += f.size();
    // A file being sent when it is dropped is still read to its end.
    for (const QFileInfo &f : files) {
        if (total <= m_maxBytes)
            break;
        if (f.absoluteFilePath() == QFileInfo(newest).absoluteFilePath())
            continue;
        if (QFile::remove(f.absoluteFilePath())) {
            total -= f.size();
            std::lock_guard lock(m_useMutex);
            m_used.remove(f.fileName());
        }
    }
}
