#pragma once

#include "settings/BossKey.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class GlobalHotKey;

// What one press of the boss key does: the first press hides every visible window of the
// program and remembers them, the next one shows exactly those again. Windows that were
// already hidden stay hidden; one closed in between is skipped. Pop-ups are closed, not
// remembered. A modal window may be running its own event loop, which hiding it would end
// with an answer nobody gave, so it only leaves the screen where the windowing system can
// take it off below the toolkit; elsewhere it stays up.
class BossKeyToggle
{
public:
    void toggle();
    bool isHiding() const { return !m_hidden.isEmpty(); }

private:
    struct Hidden
    {
        QPointer<QWidget> window;
        bool belowToolkit = false;
    };
    QList<Hidden> m_hidden;
    // Gets the keyboard back on restore, which a window manager would not always hand it.
    QPointer<QWidget> m_active;
};

// The boss key of the running program: the stored or saved combination on the platform's
// global hot key, whose presses drive the toggle.
class BossKeyHotKey : public QObject
{
    Q_OBJECT
public:
    explicit BossKeyHotKey(std::unique_ptr<GlobalHotKey> hotKey, QObject *parent = nullptr);
    ~BossKeyHotKey() override;

    // The stored BossKey text at start-up; one without "|" or either part registers nothing.
    void registerStored(const QString &stored);
    // Modifier word and key text as the settings tab holds them. A modifier word outside
    // Alt/Ctrl/Shift keeps the modifier of the previous registration.
    void registerKey(const QString &modifier, const QString &key);

    BossKeyCombination combination() const { return m_combination; }
    BossKeyToggle &toggle() { return m_toggle; }
    GlobalHotKey &hotKey() const { return *m_hotKey; }

private:
    std::unique_ptr<GlobalHotKey> m_hotKey;
    BossKeyCombination m_combination;
    BossKeyToggle m_toggle;
};
