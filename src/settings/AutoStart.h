#pragma once

#include <QString>

// The per-user auto-start entry: an XDG autostart desktop file that starts the program at
// log-on. Failures are silent by design: saving the settings reports success regardless.
class AutoStartEntry
{
public:
    // programPath: the program's absolute file path, normally QCoreApplication::applicationFilePath().
    explicit AutoStartEntry(QString programPath);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that is unset or relative.
    static QString autostartFolder();
    QString filePath() const;

    QString desktopEntryText() const;
    // The Exec value for a program path, quoted and escaped as desktop entries require.
    static QString execValue(const QString &programPath);

    // Replaces any earlier entry, so the file always names the current path.
    bool write() const;
    // A missing entry counts as removed.
    bool remove() const;
    // "是" writes, "否" removes.
    bool apply(bool enabled) const { return enabled ? write() : remove(); }

private:
    QString m_programPath;
};
