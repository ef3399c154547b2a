#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/BookshelfPane.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

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
            m_db->insertBook(type, QStringLiteral("%1-%2").arg(type).arg(i), QString(),
                             m_dir.filePath(QStringLiteral("%1-%2.txt").arg(type).arg(i)));
    }
    void chooseCategory(int position) // 0 = root
    {
        QTreeWidgetItem *root = m_pane->categoryTree()->topLevelItem(0);
        m_pane->categoryTree()->setCurrentItem(position == 0 ? root : root->child(position - 1));
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
        QFile::remove(m_dir.filePath(QStringLiteral("Data.db")));
        QVERIFY(m_db->open(m_dir.filePath(QStringLiteral("Data.db"))));
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

    void tree_holdsRootAndTenCategories()
    {
        QTreeWidgetItem *root = m_pane->categoryTree()->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("我的书架"));
        QCOMPARE(root->childCount(), 10);
        QCOMPARE(root->child(9)->text(0), QStringLiteral("其他分类"));
        QVERIFY(root->isExpanded());
        QCOMPARE(m_pane->categoryTree()->currentItem(), root);
    }

    void emptyShelf_keepsLoadingIndicator()
    {
        m_pane->reload();
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 0);
        QCOMPARE(indicator(), QStringLiteral("Loadin..."));
    }

    void pagingControls_moveAndRefuseAtTheEnds()
    {
        addBooks(41, QStringLiteral("武侠仙侠"));
        m_pane->reload();
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 40);
        QCOMPARE(indicator(), QStringLiteral("1/2"));
        QCOMPARE(m_pane->bookList()->topLevelItem(0)->foreground(2).color(), QColor(198, 79, 6));

        struct Step
        {
            QToolButton *button;
            QString message; // empty: the page moves
            QString after;
        };
        const QList<Step> steps{
            {m_pane->firstPageButton(), QStringLiteral("当前已是第一页!"), QStringLiteral("1/2")},
            {m_pane->previousPageButton(), QStringLiteral("前面没有了，当前已是第一页!"), QStringLiteral("1/2")},
            {m_pane->nextPageButton(), QString(), QStringLiteral("2/2")},
            {m_pane->nextPageButton(), QStringLiteral("后面没有了，当前已是最后一页!"), QStringLiteral("2/2")},
            {m_pane->lastPageButton(), QStringLiteral("当前已是最后一页!"), QStringLiteral("2/2")},
            {m_pane->previousPageButton(), QString(), QStringLiteral("1/2")},
            {m_pane->lastPageButton(), QString(), QStringLiteral("2/2")},
            {m_pane->firstPageButton(), QString(), QStringLiteral("1/2")},
        };
        for (const Step &step : steps) {
            m_prompter->clear();
            QTest::mouseClick(step.button, Qt::LeftButton);
            QCOMPARE(indicator(), step.after);
            if (step.message.isEmpty()) {
                QVERIFY(m_prompter->shown.isEmpty());
            } else {
                QCOMPARE(m_prompter->lastText(), step.message);
                QCOMPARE(m_prompter->last().icon, Prompter::Icon::Exclamation);
                QCOMPARE(m_prompter->last().title, QStringLiteral("Folioway"));
            }
        }
        QTest::mouseClick(m_pane->nextPageButton(), Qt::LeftButton);
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 1);
    }

    void goButton_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("indicator");
        QTest::addColumn<QString>("message");
        const QString wrong = QStringLiteral("输入的页码有误,请重新输入!");
        const QString outside = QStringLiteral("输入的页码有误,一共才3页,请重新输入!");
        QTest::newRow("whole") << "3" << "3/3" << QString();
        QTest::newRow("fraction is cut") << "2.9" << "2/3" << QString();
        QTest::newRow("blanks around") << "  2 " << "2/3" << QString();
        QTest::newRow("zero") << "0" << "1/3" << outside;
        QTest::newRow("negative") << "-1" << "1/3" << outside;
        QTest::newRow("above count") << "4" << "1/3" << outside;
        QTest::newRow("fraction below one") << "0.5" << "1/3" << outside;
        QTest::newRow("letters") << "abc" << "1/3" << wrong;
        QTest::newRow("blanks only") << "   " << "1/3" << wrong;
        QTest::newRow("empty") << "" << "1/3" << wrong;
        QTest::newRow("infinity") << "inf" << "1/3" << wrong;
    }
    void goButton()
    {
        QFETCH(QString, input);
        QFETCH(QString, indicator);
        QFETCH(QString, message);
        addBooks(81, QStringLiteral("武侠仙侠"));
        m_pane->reload();
        m_pane->pageBox()->setText(input);
        QTest::mouseClick(m_pane->goButton(), Qt::LeftButton);
        QCOMPARE(this->indicator(), indicator);
        QCOMPARE(m_pane->pageBox()->text(), QString());
        QCOMPARE(m_prompter->lastText(), message);
    }

    void categorySwitch_keepsPageNumberAndClampsToTheLast()
    {
        addBooks(85, QStringLiteral("玄幻修真"));
        addBooks(30, QStringLiteral("都市言情"));
        m_pane->reload();
        m_pane->pageBox()->setText(QStringLiteral("3"));
        m_pane->goButton()->click();
        QCOMPARE(indicator(), QStringLiteral("3/3"));

        chooseCategory(2); // 玄幻修真: 85 books, three pages
        QCOMPARE(m_pane->shelfQuery().category, QStringLiteral("玄幻修真"));
        QCOMPARE(indicator(), QStringLiteral("3/3"));
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 5);

        chooseCategory(1); // 武侠仙侠: empty; list cleared, indicator kept
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 0);
        QCOMPARE(indicator(), QStringLiteral("3/3"));

        chooseCategory(3); // 都市言情: one page, shown as its last page
        QCOMPARE(indicator(), QStringLiteral("1/1"));
        QCOMPARE(m_pane->bookList()->topLevelItemCount(), 30);
        QVERIFY(m_prompter->shown.isEmpty());

        chooseCategory(0);
        QCOMPARE(m_pane->shelfQuery().category, QString());
        QCOMPARE(indicator(), QStringLiteral("1/3"));
    }

    void doubleClick_opensExistingFileOrNamesTheMissingOne()
    {
        const QString present = m_dir.filePath(QStringLiteral("在.txt"));
        QVERIFY(TestSupport::writeFile(present, "第一章\n"));
        const QString missing = m_dir.filePath(QStringLiteral("不在 了.txt"));
        m_db->setClock([] { return QDateTime(QDate(2020, 1, 1), QTime(8, 0)); });
        m_db->insertBook(QStringLiteral("其他分类"), QStringLiteral("在"), QString(), present);
        m_db->insertBook(QStringLiteral("其他分类"), QStringLiteral("不在"), QString(), missing);
        m_db->setClock([] { return QDateTime(QDate(2024, 3, 7), QTime(9, 5)); });
        m_pane->reload();
        QSignalSpy opened(m_pane.get(), &BookshelfPane::openBookRequested);

        doubleClickRow(0); // newest: the missing one
        QCOMPARE(opened.count(), 0);
        QCOMPARE(m_prompter->last().title, QStringLiteral("电子书打开失败!"));
        QCOMPARE(m_prompter->last().icon, Prompter::Icon::Critical);
        QCOMPARE(m_prompter->lastText(),
                 QStringLiteral("文件地址不存在，请检查是否移动或删除了以下文件：\r\n") + missing);

        doubleClickRow(1);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), present);
        QCOMPARE(m_db->findByPath(present)->lastread, QDateTime(QDate(2024, 3, 7), QTime(9, 5)));
        // The row keeps showing the old time until the next fill.
        QCOMPARE(m_pane->bookList()->topLevelItem(1)->text(4), QStringLiteral("2020/1/1 08:00"));
    }

    void rightPress_selectsRowAndAsksForTheMenuOnlyOverARow()
    {
        addBooks(3, QStringLiteral("武侠仙侠"));
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
