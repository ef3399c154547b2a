#include "platform/X11GlobalHotKey.h"

#include <QChar>
#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

constexpr quint32 KeySymNumLock = 0xff7f;
constexpr quint32 KeySymAltL = 0xffe9;
constexpr quint32 KeySymAltR = 0xffea;
constexpr quint16 CoreModifierBits = 0xff; // Shift, Lock, Control, Mod1..Mod5; the rest are buttons

QList<quint8> KeyCodesFor(xcb_key_symbols_t *symbols, quint32 keysym)
{
    QList<quint8> codes;
    if (!symbols || keysym == 0)
        return codes;
    // A null-terminated array that the caller frees.
    if (xcb_keycode_t *found = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (xcb_keycode_t *c = found; *c != XCB_NO_SYMBOL; ++c) {
            if (!codes.contains(*c))
                codes << *c;
        }
        std::free(found);
    }
    return codes;
}

} // namespace

quint32 X11KeySymForKey(Qt::Key key)
{
    const char32_t code = char32_t(key);
    if (code < 0x20 || code >= 0x01000000 || (code >= 0x7f && code < 0xa0) || (code >= 0xd800 && code < 0xe000))
        return 0;
    const char32_t lower = QChar::toLower(code);
    if (lower <= 0xff)
        return lower;
    return 0x01000000 | lower;
}

X11GlobalHotKey::X11GlobalHotKey(xcb_connection_t *connection, QObject *parent)
    : GlobalHotKey(parent), m_connection(connection)
{
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem;
         xcb_screen_next(&it))
        m_roots << it.data->root;
    readModifierMasks();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11GlobalHotKey::~X11GlobalHotKey()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
    clear();
}

void X11GlobalHotKey::readModifierMasks()
{
    m_altMask = XCB_MOD_MASK_1;
    m_numLockMask = XCB_MOD_MASK_2;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    xcb_get_modifier_mapping_reply_t *reply =
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (symbols && reply) {
        const QList<quint8> numLock = KeyCodesFor(symbols, KeySymNumLock);
        const QList<quint8> alt = KeyCodesFor(symbols, KeySymAltL) + KeyCodesFor(symbols, KeySymAltR);
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        quint16 numLockMask = 0;
        quint16 altMask = 0;
        // Rows 0..2 are Shift, Lock and Control; only Mod1..Mod5 are assigned by the keyboard map.
        for (int row = 3; row < 8; ++row) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[row * perModifier + i];
                if (code == 0)
                    continue;
                if (numLock.contains(code))
                    numLockMask |= quint16(1u << row);
                if (alt.contains(code))
                    altMask |= quint16(1u << row);
            }
        }
        if (numLockMask)
            m_numLockMask = numLockMask;
        if (altMask)
            m_altMask = altMask;
    }
    std::free(reply);
    if (symbols)
        xcb_key_symbols_free(symbols);
}

QList<quint16> X11GlobalHotKey::lockVariants() const
{
    return {0, XCB_MOD_MASK_LOCK, m_numLockMask, quint16(XCB_MOD_MASK_LOCK | m_numLockMask)};
}

bool X11GlobalHotKey::setCombination(QKeyCombination combination)
{
    clear();

    const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
    quint16 mask = 0;
    if (mods & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (mods & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (mods & Qt::AltModifier)
        mask |= m_altMask;
    if (mods & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;

    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    const QList<quint8> codes = KeyCodesFor(symbols, X11KeySymForKey(combination.key()));
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (codes.isEmpty())
        return false;

    bool allGranted = true;
    for (const quint32 root : std::as_const(m_roots)) {
        for (const quint8 code : codes) {
            for (const quint16 locks : lockVariants()) {
                const xcb_void_cookie_t cookie = xcb_grab_key_checked(
                    m_connection, 1, root, quint16(mask | locks), code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                // BadAccess when another client holds the combination.
                if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
                    allGranted = false;
                    std::free(error);
                }
            }
        }
    }
    m_keyCodes = codes;
    m_modifiers = mask;
    return allGranted;
}

void X11GlobalHotKey::clear()
{
    if (m_keyCodes.isEmpty())
        return;
    for (const quint32 root : std::as_const(m_roots)) {
        for (const quint8 code : std::as_const(m_keyCodes)) {
            for (const quint16 locks : lockVariants())
                xcb_ungrab_key(m_connection, code, root, quint16(m_modifiers | locks));
        }
    }
    xcb_flush(m_connection);
    m_keyCodes.clear();
    m_modifiers = 0;
}

bool X11GlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result)
{
    Q_UNUSED(result);
    if (m_keyCodes.isEmpty() || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
        return false;
    const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (!m_roots.contains(press->event) || !m_keyCodes.contains(press->detail))
        return false;
    const quint16 ignored = XCB_MOD_MASK_LOCK | m_numLockMask;
    if ((press->state & CoreModifierBits & ~ignored) != m_modifiers)
        return false;
    Q_EMIT activated();
    return true;
}
