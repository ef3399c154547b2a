#include "settings/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

AutoStartEntry::AutoStartEntry(QString programPath) : m_programPath(std::move(programPath)) {}

QString AutoStartEntry::autostartFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config + QStringLiteral("/autostart"));
}

QString AutoStartEntry::filePath() const
{
    return autostartFolder() + QStringLiteral("/Folioway.desktop");
}

QString AutoStartEntry::execValue(const QString &programPath)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar ch : programPath)
        needsQuotes = needsQuotes || reserved.contains(ch);

    QString argument;
    if (needsQuotes) {
        argument = QStringLiteral("\"");
        for (const QChar ch : programPath) {
            if (ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += ch;
        }
        argument += QLatin1Char('"');
    } else {
        argument = programPath;
    }
    // A literal "%" would otherwise start a field code.
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));

    // The string-value escapes apply on top of the quoting, so a backslash ends up doubled twice.
    QString value;
    for (const QChar ch : argument) {
        switch (ch.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += ch;
        }
    }
    return value;
}

QString AutoStartEntry::desktopEntryText() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Folioway\n"
                          "Name[zh_CN]=Folioway 小说阅读器\n"
                          "Icon=folioway\n"
                          "Exec=") +
           execValue(m_programPath) + QStringLiteral("\nTerminal=false\n");
}

bool AutoStartEntry::write() const
{
    if (m_programPath.isEmpty() || !QDir().mkpath(autostartFolder()))
        return false;
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(desktopEntryText().toUtf8());
    return file.commit();
}

bool AutoStartEntry::remove() const
{
    const QString path = filePath();
    return !QFileInfo::exists(path) || QFile::remove(path);
}
