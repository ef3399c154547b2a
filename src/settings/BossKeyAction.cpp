#include "settings/BossKeyAction.h"

#include "platform/GlobalHotKey.h"

#include <QApplication>

void BossKeyToggle::toggle()
{
    if (!m_hidden.isEmpty()) {
        const QList<QPointer<QWidget>> windows = std::exchange(m_hidden, {});
        for (const QPointer<QWidget> &window : windows) {
            if (window)
                window->show();
        }
        return;
    }
    // Hiding one window may hide others with it, so the visible ones are listed first.
    QList<QWidget *> visible;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isWindow() && widget->isVisible())
            visible << widget;
    }
    for (QWidget *window : std::as_const(visible)) {
        m_hidden << window;
        window->hide();
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
