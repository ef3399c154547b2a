#include "ArchiveBuilder.h"
#include "ReaderGuiSupport.h"
#include "ScriptedPrompter.h"
#include "TinyHttpServer.h"
#include "catalogue/BatchImportDialog.h"
#include "catalogue/CataloguePane.h"
#include "catalogue/DownloadList.h"
#include "catalogue/DownloadQueue.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "library/ShelfColumns.h"
#include "reader/NotTextBar.h"
#include "reader/ResumeBar.h"
#include "settings/ReadingLookFrame.h"
#include "settings/SettingsPane.h"
#include "shell/MainWindow.h"

#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace ReaderGui;

// Each row starts the main window on a profile of its own, never used before, and checks on the
// real windows that a user who touches none of the additions gets the written behaviour.
class TestFreshProfile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<TinyHttpServer> m_server;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void startFresh(QSize outer = {1100, 720})
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(path(u"DataFile/Data.db"_s)));
        m_ctx = {};
        m_ctx.programFolder = m_dir->path();
        m_ctx.db = m_db.get();
        m_ctx.downloadFolder = path(u"TxtBook"_s);
        if (m_server)
            m_ctx.config.serverBaseUrl = m_server->baseUrl();
        m_prompter = std::make_unique<ScriptedPrompter>();
        m_window = std::make_unique<MainWindow>(m_ctx, *m_prompter);
        m_window->load();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->resize(outer - (m_window->frameGeometry().size() - m_window->size()));
    }
    void startReading() { QTRY_VERIFY_WITH_TIMEOUT(m_window->reader()->readingView()->isPageReady(), 60000); }
    QPoint rowCentre(QTreeWidget *list, int row) const
    {
        return list->visualItemRect(list->topLevelItem(row)).center();
    }
    // The bottom right corner of a widget, in the window.
    QPoint farCorner(QWidget *w) const { return w->mapTo(m_window.get(), QPoint(w->width(), w->height())); }

    // Item 1: the laid-out widths, read from the header; the added columns hidden and offered in
    // the header's menu; every column and the paging bar inside the window.
    void shelfColumns(QSize outer, const QList<int> &widths)
    {
        for (int i = 0; i < 45; ++i)
            m_db->insertBook(u"武侠仙侠"_s, u"书%1"_s.arg(i), u"某"_s, path(u"%1.txt"_s.arg(i)));
        BookshelfPane *shelf = m_window->shelf();
        shelf->reload();
        QTreeWidget *list = shelf->bookList();
        QHeaderView *header = list->header();
        QTRY_VERIFY(list->verticalScrollBar()->isVisible() || outer.height() >= 1000);
        QCOMPARE((QList<int>{header->sectionSize(1), header->sectionSize(2), header->sectionSize(3),
                             header->sectionSize(4)}),
                 widths);
        QCOMPARE(header->hiddenSectionCount(), header->count() - 6);
        QMenu *menu = shelf->columns()->headerMenu();
        for (int c = 6; c < header->count(); ++c) {
            QVERIFY(header->isSectionHidden(c));
            QAction *offer = menu->actions().at(c);
            QCOMPARE(offer->text(), list->headerItem()->text(c));
            QVERIFY(!offer->isChecked());
        }
        QVERIFY(header->sectionViewportPosition(5) + header->sectionSize(5) <= list->viewport()->width());
        QTRY_VERIFY(!list->horizontalScrollBar()->isVisible());
        for (QWidget *w : std::initializer_list<QWidget *>{list, shelf->addBookButton(), shelf->batchImportButton()}) {
            const QPoint corner = farCorner(w);
            QVERIFY2(corner.x() <= m_window->width() && corner.y() <= m_window->height(), qPrintable(w->objectName()));
        }
    }

    // Item 2: a row whose file is gone is marked; opening it shows the one critical box, whichever
    // way it is opened; "重新定位文件…" follows the written items and is enabled for it.
    void missingFile(const QString &way)
    {
        const QString gone = path(u"书/不见了.txt"_s);
        m_db->insertBook(u"其他分类"_s, u"不见了"_s, QString(), gone);
        BookshelfPane *shelf = m_window->shelf();
        shelf->reload();
        QTreeWidget *list = shelf->bookList();
        QCOMPARE(list->topLevelItem(0)->foreground(BookshelfPane::pathColumn()).color(), QColor(Qt::red));

        if (way == u"shelf") {
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 0));
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 0));
        } else {
            QTest::mousePress(list->viewport(), Qt::RightButton, {}, rowCentre(list, 0));
            BookMenu *menu = m_window->bookMenu();
            QTRY_VERIFY(menu->isVisible());
            QList<QAction *> items;
            for (QAction *a : menu->actions()) {
                if (!a->isSeparator())
                    items << a;
            }
            QCOMPARE(items.at(5)->objectName(), u"Menue_DelBook"_s);
            QCOMPARE(items.at(6)->text(), u"重新定位文件…"_s);
            QVERIFY(items.at(6)->isEnabled());
            menu->item(way == u"book menu" ? u"Menue_TopRead"_s : u"Menue_SQRead"_s)->trigger();
            menu->close();
        }
        QCOMPARE(m_prompter->shown.size(), 1);
        QCOMPARE(m_prompter->last().icon, Prompter::Icon::Critical);
        QCOMPARE(m_prompter->last().title, u"电子书打开失败!"_s);
        QCOMPARE(m_prompter->lastText(), u"文件地址不存在，请检查是否移动或删除了以下文件：\r\n"_s + gone);
        QCOMPARE(m_window->currentTab(), 1);
        QVERIFY(m_db->findByPath(gone));
        QVERIFY(m_window->currentBookPath().isEmpty());
    }

    // Item 3: after zooming, "保存设置" puts the saved "文字大小" on the page and ends the zoom.
    void saveAfterZoom()
    {
        startReading();
        const QString book = path(u"书.txt"_s);
        QVERIFY(writeBook(book, {u"书"_s, u"第一章 起"_s, u"正文"_s}));
        m_window->openBook(book);
        QTRY_VERIFY(!m_window->reader()->isOpening() && m_window->reader()->shownChapter() == 1);
        const auto fontSize = [this] {
            return js(m_window->reader()->readingView()->webView(),
                      u"getComputedStyle(document.getElementById('Content_Txt')).fontSize"_s)
                .toString();
        };
        QWidget *input = pageInput(m_window->reader());
        QTest::keyClick(input, Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(input, Qt::Key_Plus, Qt::ControlModifier);
        QTRY_COMPARE(fontSize(), u"18px"_s);

        m_window->SelectToolBar(5);
        SettingsPane *settings = m_window->settings();
        settings->textSizeList()->setCurrentText(u"特大号"_s);
        QTest::mouseClick(settings->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter->lastText(), u"恭喜你，参数设置成功！"_s);
        QCOMPARE(m_db->txtSize(), u"特大号"_s);
        QTRY_COMPARE(fontSize(), u"22px"_s);
        QCOMPARE(settings->readingLookFrame()->look().fontSize, 0);
        QCOMPARE(ReadingLook::fromText(m_db->option(LibraryDb::readingLookOption())).fontSize, 0);
    }

    // Item 5: a zip named ".txt" opens through the written flow (the question, then the page)
    // with the bar above the page, whose button hands it to the batch import.
    void archiveNamedTxt()
    {
        startReading();
        const QString book = path(u"压缩包.txt"_s);
        QVERIFY(TestSupport::writeFile(book, ArchiveBuilder::zip({{"压缩包/第一章.txt", "1"}})));
        m_prompter->fileNames.enqueue(book);
        m_prompter->answers.enqueue(false);
        m_window->SelectToolBar(2);
        ReaderPane *reader = m_window->reader();
        reader->toolAction(ReaderPane::OpenTool)->trigger();
        QCOMPARE(m_prompter->shown.size(), 1);
        QCOMPARE(m_prompter->last().title, u"添加电子书"_s);
        QTRY_VERIFY(!reader->isOpening() && reader->shownChapter() == 1);
        QCOMPARE(m_window->currentBookPath(), book);
        ResumeBar *bar = reader->notTextBar()->bar();
        QVERIFY(bar->isVisible());
        QVERIFY(bar->text().startsWith(u"这个文件看起来不是文本"_s));
        QCOMPARE(bar->resumeButton()->text(), u"用批量导入打开"_s);

        QTest::mouseClick(bar->resumeButton(), Qt::LeftButton);
        QVERIFY(m_window->batchImport() && m_window->batchImport()->isVisible());
        // The archive is listed and imported off the window's thread.
        QTRY_COMPARE(m_window->batchImport()->list()->topLevelItemCount(), 1);
        QTRY_VERIFY(!m_window->batchImport()->isSearching());
        QTest::mouseClick(m_window->batchImport()->startButton(), Qt::LeftButton);
        QTRY_VERIFY(m_db->findByPath(path(u"TxtBook/压缩包/压缩包/第一章.txt"_s)));
    }

    // Item 7: a ".7z" download's caption and folder lose ".7z" only.
    void caption7z()
    {
        m_window->SelectToolBar(3);
        QTreeWidget *list = m_window->catalogue()->bookList();
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        list->setCurrentItem(list->topLevelItem(0));
        const QPoint at(list->columnViewportPosition(2) + 10, rowCentre(list, 0).y());
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        const QList<DownloadRow> &rows = m_window->catalogue()->downloads()->rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().saveFile, path(u"TxtBook/99-七子之歌/99-七子之歌.7z"_s));
        QCOMPARE(m_window->catalogue()->downloadList()->topLevelItem(0)->text(0), u" 99-七子之歌"_s);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The catalogue: one book in a ".7z" archive, which is never there to download.
        m_server = std::make_unique<TinyHttpServer>([](const TinyHttpServer::Request &request) {
            if (!request.target.contains("listbook.asp"))
                return TinyHttpServer::reply("no such file", 404);
            return TinyHttpServer::reply(
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><list><bookinfo><id>99</id><name>七子之歌</name>"
                "<class>其他分类</class><author>闻一多</author><statue>完结</statue><ftime>2009-3-5 10:20:00</ftime>"
                "<size>2048</size><downurl>/down/99-七子之歌.7z</downurl></bookinfo>"
                "<otherinfo><pageinfo>1,1,1,1,1</pageinfo></otherinfo></list>");
        });
    }
    void cleanup()
    {
        m_window.reset();
        m_db.reset();
        m_dir.reset();
    }

    void freshProfile_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QList<int>>("widths"); // 类别, 书名, 书签, 最近阅读 in pixels
        QTest::addColumn<QString>("way");
        QTest::newRow("1: columns at 1024x768") << 1 << QSize(1024, 768) << QList<int>{100, 212, 354, 133} << QString();
        QTest::newRow("1: columns at 1100x720") << 1 << QSize(1100, 720) << QList<int>{100, 230, 384, 133} << QString();
        QTest::newRow("1: columns at 1600x1000")
            << 1 << QSize(1600, 1000) << QList<int>{100, 350, 584, 133} << QString();
        QTest::newRow("2: missing file, shelf") << 2 << QSize() << QList<int>{} << u"shelf"_s;
        QTest::newRow("2: missing file, book menu") << 2 << QSize() << QList<int>{} << u"book menu"_s;
        QTest::newRow("2: missing file, reading tab") << 2 << QSize() << QList<int>{} << u"reading tab"_s;
        QTest::newRow("3: save after zoom") << 3 << QSize() << QList<int>{} << QString();
        QTest::newRow("5: zip named .txt") << 5 << QSize() << QList<int>{} << QString();
        QTest::newRow("7: .7z caption") << 7 << QSize() << QList<int>{} << QString();
    }
    void freshProfile()
    {
        QFETCH(int, item);
        QFETCH(QSize, window);
        QFETCH(QList<int>, widths);
        QFETCH(QString, way);
        startFresh(window.isValid() ? window : QSize(1100, 720));
        if (QTest::currentTestFailed())
            return;
        switch (item) {
        case 1:
            shelfColumns(window, widths);
            break;
        case 2:
            missingFile(way);
            break;
        case 3:
            saveAfterZoom();
            break;
        case 5:
            archiveNamedTxt();
            break;
        case 7:
            caption7z();
            break;
        }
    }
};

QTEST_MAIN(TestFreshProfile)
#include "tst_fresh_profile.moc"
