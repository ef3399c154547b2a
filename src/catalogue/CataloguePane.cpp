#include "catalogue/CataloguePane.h"

#include "platform/TwipsGeometry.h"
#include "shell/MainLayout.h"

#include <QToolButton>
#include <QTreeWidget>

CataloguePane::CataloguePane(QWidget *parent) : QWidget(parent)
{
    m_categoryBar = new QWidget(this);
    m_categoryBar->setObjectName(QStringLiteral("CategoryBar"));
    SetTwips(m_categoryBar, 0, 0, 9000, 420);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("NetBookList"));
    m_list->setRootIsDecorated(false);
    SetTwips(m_list, 0, 450, 9000, 3000);

    m_pagingBar = new QWidget(this);
    m_pagingBar->setObjectName(QStringLiteral("NetPagingBar"));
    SetTwips(m_pagingBar, 160, 3500, 7000, 360);

    m_downloadIcon = new QToolButton(this);
    m_downloadIcon->setObjectName(QStringLiteral("DownloadIcon"));
    m_downloadIcon->setArrowType(Qt::UpArrow);
    m_downloadIcon->setToolTip(QStringLiteral("下载列表"));
    SetTwips(m_downloadIcon, 8700, 3550, 270, 270);
    connect(m_downloadIcon, &QToolButton::clicked, this, [this] { setDownloadPanelVisible(!m_downloadPanelVisible); });

    m_downloads = new QTreeWidget(this);
    m_downloads->setObjectName(QStringLiteral("DownloadList"));
    m_downloads->setRootIsDecorated(false);
    SetTwips(m_downloads, 0, 4000, 9000, 1750);
    m_downloads->hide();
}

void CataloguePane::setDownloadPanelVisible(bool visible)
{
    m_downloadPanelVisible = visible;
    m_downloads->setVisible(visible);
    m_downloadIcon->setArrowType(visible ? Qt::DownArrow : Qt::UpArrow);
    Q_EMIT layoutRequested();
}

void CataloguePane::firstVisit()
{
    m_firstVisit = false;
    Q_EMIT firstVisitLoaded();
}

int CataloguePane::categoryBarHeightTwips() const
{
    return pixelsToTwips(m_categoryBar->height());
}

void CataloguePane::applyLayout(const MainLayout &l)
{
    SetTwips(m_categoryBar, std::nullopt, std::nullopt, l.categoryBarWidth);
    SetTwips(m_downloads, std::nullopt, l.downloadListTop, l.downloadListWidth);
    SetTwips(m_list, std::nullopt, l.catalogueListTop, l.catalogueListWidth, l.catalogueListHeight);
    SetTwips(m_pagingBar, l.cataloguePagingLeft, l.cataloguePagingTop);
    SetTwips(m_downloadIcon, l.downloadIconLeft, l.downloadIconTop);
}
