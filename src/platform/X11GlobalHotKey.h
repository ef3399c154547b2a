#pragma once

#include "platform/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QList>

struct xcb_connection_t;

// The keysym a key of that Qt code produces on an X keyboard: letters in their unshifted
// (lower-case) form, Latin-1 as itself, other characters in the Unicode keysym range.
// 0 for keys that no single character stands for.
quint32 X11KeySymForKey(Qt::Key key);

// A passive key grab on every root window of the display. The grab is repeated with Num Lock
// and Caps Lock, so the combination acts whatever the state of those locks. Presses arrive as
// key events of the root window, which the application's event filter picks out before Qt
// looks for a window to deliver them to.
class X11GlobalHotKey : public GlobalHotKey, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // The connection is the application's own; it stays owned by the platform plugin.
    explicit X11GlobalHotKey(xcb_connection_t *connection, QObject *parent = nullptr);
    ~X11GlobalHotKey() override;

    bool setCombination(QKeyCombination combination) override;
    void clear() override;
    bool isFunctional() const override { return true; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    void readModifierMasks();
    QList<quint16> lockVariants() const;

    xcb_connection_t *m_connection;
    QList<quint32> m_roots;
    QList<quint8> m_keyCodes; // every key code that yields the keysym; empty when nothing is grabbed
    quint16 m_modifiers = 0;  // X modifier mask of the current combination
    quint16 m_altMask = 0;
    quint16 m_numLockMask = 0;
};
