#pragma once

class QWidget;

// Shows a window of the program's own (a Qt::Window child) in front. The first time it is shown
// it is centred over the window it belongs to, and kept on that screen, rather than left where
// the window system puts new windows; after that it stays where the user moved it.
void ShowCentred(QWidget *window);
