#include "library/BookFingerprint.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

QString BookFingerprint(const QString &path, const std::atomic_bool *stop)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        if (stop && stop->load())
            return {};
        const qint64 read = file.read(chunk.data(), chunk.size());
        if (read < 0)
            return {};
        if (read == 0)
            break;
        hash.addData(QByteArrayView(chunk.constData(), read));
    }
    return QStringLiteral("%1:%2").arg(file.size()).arg(QString::fromLatin1(hash.result().toHex()));
}

QList<FingerprintEntry> RefreshFingerprints(const QList<FingerprintEntry> &known, const std::atomic_bool *stop)
{
    QList<FingerprintEntry> fresh;
    for (const FingerprintEntry &entry : known) {
        if (stop && stop->load())
            break;
        const QFileInfo info(entry.path);
        if (!info.isFile())
            continue;
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        if (!entry.fingerprint.isEmpty() && entry.size == info.size() && entry.modified == modified)
            continue;
        const QString fingerprint = BookFingerprint(entry.path, stop);
        if (!fingerprint.isEmpty())
            fresh.append({entry.path, info.size(), modified, fingerprint});
    }
    return fresh;
}
