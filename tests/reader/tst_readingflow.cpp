#include "ReaderGuiSupport.h"
#include "ScriptedPrompter.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "reader/Chapters.h"
#include "shell/MainWindow.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

using namespace ReaderGui;

// Whole journeys through the program: from the shelf to the last page, a bookmark across a
// restart, and a very large book that must not freeze the window.
class TestReadingFlow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;

    void startWindow()
    {
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
        QTRY_VERIFY_WITH_TIMEOUT(m_window->reader()->readingView()->isPageReady(), 60000);
    }
    // Title line, then `chapters` chapters of `bodyLines` lines; returns the heading indexes.
    static QList<qsizetype> bookLines(int chapters, int bodyLines, QStringList *lines)
    {
        QList<qsizetype> headings;
        *lines = {u"长篇之书"_s};
        for (int k = 1; k <= chapters; ++k) {
            headings.append(lines->size());
            lines->append(u"第%1章 风起云涌之%1"_s.arg(k));
            for (int j = 1; j <= bodyLines; ++j)
                lines->append(u"　　少年%1在山间行走，抬头望见远处的城墙，心中%2分感慨。"_s.arg(k).arg(j));
        }
        return headings;
    }
    qint64 addToShelf(const QString &path, const QString &name)
    {
        const qint64 id = m_db->insertBook(u"玄幻修真"_s, name, u"某人"_s, path);
        m_window->shelf()->reload();
        return id;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_db = std::make_unique<LibraryDb>();
        QVERIFY(m_db->open(m_dir.filePath(u"DataFile/Data.db"_s)));
        m_ctx.db = m_db.get();
        m_ctx.programFolder = m_dir.path();
        startWindow();
    }
    void init() { m_prompter.clear(); }

    void shelfDoubleClick_readsTheBookToItsEndWithTheRightArrow()
    {
        QStringList lines;
        QList<qsizetype> headings = bookLines(12, 5, &lines);
        lines.insert(1, u"前言：这是一本测试用的书。"_s);
        for (qsizetype &h : headings)
            ++h;
        const QString path = m_dir.filePath(u"书架/长篇.txt"_s);
        QVERIFY(writeBook(path, lines));
        addToShelf(path, u"长篇"_s);

        QTreeWidget *shelf = m_window->shelf()->bookList();
        const QPoint at = shelf->visualItemRect(shelf->topLevelItem(0)).center();
        QTest::mousePress(shelf->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(shelf->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(m_window->currentTab(), 2);
        ReaderPane *reader = m_window->reader();

        // Every page, in order, put together gives the book without its title line.
        QString read;
        for (int position = 1; position <= headings.size() + 1; ++position) {
            if (position > 1)
                QTest::keyClick(pageInput(reader), Qt::Key_Right);
            const qsizetype first = position == 1 ? 1 : headings.at(position - 2);
            const qsizetype last = position <= headings.size() ? headings.at(position - 1) - 1 : lines.size() - 1;
            const QString page = linesHtml(lines, first, last);
            QVERIFY2(waitShown(reader, position, page), qPrintable(QString::number(position)));
            read += page;
        }
        QCOMPARE(read, linesHtml(lines, 1, lines.size() - 1));
        QVERIFY(m_prompter.shown.isEmpty());
        QTest::keyClick(pageInput(reader), Qt::Key_Right);
        QTRY_COMPARE(m_prompter.lastText(), u"已经是最后一章了！"_s);
    }

    // Which entry a title leads to is decided in tst_chapters; here a title with quotes and
    // markup makes the whole round: set from the reading menu or the bookmark button, shown on
    // the shelf, followed from the reading menu and, after a restart, from the book menu.
    void bookmark_withQuotesAndMarkup_survivesARestart()
    {
        QStringList lines;
        const QList<qsizetype> headings = bookLines(8, 60, &lines);
        lines[headings.at(3)] = u"第4章 It's <i>\"ok\"</i>"_s;
        const QString path = m_dir.filePath(u"restart.txt"_s);
        QVERIFY(writeBook(path, lines));
        const qint64 id = addToShelf(path, u"重启"_s);
        ReaderPane *reader = m_window->reader();
        m_window->openBook(path);
        QVERIFY(waitShown(reader, 1, linesHtml(lines, 1, headings.at(0) - 1)));
        reader->selectChapter(3);
        reader->readingMenuItem(u"Menue_InsertSQ"_s)->trigger();
        reader->selectChapter(5);
        reader->bookmarkMenu()->actions().first()->trigger();
        QCOMPARE(m_prompter.lastText(), u"恭喜你：书签添加成功！"_s);
        QCOMPARE(m_prompter.last().title, u"添加成功"_s);
        QCOMPARE(m_db->findById(id)->marke, lines.at(headings.at(3)));
        QVERIFY(!m_window->shelf()->bookList()->findItems(lines.at(headings.at(3)), Qt::MatchExactly, 3).isEmpty());
        const QString entry5 = linesHtml(lines, headings.at(3), headings.at(4) - 1); // entry 5: chapter 4
        reader->firstChapter();
        QVERIFY(waitShown(reader, 1, linesHtml(lines, 1, headings.at(0) - 1)));
        reader->readingMenuItem(u"Menue_GotoSQ"_s)->trigger();
        QVERIFY(waitShown(reader, 5, entry5));

        // A new window on the same database, as after closing and starting the program again.
        m_window.reset();
        startWindow();
        reader = m_window->reader();
        m_window->bookMenu()->popupFor(*m_db->findById(id), QPoint());
        m_window->bookMenu()->item(u"Menue_SQRead"_s)->trigger();
        m_window->bookMenu()->hide();
        QVERIFY(waitShown(reader, 5, entry5));
        QCOMPARE(reader->selectedChapter(), 5);
        QCOMPARE(js(reader->readingView()->webView(), u"document.getElementById('Content_Txt').scrollTop"_s).toInt(),
                 0);
    }

    void largeBook_opensWithoutFreezingTheWindow()
    {
        // About 50 MB of GB18030: 5000 chapters of some 10 kB.
        QStringList chapter;
        bookLines(1, 180, &chapter);
        const QByteArray body = TestSupport::gb18030(chapter.mid(2).join(u'\n'));
        QByteArray bytes = TestSupport::gb18030(u"巨著\n"_s);
        for (int k = 1; k <= 5000; ++k)
            bytes += TestSupport::gb18030(u"第%1章 标题\n"_s.arg(k)) + body + '\n';
        QVERIFY(bytes.size() > 48 * 1024 * 1024);
        const QString path = m_dir.filePath(u"large.txt"_s);
        QVERIFY(TestSupport::writeFile(path, bytes));
        bytes.clear();

        ReaderPane *reader = m_window->reader();
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        ticker.start();
        QSignalSpy shown(reader, &ReaderPane::chapterShown);
        m_window->openBook(path);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 60000);
        QCOMPARE(shown.first().first().toInt(), 1);
        reader->lastChapter();
        QTRY_VERIFY_WITH_TIMEOUT(pageHtml(reader).startsWith(u"第5000章 标题<br>"_s), 20000);
        ticker.stop();
        longest = std::max(longest, clock.elapsed() - last);
        qInfo("opening %lld bytes took %lld ms; longest frozen frame %lld ms", qint64(QFileInfo(path).size()),
              clock.elapsed(), longest);
        QCOMPARE(reader->chapterList()->topLevelItemCount(), 5001);
        QVERIFY2(longest < 200, qPrintable(u"longest frozen frame %1 ms"_s.arg(longest)));
    }

    void corpus_everyBookOpensAndReachesItsLastChapter()
    {
        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("no corpus beside the checkout");
        QDirIterator it(corpus, {u"*.txt"_s}, QDir::Files, QDirIterator::Subdirectories);
        ReaderPane *reader = m_window->reader();
        int books = 0;
        while (it.hasNext() && books < 5) {
            const QString path = it.next();
            const ChapterList expected = GetChapter(path);
            QVERIFY(expected.ok());
            QSignalSpy shown(reader, &ReaderPane::chapterShown);
            m_window->openBook(path);
            QVERIFY(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 60000));
            QCOMPARE(reader->chaptersPath(), path);
            QCOMPARE(reader->chapters(), expected.entries);
            reader->lastChapter();
            QVERIFY(QTest::qWaitFor([&] { return shown.size() == 2; }, 30000));
            QCOMPARE(shown.last().first().toInt(), int(expected.entries.size()));
            ++books;
        }
        QVERIFY(m_prompter.shown.isEmpty());
    }
};

QTEST_MAIN(TestReadingFlow)
#include "tst_readingflow.moc"
