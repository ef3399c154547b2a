#include "platform/NativeWindow.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef FOLIOWAY_HAVE_XCB
#include <xcb/xcb.h>
#endif

bool SetNativeWindowMapped(QWidget *window, bool mapped)
{
#ifdef FOLIOWAY_HAVE_XCB
    if (!window || !window->isWindow() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const auto id = xcb_window_t(window->winId());
    if (mapped)
        xcb_map_window(connection, id);
    else
        xcb_unmap_window(connection, id);
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(mapped);
    return false;
#endif
}
