#include "reader/ReaderKeys.h"

#include "reader/ReaderPane.h"

#include <QShortcut>

ReaderKeys::ReaderKeys(ReaderPane *pane) : QObject(pane)
{
    auto add = [pane](const QKeySequence &key, auto slot) {
        auto *shortcut = new QShortcut(key, pane);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, pane, slot);
        return shortcut;
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_D), &ReaderPane::insertBookmarkQuietly);
    add(QKeySequence(Qt::CTRL | Qt::Key_G), &ReaderPane::openChapterJump);
    add(QKeySequence(Qt::CTRL | Qt::Key_O), &ReaderPane::OpenFile);
    add(QKeySequence(Qt::Key_F11), [pane] { Q_EMIT pane->fullScreenRequested(!pane->isFullScreen()); });
    // The text size of the reading style, never the web view's zoom.
    ReadingView *view = pane->readingView();
    for (const QKeySequence &key : {QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)})
        add(key, [view] { view->zoomText(1); });
    add(QKeySequence(QKeySequence::ZoomOut), [view] { view->zoomText(-1); });
    add(QKeySequence(Qt::CTRL | Qt::Key_0), [view] { view->zoomText(0); });
    m_leaveFullScreen = add(QKeySequence(Qt::Key_Escape), [pane] { Q_EMIT pane->fullScreenRequested(false); });
    m_leaveFullScreen->setEnabled(false);
}

void ReaderKeys::setFullScreen(bool on)
{
    m_leaveFullScreen->setEnabled(on);
}
