#include "reader/ChapterListSplitter.h"

#include "library/LibraryDb.h"
#include "platform/TwipsGeometry.h"

#include <QMouseEvent>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int NarrowestList = 120; // pixels

} // namespace

ChapterListSplitter::ChapterListSplitter(LibraryDb &db, std::function<int()> listWidth, QWidget *pane)
    : QWidget(pane), m_db(db), m_listWidth(std::move(listWidth))
{
    setObjectName(QStringLiteral("SplitterBar"));
    SetTwips(this, 0, 360, 130, 1000);
    const Qt::ArrowType arrows[2] = {Qt::RightArrow, Qt::LeftArrow};
    const QString tips[2] = {QStringLiteral("隐藏章节列表"), QStringLiteral("显示章节列表")};
    for (int i = 0; i < 2; ++i) {
        auto *b = new QToolButton(this);
        b->setArrowType(arrows[i]);
        b->setToolTip(tips[i]);
        b->setAutoRaise(true);
        SetTwips(b, 0, 0, 130, 600);
        connect(b, &QToolButton::clicked, this, [this, i] { Q_EMIT buttonClicked(i); });
        m_buttons[i] = b;
    }
    m_buttons[1]->hide();
    setCursor(Qt::SplitHCursor);
    m_width = std::max(0, m_db.option(LibraryDb::chapterListWidthOption()).toInt());
}

void ChapterListSplitter::setListVisible(bool visible)
{
    m_listVisible = visible;
    m_buttons[0]->setVisible(visible);
    m_buttons[1]->setVisible(!visible);
    if (!visible)
        m_dragFrom.reset();
}

void ChapterListSplitter::mousePressEvent(QMouseEvent *event)
{
    if (!m_listVisible || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragFrom = qRound(event->globalPosition().x());
    m_dragStartWidth = m_listWidth();
}

void ChapterListSplitter::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragFrom)
        return QWidget::mouseMoveEvent(event);
    m_width = std::max(NarrowestList, m_dragStartWidth + *m_dragFrom - qRound(event->globalPosition().x()));
    Q_EMIT dragged();
}

void ChapterListSplitter::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragFrom || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    m_dragFrom.reset();
    m_db.setOption(LibraryDb::chapterListWidthOption(), QString::number(m_width));
}
