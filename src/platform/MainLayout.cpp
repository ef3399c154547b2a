#include "platform/MainLayout.h"

int BookColumnTwips(int column, int bookListWidth)
{
    switch (column) {
    case 1:
        return 1500;
    case 2:
        return int(0.24 * bookListWidth);
    case 3:
        return int(0.4 * bookListWidth);
    case 4:
        return 2000;
    default:
        return -1;
    }
}

MainLayout ComputeMainLayout(const LayoutInput &in)
{
    MainLayout l;
    const int W = in.width;
    const int H = in.height;

    l.searchPanelLeft = W - 3520;

    l.paneTop = 600;
    l.paneLeft = 20;
    l.paneHeight = H - 1120;
    l.paneWidth = W - 150;

    l.bookListLeft = 1920;
    l.bookListHeight = l.paneHeight - (in.shelfPagingBarHeight + 150);
    l.bookListWidth = l.paneWidth - 1920;
    for (int c = 0; c < 6; ++c)
        l.bookColumnWidth[c] = BookColumnTwips(c, l.bookListWidth);
    l.shelfPagingBarTop = l.bookListHeight + 150;

    l.readerToolbarWidth = l.paneWidth;
    l.readingViewTop = 360;
    l.readingViewWidth = l.paneWidth - (in.chapterListVisible ? 3130 : 135);
    l.readingViewHeight = l.paneHeight - 360;

    l.serverPageTop = 3960;
    l.serverPageLeft = 60;
    l.serverPageWidth = 1720;

    l.splitterTop = 360;
    l.splitterHeight = l.paneHeight - 360;
    l.splitterLeft = l.readingViewWidth;
    for (int i = 0; i < 2; ++i)
        l.splitterButtonTop[i] = l.splitterHeight / 2 - in.splitterButtonHeight[i];

    l.chapterListTop = 360;
    l.chapterListLeft = W - 3150;
    l.chapterListHeight = l.paneHeight - 360;

    l.categoryBarWidth = l.paneWidth;
    l.downloadListTop = l.paneHeight - 1800;
    l.downloadListWidth = l.paneWidth;
    l.catalogueListTop = in.catalogueCategoryBarHeight + 30;
    l.catalogueListWidth = l.paneWidth;
    l.catalogueListHeight =
        l.paneHeight - (in.catalogueCategoryBarHeight + 30) - (in.downloadPanelVisible ? 2300 : 500);

    l.cataloguePagingLeft = 160;
    l.cataloguePagingTop = l.catalogueListHeight + 520;
    l.downloadIconTop = l.catalogueListHeight + 550;
    l.downloadIconLeft = l.catalogueListWidth - 300;
    return l;
}
