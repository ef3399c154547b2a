#include "shell/MainLayout.h"

#include <QtTest>

class TestMainLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void figures_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("chapterList");
        QTest::addColumn<bool>("downloadPanel");
        QTest::addColumn<QList<int>>(
            "expected"); // pane w, h, search left, reading view w, splitter left, catalogue list h

        // Category bar 420 twips high: the catalogue list starts at 450.
        QTest::newRow("12000x8000") << 12000 << 8000 << true << false
                                    << QList<int>{11850, 6880, 8480, 8720, 8720, 6880 - 450 - 500};
        QTest::newRow("chapter list hidden")
            << 12000 << 8000 << false << false << QList<int>{11850, 6880, 8480, 11715, 11715, 5930};
        QTest::newRow("download panel shown")
            << 12000 << 8000 << true << true << QList<int>{11850, 6880, 8480, 8720, 8720, 6880 - 450 - 2300};
        QTest::newRow("tiny window goes negative")
            << 2000 << 1000 << true << true << QList<int>{1850, -120, -1520, -1280, -1280, -120 - 450 - 2300};
    }
    void figures()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, chapterList);
        QFETCH(bool, downloadPanel);
        QFETCH(QList<int>, expected);
        LayoutInput in;
        in.width = width;
        in.height = height;
        in.chapterListVisible = chapterList;
        in.downloadPanelVisible = downloadPanel;
        in.catalogueCategoryBarHeight = 420;
        in.shelfPagingBarHeight = 450;
        in.splitterButtonHeight[0] = in.splitterButtonHeight[1] = 600;
        const MainLayout l = ComputeMainLayout(in);
        QCOMPARE(l.paneLeft, 20);
        QCOMPARE(l.paneTop, 600);
        QCOMPARE(l.paneWidth, expected[0]);
        QCOMPARE(l.paneHeight, expected[1]);
        QCOMPARE(l.searchPanelLeft, expected[2]);
        QCOMPARE(l.readingViewWidth, expected[3]);
        QCOMPARE(l.splitterLeft, expected[4]);
        QCOMPARE(l.catalogueListHeight, expected[5]);
        QCOMPARE(l.cataloguePagingTop, expected[5] + 520);
        QCOMPARE(l.downloadIconTop, expected[5] + 550);
        QCOMPARE(l.downloadIconLeft, l.paneWidth - 300);
        QCOMPARE(l.chapterListLeft, width - 3150);
        QCOMPARE(l.readingViewHeight, l.paneHeight - 360);
        QCOMPARE(l.splitterButtonTop[0], (l.paneHeight - 360) / 2 - 600);
    }
};

QTEST_GUILESS_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
