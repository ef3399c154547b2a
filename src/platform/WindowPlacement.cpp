#include "platform/WindowPlacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

void ShowCentred(QWidget *window)
{
    const QWidget *over = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (over && !window->isVisible() && !window->property("folioway_placed").toBool()) {
        window->setProperty("folioway_placed", true);
        window->ensurePolished();
        if (window->layout())
            window->resize(window->size().expandedTo(window->sizeHint()));
        QRect place(QPoint(), window->size());
        place.moveCenter(over->frameGeometry().center());
        if (const QScreen *screen = over->screen()) {
            const QRect room = screen->availableGeometry();
            place.moveLeft(std::max(room.left(), std::min(place.left(), room.right() - place.width())));
            place.moveTop(std::max(room.top(), std::min(place.top(), room.bottom() - place.height())));
        }
        window->move(place.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
}
