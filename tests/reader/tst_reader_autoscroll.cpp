#include "ReaderPaneFixture.h"
#include "reader/AutoScroll.h"

// Auto-scroll in the reading pane of a real main window, its page moved by explicit steps.
class TestAutoScroll : public ReaderPaneFixture
{
    Q_OBJECT

private:
    AutoScroll *autoScroll() const { return m_reader->autoScroll(); }
    void open(int position)
    {
        if (m_reader->chaptersPath() != m_book.path)
            m_window->openBook(m_book.path);
        QTRY_VERIFY_WITH_TIMEOUT(!m_reader->isOpening() && m_reader->shownChapter() > 0, 15000);
        m_reader->showChapterAt(position, 0);
        QTRY_VERIFY(m_reader->shownChapter() == position &&
                    pageHtml(m_reader).contains(m_reader->chapters().at(position - 1).title));
    }
    QVariantMap pageState()
    {
        // Shared: an answer later than the wait must not write into a finished call.
        auto state = std::make_shared<std::pair<bool, QVariantMap>>();
        m_reader->readingView()->autoScrollState([state](const QVariantMap &s) { *state = {true, s}; });
        (void)QTest::qWaitFor([&] { return state->first; }, 20000);
        return state->second;
    }
    // Steps the page's auto-scroll on and gives how far down the chapter it then is.
    double step(int ms)
    {
        m_reader->readingView()->stepAutoScroll(ms);
        return scrolledFraction(m_reader);
    }
    void verifyRunning(bool running, bool paused = false)
    {
        QCOMPARE(autoScroll()->isRunning(), running);
        QCOMPARE(m_reader->readingMenuItem(u"Menue_AutoScroll"_s)->isChecked(), running);
        QTRY_COMPARE(pageState().value(u"running"_s).toBool(), running);
        QCOMPARE(pageState().value(u"paused"_s).toBool(), paused);
    }

private Q_SLOTS:
    void initTestCase()
    {
        setUpLibraryAndWindow();
        m_book = makeBook(u"book.txt"_s, headings(4), 60); // entry 1, then four chapters at 2 to 5
        m_window->show();
    }

    void startsAndStops_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<int>("stopBy"); // a key, 0 for the menu item, -1 for the wheel, -2 a click
        QTest::newRow("menu, menu") << true << 0;
        QTest::newRow("F9, F9") << false << int(Qt::Key_F9);
        QTest::newRow("menu, Down") << true << int(Qt::Key_Down);
        QTest::newRow("F9, the letter a") << false << int(Qt::Key_A);
        QTest::newRow("F9, wheel") << false << -1;
        QTest::newRow("F9, click") << false << -2;
    }
    void startsAndStops()
    {
        QFETCH(bool, byMenu);
        QFETCH(int, stopBy);
        open(3);
        QAction *item = m_reader->readingMenuItem(u"Menue_AutoScroll"_s);
        QCOMPARE(m_reader->readingMenu()->actions().last(), item);
        byMenu ? item->trigger() : QTest::keyClick(pageInput(m_reader), Qt::Key_F9);
        verifyRunning(true);
        QTRY_VERIFY(step(2000) > 0);
        QWidget *input = pageInput(m_reader);
        if (stopBy == 0) {
            item->trigger();
        } else if (stopBy == -1) {
            QWheelEvent wheel(QPointF(50, 50), input->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 120), Qt::NoButton,
                              {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(input, &wheel);
        } else if (stopBy == -2) {
            QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 50));
        } else {
            QTest::keyClick(input, Qt::Key(stopBy));
        }
        verifyRunning(false);
        QCOMPARE(m_reader->readingStatus()->noteText(), u"自动翻页已停止"_s);
    }

    void spacePausesAndResumes_andIsPagingAgainWhenStopped()
    {
        open(2);
        autoScroll()->start();
        QTRY_VERIFY(step(2000) > 0);
        QTest::keyClick(pageInput(m_reader), Qt::Key_Space);
        verifyRunning(true, true);
        const double paused = scrolledFraction(m_reader);
        QCOMPARE(step(5000), paused);
        QTest::keyClick(pageInput(m_reader), Qt::Key_Space);
        verifyRunning(true, false);
        QTRY_VERIFY(step(2000) > paused);
        autoScroll()->stop();
        scrollPageTo(m_reader, 1);
        QTRY_COMPARE(scrolledFraction(m_reader), 1.0);
        QTest::keyClick(pageInput(m_reader), Qt::Key_Space);
        QTRY_COMPARE(m_reader->shownChapter(), 3);
    }

    void crossesChapterEnds_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("into the next chapter, at its top") << 3 << true;
        QTest::newRow("into the last chapter") << 4 << true;
        QTest::newRow("stops at the end of the book") << 5 << false;
    }
    void crossesChapterEnds()
    {
        QFETCH(int, from);
        QFETCH(bool, goesOn);
        open(from);
        autoScroll()->start();
        scrollPageTo(m_reader, 1);
        QTRY_COMPARE(scrolledFraction(m_reader), 1.0);
        QVERIFY(QTest::qWaitFor(
            [&] { return step(20000), pageState().value(u"crossings"_s).toInt() > 0 || !autoScroll()->isRunning(); }));
        QCOMPARE(m_reader->shownChapter(), goesOn ? from + 1 : from);
        verifyRunning(goesOn);
        if (goesOn)
            QTRY_VERIFY(step(1000) > 0 && scrolledFraction(m_reader) < 0.5);
        else
            QCOMPARE(m_reader->readingStatus()->noteText(), u"自动翻页已停止：已到全书末尾"_s);
        autoScroll()->stop();
    }

    void speed_isSetWithKeysAndKeptAcrossRestart()
    {
        open(2);
        autoScroll()->setSpeed(20);
        autoScroll()->start();
        for (const Qt::Key key : {Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Equal, Qt::Key_Minus})
            QTest::keyClick(pageInput(m_reader), key);
        QCOMPARE(autoScroll()->speed(), 24);
        QVERIFY(autoScroll()->isRunning());
        QCOMPARE(m_reader->readingStatus()->noteText(), u"自动翻页：每分钟 24 行"_s);
        startWindow();
        m_window->show();
        QCOMPARE(autoScroll()->speed(), 24);
        QVERIFY(!autoScroll()->isRunning());
    }
};

QTEST_MAIN(TestAutoScroll)
#include "tst_reader_autoscroll.moc"
