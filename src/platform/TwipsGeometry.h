#pragma once

#include <optional>

class QWidget;

// Sets the given geometry properties of a widget, in twips (15 per pixel), and keeps the
// others. A negative width or height is skipped, as a window system would refuse it.
void SetTwips(QWidget *widget, std::optional<int> left, std::optional<int> top, std::optional<int> width = {},
              std::optional<int> height = {});
