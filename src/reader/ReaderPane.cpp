#include "reader/ReaderPane.h"

#include "platform/TwipsGeometry.h"
#include "shell/MainLayout.h"

#include <QHeaderView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

ReaderPane::ReaderPane(QWidget *parent) : QWidget(parent)
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("ReadToolBar"));
    SetTwips(m_toolbar, 0, 0, 9000, 360);

    m_view = new QWidget(this);
    m_view->setObjectName(QStringLiteral("ReadingView"));
    SetTwips(m_view, 0, 360);

    m_splitter = new QWidget(this);
    m_splitter->setObjectName(QStringLiteral("SplitterBar"));
    SetTwips(m_splitter, 0, 360, 130, 1000);
    const Qt::ArrowType arrows[2] = {Qt::RightArrow, Qt::LeftArrow};
    const QString tips[2] = {QStringLiteral("隐藏章节列表"), QStringLiteral("显示章节列表")};
    for (int i = 0; i < 2; ++i) {
        auto *b = new QToolButton(m_splitter);
        b->setArrowType(arrows[i]);
        b->setToolTip(tips[i]);
        b->setAutoRaise(true);
        SetTwips(b, 0, 0, 130, 600);
        connect(b, &QToolButton::clicked, this, [this, i] { splitterButtonClicked(i); });
        m_splitterButtons[i] = b;
    }
    m_splitterButtons[1]->hide();

    m_chapters = new QTreeWidget(this);
    m_chapters->setObjectName(QStringLiteral("ListView2"));
    m_chapters->setRootIsDecorated(false);
    m_chapters->setUniformRowHeights(true);
    m_chapters->setHeaderLabels({QStringLiteral("章节")});
    SetTwips(m_chapters, 0, 360, 3000, 1000);
}

void ReaderPane::splitterButtonClicked(int index)
{
    m_chapterListVisible = index == 1;
    m_chapters->setVisible(m_chapterListVisible);
    m_splitterButtons[0]->setVisible(m_chapterListVisible);
    m_splitterButtons[1]->setVisible(!m_chapterListVisible);
    Q_EMIT layoutRequested();
}

int ReaderPane::splitterButtonHeightTwips(int index) const
{
    return pixelsToTwips(m_splitterButtons[index]->height());
}

void ReaderPane::applyLayout(const MainLayout &l)
{
    SetTwips(m_toolbar, std::nullopt, std::nullopt, l.readerToolbarWidth);
    SetTwips(m_view, std::nullopt, l.readingViewTop, l.readingViewWidth, l.readingViewHeight);
    SetTwips(m_splitter, l.splitterLeft, l.splitterTop, std::nullopt, l.splitterHeight);
    for (int i = 0; i < 2; ++i)
        SetTwips(m_splitterButtons[i], std::nullopt, l.splitterButtonTop[i]);
    SetTwips(m_chapters, l.chapterListLeft, l.chapterListTop, std::nullopt, l.chapterListHeight);
}
