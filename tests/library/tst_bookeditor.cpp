#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/BookEditor.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "account/AccountWindows.h"
#include "account/UserCentre.h"
#include "library/LibraryDb.h"
#include "shell/MainWindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

// The book editor and the book menu, driven through the main window that owns them.
class TestBookEditor : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;
    qint64 m_existingId = 0;
    QString m_existingPath;

    BookEditor *openEditor(const QString &mode)
    {
        m_window->showBookEditor(mode);
        return m_window->bookEditor();
    }
    void fill(BookEditor *e, const QString &title, int category, const QString &author, const QString &path)
    {
        e->titleBox()->setText(title);
        e->categoryBox()->setCurrentIndex(category);
        e->authorBox()->setText(author);
        e->pathBox()->setText(path);
    }
    int shelfRows() const { return m_window->shelf()->bookList()->topLevelItemCount(); }

private Q_SLOTS:
    void init()
    {
        m_db = std::make_unique<LibraryDb>();
        QFile::remove(m_dir.filePath(QStringLiteral("Data.db")));
        QVERIFY(m_db->open(m_dir.filePath(QStringLiteral("Data.db"))));
        m_ctx.db = m_db.get();
        m_ctx.programFolder = m_dir.path();
        m_existingPath = m_dir.filePath(QStringLiteral("Old/Book.txt"));
        m_existingId = m_db->insertBook(QStringLiteral("武侠仙侠"), QStringLiteral("旧书"), QStringLiteral("某人"),
                                        m_existingPath);
        m_prompter.clear();
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
    }
    void cleanup()
    {
        m_window.reset();
        m_db.reset();
    }

    void getTxtName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("windows path, upper case") << "D:\\Books\\Tom.TXT" << "tom";
        QTest::newRow("unix path") << "/home/me/三国演义.txt" << "三国演义";
        QTest::newRow("doubled extension") << "/x/a.txt.txt" << "a";
        QTest::newRow("inner .txt") << "/x/my.txt.notes.txt" << "my.notes";
        QTest::newRow("no extension") << "/x/readme" << "readme";
    }
    void getTxtName()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(::getTxtName(path), title);
    }

    void addNew_refusesInOrder_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank title") << "   " << 0 << "/a.txt" << "添加失败：书名不能为空！";
        QTest::newRow("no category") << "书" << -1 << "/a.txt" << "添加失败：电子类别不能为空！";
        QTest::newRow("blank path") << "书" << 0 << "  " << "添加失败：电子书路径不能为空！";
        QTest::newRow("same path, other case")
            << "书" << 0 << "UPPER" << QString(); // the stored path in upper case; message made below
    }
    void addNew_refusesInOrder()
    {
        QFETCH(QString, title);
        QFETCH(int, category);
        QFETCH(QString, path);
        QFETCH(QString, message);
        if (path == QLatin1String("UPPER")) {
            path = m_existingPath.toUpper();
            message = QStringLiteral("添加失败：\r\n\r\n文件：") + path + QStringLiteral("\r\n\r\n已经存在！-《旧书》");
        }
        BookEditor *e = openEditor(QStringLiteral("addnew"));
        QCOMPARE(e->windowTitle(), QStringLiteral("添加电子书"));
        QCOMPARE(e->categoryBox()->currentText(), QStringLiteral("其他分类"));
        fill(e, title, category, QString(), path);
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), message);
        QCOMPARE(m_prompter.last().title, QStringLiteral("添加失败"));
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(m_window->bookEditor()); // stays open with the input
        QCOMPARE(e->titleBox()->text(), title);
        QCOMPARE(m_db->shelfPage({}, 1).total, 1);
    }

    void addNew_savesTrimmedWithDefaultAuthorAndReloads()
    {
        BookEditor *e = openEditor(QStringLiteral("addnew"));
        m_window->SelectToolBar(3);
        fill(e, QStringLiteral("  新书  "), 2, QStringLiteral("   "), QStringLiteral("  /books/new.txt "));
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("恭喜你：电子书添加成功！"));
        QCOMPARE(m_prompter.last().title, QStringLiteral("添加成功"));
        const auto row = m_db->findByPath(QStringLiteral("/books/new.txt"));
        QVERIFY(row);
        QCOMPARE(row->name, QStringLiteral("新书"));
        QCOMPARE(row->author, QStringLiteral("佚名"));
        QCOMPARE(row->type, QStringLiteral("都市言情"));
        QCOMPARE(row->marke, QStringLiteral("Null"));
        QCOMPARE(shelfRows(), 2);
        QCOMPARE(m_window->currentTab(), 1);
        QTRY_VERIFY(!m_window->bookEditor());
    }

    void edit_keepsItsOwnPathButRefusesAnother()
    {
        const QString otherPath = m_dir.filePath(QStringLiteral("Other.txt"));
        m_db->insertBook(QStringLiteral("其他分类"), QStringLiteral("另一本"), QString(), otherPath);

        BookEditor *e = openEditor(QStringLiteral("edit>||<%1").arg(m_existingId));
        QCOMPARE(e->windowTitle(), QStringLiteral("修改电子书-《旧书》"));
        QCOMPARE(e->categoryBox()->currentText(), QStringLiteral("武侠仙侠"));
        e->pathBox()->setText(otherPath.toLower() == otherPath ? otherPath.toUpper() : otherPath.toLower());
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QVERIFY(m_prompter.lastText().startsWith(QStringLiteral("修改失败：\r\n\r\n文件：")));
        QVERIFY(m_prompter.lastText().endsWith(QStringLiteral("已经存在！-《另一本》")));
        QCOMPARE(m_prompter.last().title, QStringLiteral("修改失败"));

        e->pathBox()->setText(m_existingPath.toUpper());
        e->titleBox()->setText(QStringLiteral("改名"));
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("恭喜你：电子书信息修改成功！"));
        QCOMPARE(m_db->findById(m_existingId)->name, QStringLiteral("改名"));
        QCOMPARE(m_window->shelf()->bookList()->topLevelItem(1)->text(2), QStringLiteral("改名"));
    }

    void edit_ofARemovedBook_showsEmptyFieldsAndRefuses()
    {
        m_db->deleteBook(m_existingId);
        BookEditor *e = openEditor(QStringLiteral("edit>||<%1").arg(m_existingId));
        QCOMPARE(e->titleBox()->text(), QString());
        fill(e, QStringLiteral("书"), 0, QString(), QStringLiteral("/x.txt"));
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.last().title, QStringLiteral("修改失败"));
        QCOMPARE(m_db->shelfPage({}, 1).total, 0);
    }

    void editor_isASingleInstance()
    {
        BookEditor *first = openEditor(QStringLiteral("addnew"));
        first->titleBox()->setText(QStringLiteral("正在输入"));
        BookEditor *second = openEditor(QStringLiteral("edit>||<%1").arg(m_existingId));
        QCOMPARE(second, first);
        QCOMPARE(second->mode(), QStringLiteral("addnew"));
        QCOMPARE(second->titleBox()->text(), QStringLiteral("正在输入"));
    }

    void openNew_cancelReadsWithoutAdding_saveAddsAndReads()
    {
        const QString book = m_dir.filePath(QStringLiteral("Fresh Book.TXT"));
        QVERIFY(TestSupport::writeFile(book, "第一章\n"));
        for (bool save : {false, true}) {
            m_window->openBook(book); // the reader's file dialog sets the current book first
            m_window->SelectToolBar(1);
            BookEditor *e = openEditor(QStringLiteral("opennew"));
            QCOMPARE(e->titleBox()->text(), QStringLiteral("fresh book"));
            QCOMPARE(e->authorBox()->text(), QStringLiteral("佚名"));
            QCOMPARE(e->pathBox()->text(), book);
            QTest::mouseClick(save ? e->saveButton() : e->cancelButton(), Qt::LeftButton);
            QCOMPARE(m_window->currentTab(), 2);
            QCOMPARE(m_window->currentBookPath(), book);
            QCOMPARE(m_db->findByPath(book).has_value(), save);
            QTRY_VERIFY(!m_window->bookEditor());
        }
    }

    void menu_removeAsksFirst()
    {
        BookMenu *menu = m_window->bookMenu();
        menu->setBook(*m_db->findById(m_existingId));
        m_prompter.answers.enqueue(false);
        menu->item(QStringLiteral("Menue_DelBook"))->trigger();
        QCOMPARE(m_prompter.last().title, QStringLiteral("确认删除"));
        QCOMPARE(m_prompter.lastText(), QStringLiteral("是否真要将《旧书》从列表中移除！"));
        QCOMPARE(shelfRows(), 1);
        m_prompter.answers.enqueue(true);
        menu->item(QStringLiteral("Menue_DelBook"))->trigger();
        QCOMPARE(shelfRows(), 0);
        QVERIFY(!m_db->findById(m_existingId));
    }

    void menu_itemsAndTheirActions()
    {
        BookMenu *menu = m_window->bookMenu();
        QStringList captions;
        int separators = 0;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator())
                ++separators;
            else
                captions << a->text();
        }
        QCOMPARE(captions, (QStringList{"开始阅读", "从书签处阅读", "修改本书信息", "跳转到所在目录",
                                        "共享到网络服务器", "从列表中删除"}));
        QCOMPARE(separators, 5);

        BookRecord book = *m_db->findById(m_existingId);
        menu->setBook(book);
        menu->item(QStringLiteral("Menue_TopRead"))->trigger(); // the file is not there
        QCOMPARE(m_prompter.last().title, QStringLiteral("电子书打开失败!"));
        QVERIFY(m_prompter.lastText().endsWith(m_existingPath));
        QCOMPARE(m_window->currentTab(), 1);

        QString opened;
        menu->setFolderOpener([&opened](const QString &folder) { opened = folder; });
        menu->item(QStringLiteral("GotoForlder"))->trigger();
        QCOMPARE(opened, m_dir.filePath(QStringLiteral("Old/")));

        menu->item(QStringLiteral("Menue_ModBookInfo"))->trigger();
        QVERIFY(m_window->bookEditor());
        QCOMPARE(m_window->bookEditor()->mode(), QStringLiteral("edit"));
        QCOMPARE(m_window->editorMode(), QStringLiteral("edit>||<%1").arg(m_existingId));
    }

    void menu_shareOpensTheUserCentre()
    {
        BookMenu *menu = m_window->bookMenu();
        QVERIFY(menu->item(QStringLiteral("SendShare"))->isEnabled());
        menu->setBook(*m_db->findById(m_existingId));
        menu->item(QStringLiteral("SendShare"))->trigger();
        QVERIFY(m_window->accounts()->userCentre());
    }

    void folderOf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("unix") << "/home/me/书 名/书 名.txt" << "/home/me/书 名/";
        QTest::newRow("windows") << "D:\\\\Books\\\\Tom.txt" << "D:\\Books\\";
        QTest::newRow("folder named after the book") << "/b/Tom.txt/Tom.txt" << "/b/Tom.txt/";
    }
    void folderOf()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(BookMenu::folderOf(path), folder);
    }
};

QTEST_MAIN(TestBookEditor)
#include "tst_bookeditor.moc"
