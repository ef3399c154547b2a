#include "platform/TwipsGeometry.h"

#include <QWidget>

void SetTwips(QWidget *widget, std::optional<int> left, std::optional<int> top, std::optional<int> width,
              std::optional<int> height)
{
    if (!widget)
        return;
    QRect r = widget->geometry();
    if (left)
        r.moveLeft(*left / 15);
    if (top)
        r.moveTop(*top / 15);
    if (width && *width >= 0)
        r.setWidth(*width / 15);
    if (height && *height >= 0)
        r.setHeight(*height / 15);
    widget->setGeometry(r);
}
