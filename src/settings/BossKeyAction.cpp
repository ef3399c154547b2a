#include "settings/BossKeyAction.h"

#include "platform/GlobalHotKey.h"
#include "platform/NativeWindow.h"

#include <QApplication>

void BossKeyToggle::toggle()
{
    if (!m_hidden.isEmpty()) {
        const QList<Hidden> windows = std::exchange(m_hidden, {});
        // Modal windows last, so they come back above the windows they block.
        for (const Hidden &hidden : windows) {
            if (hidden.window && !hidden.belowToolkit)
                hidden.window->show();
        }
        for (const Hidden &hidden : windows) {
            // One the program closed meanwhile must not come back as a ghost.
            if (hidden.window && hidden.belowToolkit && hidden.window->isVisible())
                SetNativeWindowMapped(hidden.window, true);
        }
        if (m_active && m_active->isVisible())
            m_active->activateWindow();
        return;
    }
    m_active = QApplication::activeWindow();
    // Hiding one window may hide others with it, so the visible ones are listed first.
    QList<QWidget *> visible;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isWindow() && widget->isVisible())
            visible << widget;
    }
    for (QWidget *window : std::as_const(visible)) {
        const Qt::WindowType type = window->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip) {
            window->close();
        } else if (window->isModal()) {
            if (SetNativeWindowMapped(window, false))
                m_hidden.append({window, true});
        } else {
            m_hidden.append({window, false});
            window->hide();
        }
    }
}

BossKeyHotKey::BossKeyHotKey(std::unique_ptr<GlobalHotKey> hotKey, QObject *parent)
    : QObject(parent), m_hotKey(std::move(hotKey))
{
    connect(m_hotKey.get(), &GlobalHotKey::activated, this, [this] { m_toggle.toggle(); });
}

BossKeyHotKey::~BossKeyHotKey() = default;

void BossKeyHotKey::registerStored(const QString &stored)
{
    if (const std::optional<BossKeyText> parts = ParseBossKey(stored))
        registerKey(parts->modifier, parts->key);
}

void BossKeyHotKey::registerKey(const QString &modifier, const QString &key)
{
    const BossKeyCombination next = MapBossKey(modifier, key, m_combination.modifiers);
    m_combination = next;
    // A refused combination (held by another program, or not on this keyboard) is not reported.
    if (next.isValid())
        m_hotKey->setCombination(next.combination());
    else
        m_hotKey->clear();
}
