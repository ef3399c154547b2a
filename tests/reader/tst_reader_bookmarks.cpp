#include "ReaderPaneFixture.h"
#include "reader/BookmarkList.h"

// The bookmark list beside the one bookmark of each book, driven through the main window: every
// way of setting a bookmark adds to it, and its entries lead back to their place after a restart.
class TestReaderBookmarks : public ReaderPaneFixture
{
    Q_OBJECT

private:
    // The first line of book text whose bottom is below the top of the page's window.
    QString topLine()
    {
        return js(m_reader->readingView()->webView(),
                  u"(function () { var box = document.getElementById('Content_Txt'), top = box.getBoundingClientRect().top;"
                  u" var w = document.createTreeWalker(document.getElementById('TXT'), NodeFilter.SHOW_TEXT);"
                  u" for (var n = w.nextNode(); n; n = w.nextNode()) { var r = document.createRange(); r.selectNodeContents(n);"
                  u"   var rects = r.getClientRects(); if (rects.length && rects[rects.length - 1].bottom > top + 1) return n.data; }"
                  u" return ''; })()"_s)
            .toString();
    }
    // The number of the body line a text starts with ("山间小路上行人3之65慢慢走着…" is 65).
    static int lineNumber(const QString &text) { return text.section(u'之', 1).section(u'慢', 0, 0).toInt(); }
    bool shownAt(int position, double fraction)
    {
        return waitShown(m_reader, position, expected(m_book, position)) &&
               QTest::qWaitFor([&] { return qAbs(scrolledFraction(m_reader) - fraction) < 0.02; });
    }
    // Shows the place and waits until the page has reported it.
    void showAt(int position, double fraction)
    {
        QSignalSpy reports(m_reader->readingView(), &ReadingView::pageScrolled);
        m_reader->showChapterAt(position, fraction);
        QVERIFY(shownAt(position, fraction));
        QTRY_VERIFY(!reports.isEmpty() && qAbs(reports.last().at(0).toDouble() - fraction) < 0.02);
    }

private Q_SLOTS:
    void initTestCase()
    {
        setUpLibraryAndWindow();
        m_book = makeBook(u"book.txt"_s, headings(6), 150);
        addToShelf(m_book, u"书"_s);
        m_window->openBook(m_book.path);
        QVERIFY(shownAt(1, 0));
    }

