#include "GuiSupport.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/ShelfColumns.h"
#include "platform/MainLayout.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestBookshelfPane : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<BookshelfPane> m_pane;

    void addBooks(int count, const QString &type)
    {
        for (int i = 0; i < count; ++i)
            m_db->insertBook(type, u"%1-%2"_s.arg(type).arg(i), QString(),
                             m_dir.filePath(u"%1-%2.txt"_s.arg(type).arg(i)));
    }
    void chooseCategory(int position) // 0 = root; a click, as the user makes it
    {
        QTreeWidget *tree = m_pane->categoryTree();
        QTreeWidgetItem *root = tree->topLevelItem(0);
        QTreeWidgetItem *item = position == 0 ? root : root->child(position - 1);
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        QCOMPARE(tree->currentItem(), item);
    }
    QPoint rowCentre(int row)
    {
        return m_pane->bookList()->visualItemRect(m_pane->bookList()->topLevelItem(row)).center();
    }
    QString indicator() const { return m_pane->pageIndicatorText(); }
    // A real double-click starts with a press, which the pane remembers.
    void doubleClickRow(int row)
    {
        QTest::mousePress(m_pane->bookList()->viewport(), Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseRelease(m_pane->bookList()->viewport(), Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseDClick(m_pane->bookList()->viewport(), Qt::LeftButton, {}, rowCentre(row));
    }

private Q_SLOTS:
    void init()
    {
        m_pane.reset();
        m_db = std::make_unique<LibraryDb>();
        QFile::remove(m_dir.filePath(u"Data.db"_s));
        QVERIFY(m_db->open(m_dir.filePath(u"Data.db"_s)));
        m_prompter = std::make_unique<ScriptedPrompter>();
        m_pane = std::make_unique<BookshelfPane>(*m_db, *m_prompter);
        m_pane->resize(1000, 700);
        m_pane->bookList()->resize(800, 600);
        m_pane->show();
    }
    void cleanup()
    {
        m_pane.reset();
        m_db.reset();
    }

    // The filter and the header work on the whole shelf; each row changes one of them.
    void filterAndHeaderClicks_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QList<int>>("clicks"); // header sections, in order
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("neither: newest first") << QString() << QList<int>{} << QStringList{u"D%书"_s, u"C书"_s, u"A书"_s, u"B书"_s};
        QTest::newRow("title") << u"a书"_s << QList<int>{} << QStringList{u"A书"_s};
        QTest::newRow("author, part of it") << u"张三"_s << QList<int>{} << QStringList{u"D%书"_s, u"B书"_s};
        QTest::newRow("path") << u"sub"_s << QList<int>{} << QStringList{u"C书"_s};
        QTest::newRow("wildcard taken as typed") << u"%"_s << QList<int>{} << QStringList{u"D%书"_s};
        QTest::newRow("title column") << QString() << QList<int>{2} << QStringList{u"A书"_s, u"B书"_s, u"C书"_s, u"D%书"_s};
        QTest::newRow("author column, filtered") << u"张三"_s << QList<int>{6} << QStringList{u"B书"_s, u"D%书"_s};
        QTest::newRow("progress, most read first")
            << QString() << QList<int>{7, 7} << QStringList{u"A书"_s, u"D%书"_s, u"C书"_s, u"B书"_s};
    }
    void filterAndHeaderClicks()
    {
        QFETCH(QString, filter);
        QFETCH(QList<int>, clicks);
        const QList<QStringList> books{{u"B书"_s, u"张三"_s, u"x/b.txt"_s}, {u"A书"_s, u"李四"_s, u"x/a.txt"_s},
                                       {u"C书"_s, u"王五"_s, u"x/sub/c.txt"_s}, {u"D%书"_s, u"张三丰"_s, u"x/d.txt"_s}};
        for (const QStringList &b : books)
            m_db->insertBook(u"武侠仙侠"_s, b[0], b[1], m_dir.filePath(b[2]));
        ReadingPosition half;
        half.path = m_dir.filePath(u"x/a.txt"_s);
        half.linesRead = 5;
        half.lineCount = 10;
        QVERIFY(m_db->saveReadingPosition(half));
        m_pane->reload();
        m_pane->bookList()->resize(1600, 600);

        m_pane->filterBox()->insert(filter); // typed: Chinese comes through the input method
        for (const int section : clicks) {
            m_pane->columns()->setShown(section, true); // from the header's menu, for the added ones
            GuiSupport::clickHeader(m_pane->bookList()->header(), section);
        }
        QTEST(GuiSupport::columnTexts(m_pane->bookList(), 2), "titles");
        const QTreeWidgetItem *first = m_pane->bookList()->topLevelItem(0);
        QCOMPARE(first->text(6), m_db->findByPath(first->text(5))->author);

        m_pane->filterBox()->insert(u"不在书架上"_s);
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 0);
        QCOMPARE(indicator(), u"0/0"_s);
    }

    // The columns beside the laid-out six start hidden (the laid-out widths at the window's
    // sizes are checked on the real window); a column shown from the header's menu and a width
    // the user drags outlive the pane, and the path still takes the room that is left.
    void columns_keepWhatTheUserChose()
    {
        addBooks(45, u"武侠仙侠"_s);
        QTreeWidget *list = m_pane->bookList();
        QHeaderView *header = list->header();
        const auto layOut = [&] {
            LayoutInput in{1600 * 15, 1000 * 15};
            in.shelfPagingBarHeight = m_pane->pagingBarHeightTwips();
            const MainLayout l = ComputeMainLayout(in);
            m_pane->resize(l.paneWidth / 15, l.paneHeight / 15);
            m_pane->applyLayout(l);
            return l;
        };
        const auto rightEdge = [&] {
            int edge = 0;
            for (int c = 0; c < header->count(); ++c) {
                if (!header->isSectionHidden(c))
                    edge = std::max(edge, header->sectionViewportPosition(c) + header->sectionSize(c));
            }
            return edge;
        };
        QMenu *menu = m_pane->columns()->headerMenu();
        layOut();
        m_pane->reload();
        for (const QString &added : {u"author"_s, u"progress"_s, u"update"_s})
            QVERIFY(!menu->findChild<QAction *>(added)->isChecked());
        QCOMPARE(header->count() - header->hiddenSectionCount(), 6);

        header->resizeSection(2, 333); // dragged
        menu->findChild<QAction *>(u"progress"_s)->trigger();
        QVERIFY(!header->isSectionHidden(7));
        m_pane = std::make_unique<BookshelfPane>(*m_db, *m_prompter);
        m_pane->show();
        list = m_pane->bookList();
        header = list->header();
        const MainLayout l = layOut();
        m_pane->reload();
        QCOMPARE(header->sectionSize(2), 333);
        QCOMPARE(header->sectionSize(3), l.bookColumnWidth[3] / 15);
        QVERIFY(!header->isSectionHidden(7) && header->isSectionHidden(6));
        QVERIFY(rightEdge() <= list->viewport()->width());
        QVERIFY(header->sectionSize(5) > 100);
    }

    // Ctrl and Shift pick several rows; the menu then acts on all of them. A plain right-click
    // elsewhere picks one row again and the menu is the usual one.
    void severalRows_menuChangesExportsAndRemovesThemAll()
    {
        m_db->insertBook(u"武侠仙侠"_s, u"甲, \"乙\""_s, u"某"_s, m_dir.filePath(u"a.txt"_s));
        addBooks(3, u"玄幻修真"_s);
        m_pane->reload();
        QTreeWidget *list = m_pane->bookList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(3));
        QSignalSpy menuAsked(m_pane.get(), &BookshelfPane::bookMenuRequested);
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, rowCentre(3));
        QCOMPARE(menuAsked.count(), 1);
        QList<BookRecord> picked = m_pane->selectedBooks();
        QCOMPARE(picked.size(), 3);
        QCOMPARE(picked.last().name, u"甲, \"乙\""_s);

        BookMenu menu(*m_db, *m_prompter);
        menu.setSelection(picked);
        QVERIFY(menu.item(u"BatchCategory"_s)->isVisible());
        connect(&menu, &BookMenu::shelfChanged, m_pane.get(), &BookshelfPane::reload);
        m_prompter->choices.enqueue(6);
        menu.item(u"BatchCategory"_s)->trigger();
        QCOMPARE(GuiSupport::columnTexts(list, 1),
                 (QStringList{u"玄幻修真"_s, u"纪实文学"_s, u"纪实文学"_s, u"纪实文学"_s}));

        const QString csv = m_dir.filePath(u"书单"_s);
        m_prompter->fileNames.enqueue(csv);
        menu.item(u"ExportList"_s)->trigger();
        QFile written(csv + u".csv"_s);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(written.readAll()).split(u"\r\n"_s);
        QCOMPARE(lines.size(), 5); // the captions, three books, the last line's end
        QVERIFY(lines[0].endsWith(u"书名,作者,书签,最近阅读,文件地址,进度"_s));
        QVERIFY(lines[3].contains(u",纪实文学,\"甲, \"\"乙\"\"\",某,Null,"_s));

        m_prompter->answers.enqueue(true);
        menu.item(u"BatchRemove"_s)->trigger();
        QCOMPARE(m_prompter->lastText(), u"是否真要将选中的 3 本书从书架移除？\r\n书的文件仍留在磁盘上。"_s);
        QCOMPARE(list->topLevelItemCount(), 1);

        QTest::mousePress(list->viewport(), Qt::RightButton, {}, rowCentre(0));
        QCOMPARE(m_pane->selectedBooks().size(), 1);
        menu.setSelection(m_pane->selectedBooks());
        QVERIFY(!menu.item(u"BatchCategory"_s)->isVisible() && !menu.item(u"ExportList"_s)->isVisible());
    }

    // The page rules are the catalogue's (tst_catalogueprotocol); here the shelf's buttons and
    // page box reach them, the box is emptied and a refusal is shown.
    void pagingControls_moveOrRefuse_goEmptiesTheBox()
    {
        addBooks(81, u"武侠仙侠"_s);
        m_pane->reload();
        QCOMPARE(indicator(), u"1/3"_s);

        // A button, its refusal (none: the page moves) and the page shown after.
        const QList<std::tuple<QToolButton *, QString, QString>> steps{
            {m_pane->firstPageButton(), u"当前已是第一页!"_s, u"1/3"_s},
            {m_pane->previousPageButton(), u"前面没有了，当前已是第一页!"_s, u"1/3"_s},
            {m_pane->lastPageButton(), QString(), u"3/3"_s},
            {m_pane->nextPageButton(), u"后面没有了，当前已是最后一页!"_s, u"3/3"_s},
            {m_pane->lastPageButton(), u"当前已是最后一页!"_s, u"3/3"_s},
            {m_pane->firstPageButton(), QString(), u"1/3"_s},
        };
        for (const auto &[button, message, after] : steps) {
            m_prompter->clear();
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(indicator(), after);
            if (message.isEmpty()) {
                QVERIFY(m_prompter->shown.isEmpty());
            } else {
                QCOMPARE(m_prompter->lastText(), message);
                QCOMPARE(m_prompter->last().icon, Prompter::Icon::Exclamation);
                QCOMPARE(m_prompter->last().title, u"Folioway"_s);
            }
        }
        for (const QString &input : {u" 2.9 "_s, u"4"_s}) {
            m_pane->pageBox()->setText(input);
            QTest::mouseClick(m_pane->goButton(), Qt::LeftButton);
            QCOMPARE(indicator(), u"2/3"_s);
            QCOMPARE(m_pane->pageBox()->text(), QString());
        }
        QCOMPARE(m_prompter->shown.size(), 1);
        QCOMPARE(m_prompter->lastText(), u"输入的页码有误,一共才3页,请重新输入!"_s);
        QTest::mouseClick(m_pane->nextPageButton(), Qt::LeftButton);
        QCOMPARE(indicator(), u"3/3"_s);
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 1);
    }

    void categorySwitch_keepsThePageNumber_clickOnTheSelectedNodeReloads()
    {
        addBooks(85, u"玄幻修真"_s);
        addBooks(30, u"都市言情"_s);
        m_pane->reload();
        m_pane->pageBox()->setText(u"3"_s);
        m_pane->goButton()->click();
        QCOMPARE(indicator(), u"3/3"_s);

        chooseCategory(2); // 玄幻修真: 85 books, three pages
        QCOMPARE(m_pane->shelfQuery().category, u"玄幻修真"_s);
        QCOMPARE(indicator(), u"3/3"_s);
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 5);

        chooseCategory(1); // 武侠仙侠: empty; list cleared, indicator kept
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 0);
        QCOMPARE(indicator(), u"3/3"_s);

        chooseCategory(3); // 都市言情: one page, shown as its last page
        QCOMPARE(indicator(), u"1/1"_s);
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 30);
        QVERIFY(m_prompter->shown.isEmpty());

        chooseCategory(0); // the chosen page was kept
        QCOMPARE(m_pane->shelfQuery().category, QString());
        QCOMPARE(indicator(), u"3/3"_s);

        // The node already selected: the list is read again and the root opens again.
        m_pane->categoryTree()->topLevelItem(0)->setExpanded(false);
        addBooks(6, u"其他分类"_s);
        chooseCategory(0);
        QCOMPARE(indicator(), u"3/4"_s);
        QVERIFY(m_pane->categoryTree()->topLevelItem(0)->isExpanded());
    }

    // A row whose file is gone is marked; a double-click on it shows the one message, and the
    // book menu's "重新定位文件…" points it at the file's new place, never at another row's file.
    void doubleClick_opensExistingFileOrNamesTheMissingOne()
    {
        const QString present = m_dir.filePath(u"在.txt"_s);
        QVERIFY(TestSupport::writeFile(present, "第一章\n"));
        const QString missing = m_dir.filePath(u"搬走了/不在 了.txt"_s);
        m_db->setClock([] { return QDateTime(QDate(2020, 1, 1), QTime(8, 0)); });
        m_db->insertBook(u"其他分类"_s, u"在"_s, QString(), present);
        m_db->insertBook(u"其他分类"_s, u"不在"_s, QString(), missing);
        m_db->setClock([] { return QDateTime(QDate(2024, 3, 7), QTime(9, 5)); });
        m_pane->reload();
        QSignalSpy opened(m_pane.get(), &BookshelfPane::openBookRequested);
        const int path = BookshelfPane::pathColumn();
        QCOMPARE(m_pane->bookList()->topLevelItem(0)->foreground(path).color(), QColor(Qt::red));
        QCOMPARE(m_pane->bookList()->topLevelItem(0)->toolTip(path), BookshelfPane::MissingFileTip());
        QVERIFY(m_pane->bookList()->topLevelItem(1)->toolTip(path).isEmpty());

        doubleClickRow(0); // newest: the missing one
        QCOMPARE(opened.count(), 0);
        QCOMPARE(m_prompter->shown.size(), 1);
        QCOMPARE(m_prompter->shown.first().title, u"电子书打开失败!"_s);
        QCOMPARE(m_prompter->shown.first().icon, Prompter::Icon::Critical);
        QCOMPARE(m_prompter->shown.first().text, u"文件地址不存在，请检查是否移动或删除了以下文件：\r\n"_s + missing);

        BookMenu menu(*m_db, *m_prompter);
        connect(&menu, &BookMenu::shelfChanged, m_pane.get(), &BookshelfPane::reload);
        QAction *relocate = menu.item(u"Menue_Relocate"_s);
        menu.setBook(*m_db->findByPath(missing));
        QVERIFY(relocate->isEnabled());
        const QString moved = m_dir.filePath(u"移到这里.txt"_s);
        QVERIFY(TestSupport::writeFile(moved, "第一章\n"));
        m_prompter->fileNames << present << moved;
        relocate->trigger();
        QCOMPARE(m_prompter->lastText(), u"这个文件已经在书架上了，是《在》：\r\n"_s + present);
        relocate->trigger();
        QCOMPARE(m_db->findByPath(moved)->name, u"不在"_s);
        QCOMPARE(m_prompter->startDirs.last(), m_dir.path()); // the nearest folder still there
        QVERIFY(m_pane->bookList()->topLevelItem(0)->toolTip(path).isEmpty());
        menu.setBook(*m_db->findByPath(moved));
        QVERIFY(!relocate->isEnabled());
        doubleClickRow(0);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), moved);
        opened.clear();

        doubleClickRow(1);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), present);
        QCOMPARE(m_db->findByPath(present)->lastread, QDateTime(QDate(2024, 3, 7), QTime(9, 5)));
        // The row keeps showing the old time until the next fill.
        QCOMPARE(m_pane->bookList()->topLevelItem(1)->text(4), u"2020/1/1 08:00"_s);
    }

    void rightPress_selectsRowAndAsksForTheMenuOnlyOverARow()
    {
        m_pane->reload();
        QCOMPARE(indicator(), u"Loadin..."_s); // an empty shelf keeps the loading text
        addBooks(3, u"武侠仙侠"_s);
        m_pane->reload();
        QSignalSpy menu(m_pane.get(), &BookshelfPane::bookMenuRequested);
        const int below = m_pane->bookList()->visualItemRect(m_pane->bookList()->topLevelItem(2)).bottom() + 40;
        QTest::mousePress(m_pane->bookList()->viewport(), Qt::RightButton, {}, QPoint(20, below));
        QCOMPARE(menu.count(), 0);
        QTest::mousePress(m_pane->bookList()->viewport(), Qt::RightButton, {}, rowCentre(1));
        QCOMPARE(menu.count(), 1);
        QCOMPARE(m_pane->bookList()->currentItem(), m_pane->bookList()->topLevelItem(1));
        const auto book = menu.at(0).at(0).value<BookRecord>();
        QCOMPARE(book.name, m_pane->bookList()->topLevelItem(1)->text(2));
    }
};

QTEST_MAIN(TestBookshelfPane)
#include "tst_bookshelfpane.moc"
