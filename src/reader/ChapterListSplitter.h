#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class LibraryDb;
class QToolButton;

// The bar between the reading page and the chapter list: its two buttons hide (0) and show (1)
// the list, and dragging the bar itself makes the list wider or narrower. The dragged width is
// kept in the library; until the bar is first dragged the list keeps its design width.
class ChapterListSplitter : public QWidget
{
    Q_OBJECT
public:
    // `listWidth` gives the list's width now, where a drag starts from.
    ChapterListSplitter(LibraryDb &db, std::function<int()> listWidth, QWidget *pane);

    QToolButton *button(int index) const { return m_buttons[index]; }
    // Shows the button that does the other thing; a hidden list cannot be dragged.
    void setListVisible(bool visible);
    // Pixels; 0 while the design width holds.
    int draggedWidth() const { return m_width; }

Q_SIGNALS:
    void buttonClicked(int index);
    // The width changed while dragging: the pane lays itself out again.
    void dragged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    LibraryDb &m_db;
    std::function<int()> m_listWidth;
    QToolButton *m_buttons[2];
    bool m_listVisible = true;
    int m_width = 0;
    std::optional<int> m_dragFrom; // global x where a drag started
    int m_dragStartWidth = 0;
};
