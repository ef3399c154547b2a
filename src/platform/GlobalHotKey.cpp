#include "platform/GlobalHotKey.h"

#ifdef FOLIOWAY_HAVE_XCB
#include "platform/X11GlobalHotKey.h"
#endif

#include <QGuiApplication>

std::unique_ptr<GlobalHotKey> GlobalHotKey::create()
{
#ifdef FOLIOWAY_HAVE_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            if (xcb_connection_t *connection = x11->connection())
                return std::make_unique<X11GlobalHotKey>(connection);
        }
    }
#endif
    return std::make_unique<NoGlobalHotKey>();
}
