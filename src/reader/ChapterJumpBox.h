#pragma once

#include "text/Chapters.h"

#include <QFrame>

class QLineEdit;
class QListWidget;

// "转到章节": a box over the page with the chapter list narrowed to the titles that contain
// what is typed (or whose number it is); Enter or a double-click goes to the chapter.
class ChapterJumpBox : public QFrame
{
    Q_OBJECT
public:
    explicit ChapterJumpBox(QWidget *parent = nullptr);

    void open(const QList<ChapterEntry> &entries, int current);
    QLineEdit *filterBox() const { return m_filter; }
    QListWidget *list() const { return m_list; }

Q_SIGNALS:
    void chapterChosen(int position);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refilter(const QString &text);
    void choose();

    QLineEdit *m_filter;
    QListWidget *m_list;
};