    // Each way of setting the bookmark keeps doing what it did to the shelf's bookmark; only
    // "添加书签…" adds an entry to the list, with the place on the page and the words there, and
    // does it again at the same place by renewing that entry.
    void onlyTheNoteItemJoinsTheList_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("boxShown");
        QTest::addColumn<int>("added");
        QTest::newRow("toolbar") << u"toolbar"_s << true << 0;
        QTest::newRow("reading menu") << u"menu"_s << true << 0;
        QTest::newRow("Ctrl+D") << u"key"_s << false << 0;
        QTest::newRow("with a note") << u"note"_s << false << 1;
        QTest::newRow("with a note, same place again") << u"note"_s << false << 0;
    }
    void onlyTheNoteItemJoinsTheList()
    {
        QFETCH(QString, source);
        QFETCH(bool, boxShown);
        QFETCH(int, added);
        showAt(3, 0.5);
        m_prompter.clear();
        const qsizetype before = m_db.bookmarks().list(m_book.path).size();
        if (source == u"toolbar")
            m_reader->bookmarkMenu()->actions().first()->trigger();
        else if (source == u"menu")
            m_reader->readingMenuItem(u"Menue_InsertSQ"_s)->trigger();
        else if (source == u"key")
            QTest::keyClick(pageInput(m_reader), Qt::Key_D, Qt::ControlModifier);
        else
            m_reader->bookmarkMenu()->findChild<QAction *>(u"Menue_InsertSQNote"_s)->trigger();
        QCOMPARE(m_db.findByPath(m_book.path)->marke, u"第2章 标题2"_s);
        QCOMPARE(m_prompter.shown.size(), boxShown ? 1 : 0);
        const QList<BookmarkEntry> entries = m_db.bookmarks().list(m_book.path);
        QCOMPARE(entries.size(), before + added);
        BookmarkList *list = m_reader->bookmarkList();
        QCOMPARE(list->isVisible(), source == u"note");
        if (source != u"note")
            return;
        const BookmarkEntry &entry = entries.last();
        QCOMPARE((std::pair{entry.chapter, entry.chapterTitle}), (std::pair{3, u"第2章 标题2"_s}));
        QVERIFY(qAbs(entry.fraction - 0.5) < 0.02);
        // The words from the line at the top of the window on.
        QVERIFY2(qAbs(lineNumber(entry.excerpt) - lineNumber(topLine())) <= 2, qPrintable(entry.excerpt));
        QCOMPARE(list->entryList()->currentIndex().row(), int(entries.size() - 1));
        if (added == 1) {
            list->noteBox()->insert(u"伏笔"_s);
            QTest::keyClick(list->noteBox(), Qt::Key_Return);
        }
        QCOMPARE(m_db.bookmarks().list(m_book.path).last().note, u"伏笔"_s); // renewing keeps the note
        list->close();
    }

    // In the list's window no key takes an entry away unasked: Ctrl+D does nothing there, the
    // Delete key asks first, Esc closes the window, and the title is the book's shelf title.
    void listWindow_keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("questions");
        QTest::newRow("Ctrl+D") << int(Qt::CTRL | Qt::Key_D) << true << 2 << 0;
        QTest::newRow("Delete, no") << int(Qt::Key_Delete) << false << 2 << 1;
        QTest::newRow("Delete, yes") << int(Qt::Key_Delete) << true << 1 << 1;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << true << 2 << 0;
    }
    void listWindow_keys()
    {
        QFETCH(int, key);
        QFETCH(bool, answer);
        QFETCH(int, left);
        for (const BookmarkEntry &e : m_db.bookmarks().list(m_book.path))
            QVERIFY(m_db.bookmarks().remove(m_book.path, e.id));
        showAt(2, 0.25);
        m_reader->insertBookmarkWithNote();
        showAt(4, 0);
        m_reader->insertBookmarkWithNote();
        BookmarkList *list = m_reader->bookmarkList();
        QVERIFY(list->isVisible());
        QCOMPARE(list->windowTitle(), u"书签列表 - 书"_s);
        m_prompter.reset();
        m_prompter.answers.enqueue(answer);
        QTreeWidget *tree = list->entryList();
        tree->setFocus();
        tree->setCurrentItem(tree->topLevelItem(0));
        QTest::keyClick(tree, Qt::Key(key & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
        QTEST(int(m_prompter.shown.size()), "questions");
        QCOMPARE(m_db.bookmarks().list(m_book.path).size(), left);
        QCOMPARE(tree->topLevelItemCount(), left);
        QCOMPARE(list->isVisible(), key != Qt::Key_Escape);
        list->close();
    }

    // Whatever lays the page out again keeps the line at the top of the window there, and a
    // bookmark set right after it records that line.
    void relayout_keepsTheTopLine_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("two sizes larger") << u"zoom"_s;
        QTest::newRow("narrower window") << u"window"_s;
        QTest::newRow("wider chapter list") << u"list"_s;
        QTest::newRow("full screen") << u"full"_s;
    }
    void relayout_keepsTheTopLine()
    {
        QFETCH(QString, change);
        m_window->resize(1000, 700);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        showAt(3, 0.55);
        const QString before = topLine();
        QSignalSpy reports(m_reader->readingView(), &ReadingView::pageScrolled);
        if (change == u"zoom") {
            m_reader->readingView()->zoomText(2);
        } else if (change == u"window") {
            m_window->resize(520, 700); // the lines now wrap
        } else if (change == u"list") {
            QWidget *bar = m_reader->splitterBar();
            const QPoint from = bar->rect().bottomLeft() + QPoint(2, -2); // below the buttons
            QTest::mousePress(bar, Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, from + QPoint(-1000, 0), bar->mapToGlobal(from + QPoint(-1000, 0)),
                             Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(bar, &move);
            QTest::mouseRelease(bar, Qt::LeftButton, {}, from + QPoint(-1000, 0));
        } else {
            Q_EMIT m_reader->fullScreenRequested(true);
        }
        // Once the page has reported the new layout, the same line is at the top (give or take the
        // one only partly in the window), and a bookmark set then is there.
        QTRY_VERIFY(!reports.isEmpty() && qAbs(reports.last().at(0).toDouble() - scrolledFraction(m_reader)) < 0.005);
        QVERIFY2(qAbs(lineNumber(topLine()) - lineNumber(before)) <= 1, qPrintable(before + u" / "_s + topLine()));
        m_reader->insertBookmarkWithNote();
        const QString excerpt = m_db.bookmarks().list(m_book.path).last().excerpt;
        QVERIFY2(qAbs(lineNumber(excerpt) - lineNumber(before)) <= 2, qPrintable(before + u" / "_s + excerpt));
        m_reader->bookmarkList()->close();
        if (change == u"zoom")
            m_reader->readingView()->zoomText(0);
        else if (change == u"full")
            Q_EMIT m_reader->fullScreenRequested(false);
        else if (change == u"list")
            m_db.setOption(LibraryDb::chapterListWidthOption(), QString());
        m_window->resize(1000, 700);
        // The page has its new size before anything else is shown on it.
        QWebEngineView *web = m_reader->readingView()->webView();
        QTRY_VERIFY(js(web, u"innerWidth"_s).toInt() == web->width() && js(web, u"innerHeight"_s).toInt() == web->height());
    }

    // A click leads to the place (the chapter's top for one set on a chapter only selected), a
    // note is changed and an entry removed, and the list is the same after a restart.
    void list_jumpNoteAndRemove_keptAcrossARestart()
    {
        for (const BookmarkEntry &e : m_db.bookmarks().list(m_book.path))
            QVERIFY(m_db.bookmarks().remove(m_book.path, e.id));
        showAt(6, 0.75);
        m_reader->insertBookmarkWithNote();
        m_reader->selectChapter(2);
        m_reader->insertBookmarkWithNote();
        m_reader->bookmarkList()->close();

        startWindow();
        m_window->openBook(m_book.path);
        QVERIFY(shownAt(1, 0));
        m_reader->bookmarkMenu()->findChild<QAction *>(u"Menue_BookmarkList"_s)->trigger();
        BookmarkList *list = m_reader->bookmarkList();
        QTRY_VERIFY(list->isVisible());
        QTreeWidget *tree = list->entryList();
        QCOMPARE(tree->topLevelItemCount(), 2);
        const struct
        {
            int position;
            double fraction;
        } places[] = {{6, 0.75}, {2, 0}};
        for (int row : {0, 1}) {
            const QRect at = tree->visualItemRect(tree->topLevelItem(row));
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at.center());
            QVERIFY(shownAt(places[row].position, places[row].fraction));
        }

        tree->setCurrentItem(tree->topLevelItem(0));
        list->noteBox()->setText(u"回头再看"_s);
        list->saveNoteButton()->click();
        QCOMPARE(tree->topLevelItem(0)->text(3), u"回头再看"_s);
        tree->setCurrentItem(tree->topLevelItem(1));
        list->removeButton()->click();
        QCOMPARE(tree->topLevelItemCount(), 1);

        // An entry that arrives through sync shows in the open window; a note being typed stays.
        tree->setCurrentItem(tree->topLevelItem(0));
        list->noteBox()->setText(u"还没存"_s);
        QVERIFY(m_db.bookmarks().store({m_book.path, u"elsewhere"_s, 3, u"第3章 标题3"_s, 0.5, {}, {},
                                        QDateTime::currentDateTime(), 1}));
        m_reader->libraryChangedElsewhere();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(list->noteBox()->text(), u"还没存"_s);
        QVERIFY(m_db.bookmarks().remove(m_book.path, u"elsewhere"_s));

        startWindow();
        m_window->openBook(m_book.path);
        QVERIFY(shownAt(1, 0));
        m_reader->showBookmarkList();
        tree = m_reader->bookmarkList()->entryList();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE((QStringList{tree->topLevelItem(0)->text(0), tree->topLevelItem(0)->text(3)}),
                 (QStringList{u"第5章 标题5"_s, u"回头再看"_s}));
    }

    void cleanupTestCase() { m_window.reset(); }
};

QTEST_MAIN(TestReaderBookmarks)
#include "tst_reader_bookmarks.moc"
