#include "startup/ProgramFolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>

QString ResolveProgramFolder()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (QFileInfo(JoinPath(exeDir, QStringLiteral("DataFile"))).isDir())
        return QDir::toNativeSeparators(exeDir);
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
        return folder + name;
    return folder + QDir::separator() + name;
}

QString EnsureFolderPath(const QString &path, bool *ok)
{
    bool allMade = true;
    const QStringList pieces = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    QString prefix;
    if (!path.isEmpty()) {
        for (const QString &piece : pieces) {
            prefix += piece + QLatin1Char('/');
            if (piece.isEmpty() && prefix != QLatin1String("/"))
                continue; // doubled separator
            if (!QFileInfo(prefix).isDir() && !QDir().mkdir(prefix)) {
                allMade = false;
                break;
            }
        }
    }
    if (ok)
        *ok = allMade;
    return path;
}

QString MachineId(const QString &programFolder)
{
    QByteArray machine = QSysInfo::machineUniqueId();
    if (machine.isEmpty()) {
        // No system identifier (some containers): keep a random one of our own instead.
        QSettings ini(JoinPath(programFolder, QStringLiteral("Folioway.ini")), QSettings::IniFormat);
        QString stored = ini.value(QStringLiteral("MachineSeed")).toString();
        if (stored.isEmpty()) {
            stored = QUuid::createUuid().toString(QUuid::WithoutBraces);
            ini.setValue(QStringLiteral("MachineSeed"), stored);
        }
        machine = stored.toLatin1();
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("FolioDesk|"));
    hash.addData(machine);
    hash.addData(QByteArrayLiteral("|Q8MW-T2KZ"));
    const QString hex = QString::fromLatin1(hash.result().toHex().toUpper().left(20));
    return hex.left(5) + QLatin1Char('-') + hex.mid(5, 5) + QLatin1Char('-') + hex.mid(10, 5) + QLatin1Char('-') +
           hex.mid(15, 5);
}
