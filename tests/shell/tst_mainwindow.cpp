#include "ArchiveBuilder.h"
#include "GuiSupport.h"
#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "account/AccountSync.h"
#include "account/AccountWindows.h"
#include "account/UserCentre.h"
#include "catalogue/BatchImportDialog.h"
#include "catalogue/CatalogueDetailPanel.h"
#include "catalogue/CataloguePane.h"
#include "catalogue/SearchPanel.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "reader/ReaderPane.h"
#include "reader/ReadingPositionKeeper.h"
#include "shell/CatalogueUpdates.h"
#include "shell/MainWindow.h"
#include "text/Chapters.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LibraryDb m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;

    // The tabs whose panel is shown, or whose toolbar button is pressed.
    QList<int> shownTabs(bool buttons = false) const
    {
        QList<int> tabs;
        for (int i = 1; i <= MainWindow::TabCount; ++i)
            if (buttons ? m_window->toolButton(i)->isChecked() : m_window->panel(i)->isVisible())
                tabs << i;
        return tabs;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_db.open(m_dir.filePath(QStringLiteral("DataFile/Data.db"))));
        m_ctx.programFolder = m_dir.path();
        m_ctx.db = &m_db;
        m_ctx.downloadFolder = m_dir.filePath(QStringLiteral("TxtBook"));
    }
    void init()
    {
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // Outer size 12000 x 8000 twips, frame included.
        const QSize frame = m_window->frameGeometry().size() - m_window->size();
        m_window->resize(QSize(800, 533) - frame);
    }
    void cleanup() { m_window.reset(); }

    void toolbarButtons_switchTabs_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("shownTab");
        QTest::newRow("reader") << 2 << 2;
        QTest::newRow("catalogue") << 3 << 3;
        QTest::newRow("settings") << 5 << 5;
        QTest::newRow("user centre keeps the tab") << 4 << 1;
    }
    void toolbarButtons_switchTabs()
    {
        QFETCH(int, button);
        QFETCH(int, shownTab);
        QSignalSpy userCentre(m_window.get(), &MainWindow::userCentreRequested);
        QTest::mouseClick(m_window->toolButton(button), Qt::LeftButton);
        QCOMPARE(shownTabs(), QList<int>{shownTab});
        QCOMPARE(shownTabs(true), QList<int>{shownTab});
        QCOMPARE(userCentre.count(), button == 4 ? 1 : 0);
    }

    // The window starts on the shelf; the layout formula reaches the widgets: one pixel check at
    // 12000 x 8000 twips, then the splitter buttons hand the chapter list's width to the reading
    // view and back.
    void startsOnTheShelf_splitterButtonsHideAndShowTheChapterList()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Foliowayv1.2 - 最好的TXT电子书阅读及管理工具"));
        QCOMPARE(shownTabs(), QList<int>{1});
        QCOMPARE(shownTabs(true), QList<int>{1});
        QCOMPARE(m_window->toolButton(1)->text(), QStringLiteral("我的书架"));
        QCOMPARE(m_window->toolButton(5)->text(), QStringLiteral("系统设置"));
        ReaderPane *reader = m_window->reader();
        QVERIFY(reader->toolAction(ReaderPane::ReadAloudTool)->isEnabled()); // load gave it its speech engine
        m_window->SelectToolBar(2);
        const QSize frame = m_window->frameGeometry().size() - m_window->size();
        QCOMPARE(m_window->panel(2)->geometry(), QRect(1, 40, 790, 458));
        QCOMPARE(reader->readingView()->width(), 581);
        QCOMPARE(reader->splitterButton(0)->toolTip(), QStringLiteral("隐藏章节列表"));
        QCOMPARE(reader->splitterButton(1)->toolTip(), QStringLiteral("显示章节列表"));
        QVERIFY(reader->splitterButton(0)->isVisible() && !reader->splitterButton(1)->isVisible());
        QTest::mouseClick(reader->splitterButton(0), Qt::LeftButton);
        QVERIFY(!reader->chapterList()->isVisible() && reader->splitterButton(1)->isVisible());
        QCOMPARE(reader->readingView()->width(), 781);
        QTest::mouseClick(reader->splitterButton(1), Qt::LeftButton);
        QVERIFY(reader->chapterList()->isVisible());
        QCOMPARE(reader->readingView()->width(), 581);

        // Dragging the bar itself widens the list at the page's expense, for good; hidden, the
        // list takes nothing, and a drag can never leave the page too narrow to read.
        QCOMPARE(reader->chapterListWidth(), 200);
        for (const int by : {-120, -1000}) {
            QWidget *bar = reader->splitterBar();
            const QPoint from = bar->rect().bottomLeft() + QPoint(2, -2); // below the buttons
            QTest::mousePress(bar, Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, from + QPoint(by, 0), bar->mapToGlobal(from + QPoint(by, 0)),
                             Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(bar, &move);
            QTest::mouseRelease(bar, Qt::LeftButton, {}, from + QPoint(by, 0));
            const int page = by == -120 ? 461 : 240;
            QCOMPARE(reader->readingView()->width(), page);
            QCOMPARE(bar->x(), page);
            QCOMPARE(reader->chapterList()->geometry().right(), reader->width() - 1);
        }
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
        m_window->resize(QSize(800, 533) - frame);
        m_window->SelectToolBar(2);
        QCOMPARE(m_window->reader()->readingView()->width(), 240);
        QTest::mouseClick(m_window->reader()->splitterButton(0), Qt::LeftButton);
        QCOMPARE(m_window->reader()->readingView()->width(), 781);
        m_db.setOption(LibraryDb::chapterListWidthOption(), QString());
    }

    // A folder with text files at two depths and a RAR archive: every book lands once, the
    // archive's by way of the download folder; dropping the folder again adds nothing.
    void droppedFolder_importsEveryBookOnce()
    {
        const QString folder = m_dir.filePath(QStringLiteral("拖入"));
        QVERIFY(TestSupport::writeFile(folder + QStringLiteral("/《一》作者：张三.txt"), "1"));
        QVERIFY(TestSupport::writeFile(folder + QStringLiteral("/卷/二.txt"), "2"));
        QVERIFY(TestSupport::writeFile(folder + QStringLiteral("/三.rar"),
                                       ArchiveBuilder::rar4({{QStringLiteral("三\\正文.txt").toLocal8Bit(), "3"}})));
        for (const int round : {1, 2}) {
            GuiSupport::dropFiles(m_window->shelf()->bookList()->viewport(), {folder});
            BatchImportDialog *dialog = m_window->batchImport();
            QVERIFY(dialog);
            QSignalSpy listed(dialog, &BatchImportDialog::listed);
            QVERIFY(dialog->isSearching());
            QVERIFY(listed.wait(20000));
            QTreeWidget *rows = dialog->list();
            QCOMPARE(rows->topLevelItemCount(), 3);
            QCOMPARE(GuiSupport::columnTexts(rows, BatchImportDialog::ColTitle),
                     (QStringList{QStringLiteral("二"), QStringLiteral("三"), QStringLiteral("一")})); // pinyin
            QCOMPARE(rows->topLevelItem(2)->text(BatchImportDialog::ColAuthor), QStringLiteral("张三"));
            // The wheel over a row scrolls the list and leaves its category alone.
            const QString before = dialog->category(1);
            const QRect cell = rows->visualRect(rows->model()->index(1, BatchImportDialog::ColCategory));
            QWheelEvent wheel(cell.center(), rows->viewport()->mapToGlobal(cell.center()), {}, {0, 120}, Qt::NoButton,
                              {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(rows->viewport(), &wheel);
            QCOMPARE(dialog->category(1), before);
            dialog->categoryForAll()->setCurrentIndex(3);
            QTest::keyClick(dialog->categoryForAll(), Qt::Key_Down); // one category for every row
            if (round == 1)
                QCOMPARE(dialog->category(2), QStringLiteral("历史军事"));
            QSignalSpy imported(dialog, &BatchImportDialog::importFinished);
            if (round == 1) { // cancelled before its first step: nothing lands, the rows wait
                const int before = m_db.shelfPage({}, 1).total;
                dialog->startImport();
                dialog->cancel();
                QVERIFY(imported.wait(20000));
                QVERIFY(dialog->summary()->text().endsWith(QStringLiteral("（其余已取消）")));
                QCOMPARE(m_db.shelfPage({}, 1).total, before);
                imported.clear();
            }
            QTest::mouseClick(dialog->startButton(), Qt::LeftButton);
            QVERIFY(round == 2 || imported.wait(20000));
            QCOMPARE(dialog->summary()->text(), round == 1 ? QStringLiteral("导入完成：新增 3 本，跳过 0 本，失败 0 本。")
                                                           : QStringLiteral("没有需要导入的电子书。"));
            QCOMPARE(m_db.shelfPage({}, 1).total, 3);
            QCOMPARE(m_window->shelf()->bookList()->topLevelItemCount(), 3);
            dialog->close();
            QTRY_VERIFY(!m_window->batchImport());
        }
        // A place saved in the reader shows on its shelf row at once.
        ReadingPosition read{m_window->shelf()->bookList()->topLevelItem(0)->text(5)};
        read.linesRead = 1;
        read.lineCount = 4;
        Q_EMIT m_window->reader()->readingPositionSaved(read);
        QCOMPARE(m_window->shelf()->bookList()->topLevelItem(0)->text(7), QStringLiteral("25%"));
        const auto unpacked = m_db.findByPath(m_ctx.downloadFolder + QStringLiteral("/三/三/正文.txt"));
        QVERIFY(unpacked);
        QCOMPARE(unpacked->name, QStringLiteral("三"));
        QCOMPARE(unpacked->type, QStringLiteral("历史军事"));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/三.rar"))); // the user's file stays

        // One text file let go over the reading page is opened there.
        const QString single = m_dir.filePath(QStringLiteral("单本.txt"));
        QVERIFY(TestSupport::writeFile(single, "第一章\n"));
        GuiSupport::dropFiles(m_window->reader()->readingView(), {single});
        QCOMPARE(m_window->currentBookPath(), single);
        QVERIFY(!m_window->batchImport());
    }

    // A newer copy put in place of a shelf book: the place follows its chapter's title, or the
    // same share of the book when no chapter keeps that title.
    void newerCopy_keepsThePlace_data()
    {
        QTest::addColumn<QByteArray>("newText");
        QTest::addColumn<int>("added");
        QTest::addColumn<QString>("chapter");
        QTest::newRow("title further on") << "序章\n〇\n第一章 子\n一\n第二章 丑\n二\n第三章 寅\n三\n第四章 卯\n四\n"_ba << 1
                                          << u"第二章 丑"_s;
        QTest::newRow("titles renamed") << "第一章 甲\n一\n第二章 乙\n二\n第三章 丙\n三\n第四章 丁\n四\n"_ba << 0
                                        << u"第二章 乙"_s;
    }
    void newerCopy_keepsThePlace()
    {
        QFETCH(QByteArray, newText);
        const QString book = m_dir.filePath(u"serial/书.txt"_s), copy = m_dir.filePath(u"serial/new.txt"_s);
        QVERIFY(TestSupport::writeFile(book, "第一章 子\n一\n第二章 丑\n二\n第三章 寅\n三\n第四章 卯\n四\n"));
        QVERIFY(TestSupport::writeFile(copy, newText));
        QVERIFY(m_db.saveReadingPosition(PositionInBook(book, GetChapter(book).entries, 2, 0.5, 0.5)));
        QString error;
        QTEST(CatalogueUpdates::ReplaceBookText(m_db, book, copy, &error), "added");
        QCOMPARE(TestSupport::readFile(book), newText);
        QTEST(m_db.readingPosition(book)->chapterTitle, "chapter");
    }
    void downloadPanel_shortensTheCatalogueList()
    {
        m_window->SelectToolBar(3);
        CataloguePane *cat = m_window->catalogue();
        const int before = cat->bookList()->height();
        const int pagingBefore = cat->pagingBar()->y();
        QTest::mouseClick(cat->downloadIcon(), Qt::LeftButton);
        QVERIFY(cat->downloadList()->isVisible());
        QCOMPARE(before - cat->bookList()->height(), 120);
        QCOMPARE(cat->pagingBar()->y(), pagingBefore - 120);

        // The list spans the pane until "详情" opens the detail panel beside it; the choice stays.
        QCOMPARE(cat->bookList()->width(), cat->width());
        QVERIFY(!cat->detailPanel()->isVisible());
        QTest::mouseClick(cat->detailToggle(), Qt::LeftButton);
        QVERIFY(cat->detailPanel()->isVisible() && cat->detailPanel()->width() > 100);
        QTRY_COMPARE(cat->bookList()->width() + cat->detailPanel()->width(),
                     cat->width() - cat->findChild<QSplitter *>()->handleWidth());
        QVERIFY(CataloguePane(m_ctx, m_prompter).detailPanelOpen());
        cat->setDetailPanelOpen(false);
    }

    // The shelf's paging bar at the widths two windows side by side get: the paging controls and
    // "添加本地电子书" keep their size, inside the bar, and nothing covers anything; the filter
    // box narrows first, then the additions leave.
    void shelfPagingBar_additionsGiveWay_data()
    {
        QTest::addColumn<int>("width"); // outer, pixels
        QTest::addColumn<bool>("filterShown");
        QTest::newRow("wide") << 1100 << true;
        QTest::newRow("half of 1600") << 800 << true;
        QTest::newRow("798") << 798 << true;
        // Narrower than the paging controls alone: the additions are gone, whatever Qt does then.
        QTest::newRow("narrow") << 640 << false;
    }
    void shelfPagingBar_additionsGiveWay()
    {
        QFETCH(int, width);
        QFETCH(bool, filterShown);
        const QSize frame = m_window->frameGeometry().size() - m_window->size();
        m_window->resize(QSize(width, 600) - frame);
        BookshelfPane *shelf = m_window->shelf();
        QPushButton *add = shelf->addBookButton();
        QWidget *bar = add->parentWidget();
        QCOMPARE(shelf->filterBox()->isVisible(), filterShown);
        if (!filterShown) {
            QVERIFY(shelf->batchImportButton()->isHidden());
            return;
        }
        QVERIFY(add->isVisible() && add->geometry().right() < bar->width());
        QCOMPARE(add->width(), add->sizeHint().width());
        QVERIFY(shelf->filterBox()->width() <= 170);
        const QList<QWidget *> shown = bar->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *a : shown)
            for (QWidget *b : shown)
                QVERIFY2(a == b || !a->isVisible() || !b->isVisible() || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + u" covers "_s + b->objectName()));
    }

    // Sync stays on in this library from here. The indicator is hidden while sync is off; where
    // sync was on before, a start-up check that finds no server shows the failure right of the
    // tab buttons and leads to "同步状态".
    void syncIndicator_showsAFailedStartUpCheck()
    {
        QToolButton *indicator = m_window->syncIndicator();
        QVERIFY(indicator->isHidden());
        QVERIFY(m_db.sync().enable());
        m_ctx.config.serverBaseUrl = u"http://127.0.0.1:1"_s;
        m_window->resize(1100, 720);
        m_window->accounts()->sync()->checkAtStart();
        QTRY_COMPARE(indicator->text(), u"同步失败"_s);
        QVERIFY(indicator->isVisible() && indicator->toolTip().contains(u"无法连接服务器"_s));
        QVERIFY(indicator->x() > m_window->toolButton(5)->geometry().right());
        QTest::mouseClick(indicator, Qt::LeftButton);
        QVERIFY(m_window->accounts()->userCentre());
        QCOMPARE(m_window->accounts()->userCentre()->selectedNode(), int(UserCentre::SyncStatusNode));
    }

    // Last, after sync was on: its state stands between the tab buttons, which do not move, and
    // the search panel, in words down to half a 1600 px screen and as an icon a little below.
    // "关闭阅读同步" takes it away.
    void syncIndicator_keepsItsPlace_data()
    {
        QTest::addColumn<int>("width"); // outer, pixels
        QTest::addColumn<bool>("words");
        QTest::newRow("wide") << 1100 << true;
        QTest::newRow("half of 1600") << 800 << true;
        QTest::newRow("798") << 798 << true;
        QTest::newRow("icon alone") << 760 << false;
    }
    void syncIndicator_keepsItsPlace()
    {
        QFETCH(int, width);
        QList<QRect> tabs;
        for (int i = 1; i <= MainWindow::TabCount; ++i)
            tabs << m_window->toolButton(i)->geometry();
        QToolButton *indicator = m_window->syncIndicator();
        QVERIFY(m_db.sync().enable());
        // The widest word: the quiet check at start finds no server.
        QTRY_COMPARE(m_window->accounts()->sync()->state(), SyncEngine::State::Failed);
        const QSize frame = m_window->frameGeometry().size() - m_window->size();
        m_window->resize(QSize(width, 600) - frame);
        QVERIFY(indicator->isVisible());
        QTEST(indicator->toolButtonStyle() == Qt::ToolButtonTextBesideIcon, "words");
        QCOMPARE(indicator->text(), m_window->accounts()->sync()->stateText());
        QVERIFY(indicator->x() > tabs.last().right() && indicator->geometry().right() < m_window->searchPanel()->x());
        for (int i = 1; i <= MainWindow::TabCount; ++i)
            QCOMPARE(m_window->toolButton(i)->geometry(), tabs[i - 1]);
    }
    void syncIndicator_goesWithTheSwitch()
    {
        QVERIFY(m_window->syncIndicator()->isVisible());
        m_window->accounts()->sync()->switchOff();
        QVERIFY(m_window->syncIndicator()->isHidden());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
