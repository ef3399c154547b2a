#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "account/AccountWindows.h"
#include "account/UserCentre.h"
#include "library/BookEditor.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "shell/MainWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

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
        QFile::remove(m_dir.filePath(u"Data.db"_s));
        QVERIFY(m_db->open(m_dir.filePath(u"Data.db"_s)));
        m_ctx.db = m_db.get();
        m_ctx.programFolder = m_dir.path();
        m_existingPath = m_dir.filePath(u"Old/Book.txt"_s);
        m_existingId = m_db->insertBook(u"武侠仙侠"_s, u"旧书"_s, u"某人"_s, m_existingPath);
        m_prompter.clear();
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
    }
    void cleanup()
    {
        m_window.reset();
        m_db.reset();
    }

    // The box checks read the same in both modes; the title names the mode.
    void refusesInOrder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("boxTitle");
        const QString add = u"添加失败"_s, edit = u"修改失败"_s, a = u"addnew"_s, path = u"/a.txt"_s;
        // clang-format off
        QTest::newRow("blank title") << a << u"   "_s << 0 << path << u"添加失败：书名不能为空！"_s << add;
        QTest::newRow("no category") << a << u"书"_s << -1 << path << u"添加失败：电子类别不能为空！"_s << add;
        QTest::newRow("blank path") << a << u"书"_s << 0 << u"  "_s << u"添加失败：电子书路径不能为空！"_s << add;
        QTest::newRow("same path, other case") << a << u"书"_s << 0 << u"UPPER"_s << QString() << add; // message made below
        QTest::newRow("edit, blank title") << u"edit"_s << u" "_s << 0 << path << u"添加失败：书名不能为空！"_s << edit;
        // clang-format on
    }
    void refusesInOrder()
    {
        QFETCH(QString, mode);
        QFETCH(QString, title);
        QFETCH(int, category);
        QFETCH(QString, path);
        QFETCH(QString, message);
        if (path == u"UPPER"_s) {
            path = m_existingPath.toUpper();
            message = u"添加失败：\r\n\r\n文件："_s + path + u"\r\n\r\n已经存在！-《旧书》"_s;
        }
        BookEditor *e = openEditor(mode == u"edit"_s ? u"edit>||<%1"_s.arg(m_existingId) : mode);
        if (mode == u"addnew"_s) {
            QCOMPARE(e->windowTitle(), u"添加电子书"_s);
            QCOMPARE(e->categoryBox()->currentText(), u"其他分类"_s);
        }
        fill(e, title, category, QString(), path);
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), message);
        QTEST(m_prompter.last().title, "boxTitle");
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Critical);
        QVERIFY(m_window->bookEditor()); // stays open with the input
        QCOMPARE(e->titleBox()->text(), title);
        QCOMPARE(m_db->shelfPage({}, 1).total, 1);
    }

    void addNew_savesTrimmedWithDefaultAuthorAndReloads()
    {
        BookEditor *e = openEditor(u"addnew"_s);
        m_window->SelectToolBar(3);
        fill(e, u"  新书  "_s, 2, u"   "_s, u"  /books/new.txt "_s);
        // A path with no file behind it is noted beside the box and saved without a question.
        QVERIFY(!e->missingFileNote()->isHidden());
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.shown.size(), 1);
        QCOMPARE(m_prompter.lastText(), u"恭喜你：电子书添加成功！"_s);
        QCOMPARE(m_prompter.last().title, u"添加成功"_s);
        const auto row = m_db->findByPath(u"/books/new.txt"_s);
        QVERIFY(row);
        QCOMPARE((QStringList{row->name, row->author, row->type, row->marke}), (QStringList{"新书", "佚名", "都市言情", "Null"}));
        QCOMPARE(shelfRows(), 2);
        QCOMPARE(m_window->currentTab(), 1);
        QTRY_VERIFY(!m_window->bookEditor());
    }

    void edit_keepsItsOwnPathButRefusesAnother()
    {
        const QString otherPath = m_dir.filePath(u"Other.txt"_s);
        m_db->insertBook(u"其他分类"_s, u"另一本"_s, QString(), otherPath);

        BookEditor *e = openEditor(u"edit>||<%1"_s.arg(m_existingId));
        QCOMPARE(e->windowTitle(), u"修改电子书-《旧书》"_s);
        QCOMPARE(e->categoryBox()->currentText(), u"武侠仙侠"_s);
        e->pathBox()->setText(otherPath.toLower() == otherPath ? otherPath.toUpper() : otherPath.toLower());
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QVERIFY(m_prompter.lastText().startsWith(u"修改失败：\r\n\r\n文件："_s));
        QVERIFY(m_prompter.lastText().endsWith(u"已经存在！-《另一本》"_s));
        QCOMPARE(m_prompter.last().title, u"修改失败"_s);

        e->pathBox()->setText(m_existingPath.toUpper());
        e->titleBox()->setText(u"改名"_s);
        QTest::mouseClick(e->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), u"恭喜你：电子书信息修改成功！"_s);
        QCOMPARE(m_db->findById(m_existingId)->name, u"改名"_s);
        QCOMPARE(m_window->shelf()->bookList()->topLevelItem(1)->text(2), u"改名"_s);
    }

    void browse_opensInTheLastFolderUsed()
    {
        const QString picked = m_dir.filePath(u"书库/甲.txt"_s);
        QVERIFY(TestSupport::writeFile(picked, "x"));
        BookEditor *e = openEditor(u"addnew"_s);
        m_prompter.fileNames << picked;
        QTest::mouseClick(e->browseButton(), Qt::LeftButton);
        QTest::mouseClick(e->browseButton(), Qt::LeftButton); // cancelled: the box keeps the file
        QCOMPARE(e->pathBox()->text(), picked);
        QVERIFY(e->missingFileNote()->isHidden());
        QCOMPARE(m_prompter.startDirs, (QStringList{QDir::homePath(), m_dir.filePath(u"书库"_s)}));
    }

    void openNew_cancelReadsWithoutAdding_saveAddsAndReads()
    {
        const QString book = m_dir.filePath(u"Fresh Book.TXT"_s);
        QVERIFY(TestSupport::writeFile(book, "第一章\n"));
        for (bool save : {false, true}) {
            m_window->openBook(book); // the reader's file dialog sets the current book first
            m_window->SelectToolBar(1);
            BookEditor *e = openEditor(u"opennew"_s);
            QCOMPARE(e->titleBox()->text(), u"fresh book"_s);
            QCOMPARE(e->authorBox()->text(), u"佚名"_s);
            QCOMPARE(e->pathBox()->text(), book);
            QTest::mouseClick(save ? e->saveButton() : e->cancelButton(), Qt::LeftButton);
            QCOMPARE(m_window->currentTab(), 2);
            QCOMPARE(m_window->currentBookPath(), book);
            QCOMPARE(m_db->findByPath(book).has_value(), save);
            QTRY_VERIFY(!m_window->bookEditor());
        }
    }

    void menu_itemsAndTheirActions()
    {
        BookMenu *menu = m_window->bookMenu();
        menu->setBook(*m_db->findById(m_existingId));
        m_prompter.answers.enqueue(false);
        menu->item(u"Menue_DelBook"_s)->trigger(); // removal asks first
        QCOMPARE(m_prompter.last().title, u"确认删除"_s);
        QCOMPARE(m_prompter.lastText(), u"是否真要将《旧书》从列表中移除！"_s);
        QCOMPARE(shelfRows(), 1);
        const qsizetype shown = m_prompter.shown.size();
        menu->item(u"Menue_TopRead"_s)->trigger(); // the file is not there: its message and nothing else
        QCOMPARE(m_prompter.shown.size(), shown + 1);
        QCOMPARE(m_prompter.last().title, u"电子书打开失败!"_s);
        QCOMPARE(shelfRows(), 1);
        QString opened;
        menu->setFolderOpener([&opened](const QString &folder) { opened = folder; });
        menu->item(u"GotoForlder"_s)->trigger();
        QCOMPARE(opened, m_dir.filePath(u"Old/"_s));

        menu->item(u"Menue_ModBookInfo"_s)->trigger();
        QVERIFY(m_window->bookEditor());
        QCOMPARE(m_window->bookEditor()->mode(), u"edit"_s);
        QCOMPARE(m_window->editorMode(), u"edit>||<%1"_s.arg(m_existingId));
        menu->item(u"SendShare"_s)->trigger();
        QVERIFY(m_window->accounts()->userCentre());
        m_prompter.answers.enqueue(true);
        menu->item(u"Menue_DelBook"_s)->trigger();
        QCOMPARE(shelfRows(), 0);
        QVERIFY(!m_db->findById(m_existingId));
    }
};

QTEST_MAIN(TestBookEditor)
#include "tst_bookeditor.moc"
