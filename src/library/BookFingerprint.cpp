#include "library/BookFingerprint.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

QString BookFingerprint(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return {};
    return QStringLiteral("%1:%2").arg(file.size()).arg(QString::fromLatin1(hash.result().toHex()));
}

QList<FingerprintEntry> RefreshFingerprints(const QList<FingerprintEntry> &known)
{
    QList<FingerprintEntry> fresh;
    for (const FingerprintEntry &entry : known) {
        const QFileInfo info(entry.path);
        if (!info.isFile())
            continue;
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        if (!entry.fingerprint.isEmpty() && entry.size == info.size() && entry.modified == modified)
            continue;
        const QString fingerprint = BookFingerprint(entry.path);
        if (!fingerprint.isEmpty())
            fresh.append({entry.path, info.size(), modified, fingerprint});
    }
    return fresh;
}
