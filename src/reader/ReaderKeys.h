#pragma once

#include <QObject>

class QShortcut;
class ReaderPane;

// The reading tab's keys beyond the arrows and Ctrl+F, wherever the focus is inside the pane:
// Ctrl+D bookmark (told in the status line, not in a box), Ctrl+G go to a chapter, Ctrl+O open a
// file, F11 full screen, Esc, which only leaves full screen (elsewhere Esc belongs to the boxes
// that close on it), and Ctrl++ (or Ctrl+=), Ctrl+- and Ctrl+0 for the text size
// (ReadingView::zoomText).
class ReaderKeys : public QObject
{
    Q_OBJECT
public:
    explicit ReaderKeys(ReaderPane *pane);

    void setFullScreen(bool on);

private:
    QShortcut *m_leaveFullScreen;
};
