#include "ReaderPaneFixture.h"
#include "reader/BookmarkList.h"

// The bookmark list beside the one bookmark of each book, driven through the main window: every
// way of setting a bookmark adds to it, and its entries lead back to their place after a restart.
class TestReaderBookmarks : public ReaderPaneFixture
{
    Q_OBJECT

private:
    bool shownAt(int position, double fraction)
    {
        return waitShown(m_reader, position, expected(m_book, position)) &&
               QTest::qWaitFor([&] { return qAbs(scrolledFraction(m_reader) - fraction) < 0.02; });
    }
    void showAt(int position, double fraction)
    {
        m_reader->showChapterAt(position, fraction);
        QVERIFY(shownAt(position, fraction));
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

    // Each way of setting the bookmark keeps doing what it did to the shelf's bookmark and adds
    // an entry with the place on the page and the words there.
    void everyBookmarkJoinsTheList_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("boxShown");
        QTest::newRow("toolbar") << u"toolbar"_s << true;
        QTest::newRow("reading menu") << u"menu"_s << true;
        QTest::newRow("Ctrl+D") << u"key"_s << false;
        QTest::newRow("with a note") << u"note"_s << false;
    }
    void everyBookmarkJoinsTheList()
    {
        QFETCH(QString, source);
        QFETCH(bool, boxShown);
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
        QCOMPARE(entries.size(), before + 1);
        const BookmarkEntry &added = entries.last();
        QCOMPARE((std::pair{added.chapter, added.chapterTitle}), (std::pair{3, u"第2章 标题2"_s}));
        QVERIFY(qAbs(added.fraction - 0.5) < 0.02);
        // Half way down the 151 lines of the chapter: the 75th line of text, give or take one.
        const auto line = QRegularExpression(u"^山间小路上行人3之(\\d+)慢慢走着"_s).match(added.excerpt);
        QVERIFY2(line.hasMatch() && qAbs(line.captured(1).toInt() - 75) <= 1, qPrintable(added.excerpt));

        BookmarkList *list = m_reader->bookmarkList();
        QCOMPARE(list->isVisible(), source == u"note");
        if (source != u"note")
            return;
        QCOMPARE(list->entryList()->currentIndex().row(), int(before));
        list->noteBox()->insert(u"伏笔"_s);
        QTest::keyClick(list->noteBox(), Qt::Key_Return);
        QCOMPARE(m_db.bookmarks().list(m_book.path).last().note, u"伏笔"_s);
        list->close();
    }

    // A click leads to the place (the chapter's top for one set on a chapter only selected), a
    // note is changed and an entry removed, and the list is the same after a restart.
    void list_jumpNoteAndRemove_keptAcrossARestart()
    {
        for (const BookmarkEntry &e : m_db.bookmarks().list(m_book.path))
            QVERIFY(m_db.bookmarks().remove(m_book.path, e.id));
        showAt(6, 0.75);
        m_reader->insertBookmarkQuietly();
        m_reader->selectChapter(2);
        m_reader->insertBookmarkQuietly();

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
