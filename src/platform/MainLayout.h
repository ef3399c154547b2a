#pragma once

// Positions of the main window's panes and of the elements inside them, in twips
// (15 twips per pixel). Values are relative to the pane that holds the element.
// A negative size means the window is too small for it; whoever applies the layout
// skips that one property and goes on with the rest.
struct LayoutInput
{
    int width = 0;  // outer window size
    int height = 0;
    bool chapterListVisible = true;
    bool downloadPanelVisible = false;
    int shelfPagingBarHeight = 0;
    int catalogueCategoryBarHeight = 0;
    int splitterButtonHeight[2] = {0, 0};
};

struct MainLayout
{
    int searchPanelLeft = 0;

    // Every pane.
    int paneTop = 0, paneLeft = 0, paneWidth = 0, paneHeight = 0;

    // Bookshelf pane.
    int bookListLeft = 0, bookListWidth = 0, bookListHeight = 0;
    int bookColumnWidth[6] = {-1, -1, -1, -1, -1, -1}; // -1: keeps its design width
    int shelfPagingBarTop = 0;
    int serverPageTop = 0, serverPageLeft = 0, serverPageWidth = 0;

    // Reader pane.
    int readerToolbarWidth = 0;
    int readingViewTop = 0, readingViewWidth = 0, readingViewHeight = 0;
    int splitterTop = 0, splitterLeft = 0, splitterHeight = 0;
    int splitterButtonTop[2] = {0, 0};
    int chapterListTop = 0, chapterListLeft = 0, chapterListHeight = 0;

    // Catalogue pane.
    int categoryBarWidth = 0;
    int downloadListTop = 0, downloadListWidth = 0;
    int catalogueListTop = 0, catalogueListWidth = 0, catalogueListHeight = 0;
    int cataloguePagingLeft = 0, cataloguePagingTop = 0;
    int downloadIconTop = 0, downloadIconLeft = 0;
};

MainLayout ComputeMainLayout(const LayoutInput &in);
// The laid-out width of a bookshelf column (0 = "ID" … 5 = "文件地址") in a list that wide, both
// in twips; -1 for the two that keep their design width.
int BookColumnTwips(int column, int bookListWidth);

constexpr int TwipsPerPixel = 15;
constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}
constexpr int pixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}
