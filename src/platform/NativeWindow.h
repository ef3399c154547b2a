#pragma once

class QWidget;

// Takes a top-level window off the screen, or puts it back, below the toolkit: the widget stays
// visible as far as the program is concerned, so a dialog running its own event loop keeps
// running and keeps its answer open. False where the windowing system offers no such thing.
bool SetNativeWindowMapped(QWidget *window, bool mapped);
