#pragma once

// The reading pane of a real main window over a temporary library, with a book of eight
// chapters; the suites of the reading tab derive from it.

#include "ReaderGuiSupport.h"
#include "ScriptedPrompter.h"
#include "library/BookEditor.h"
#include "library/BookMenu.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "platform/ChineseScript.h"
#include "platform/SpeechEngine.h"
#include "reader/BookSearchPanel.h"
#include "reader/ChapterJumpBox.h"
#include "reader/ChapterRulesWindow.h"
#include "reader/ReadingPositionKeeper.h"
#include "reader/ReadingStatus.h"
#include "reader/ResumeBar.h"
#include "reader/VoiceController.h"
#include "settings/ReadingLookFrame.h"
#include "settings/SettingsPane.h"
#include "settings/TextRulesWindow.h"
#include "shell/MainWindow.h"
#include "text/Chapters.h"
#include "text/HeadingExpression.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QWheelEvent>

using namespace ReaderGui;
using namespace Qt::StringLiterals;

namespace {

struct Book
{
    QString path;
    QStringList lines;
    QList<qsizetype> starts; // first shown line of each entry

    qsizetype end(int position) const { return position < starts.size() ? starts.at(position) - 1 : lines.size() - 1; }
};

// Seconds passed, then the fraction of the chapter the page is scrolled to.
using ReadingSteps = QList<std::pair<int, double>>;

// Hears every text it is given and ends each at once.
class HeardEngine : public NoSpeechEngine
{
public:
    QStringList heard;
    int speak(const QString &text, SpeakMode mode) override
    {
        if (!text.isEmpty())
            heard << text;
        return NoSpeechEngine::speak(text, mode);
    }
};

} // namespace

class ReaderPaneFixture : public QObject
{
protected:
    QTemporaryDir m_dir;
    LibraryDb m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;
    ReaderPane *m_reader = nullptr;
    qint64 m_now = 0; // the status line's clock
    Book m_book;

    Book makeBook(const QString &name, const QStringList &headings, int bodyLines)
    {
        Book b;
        b.path = m_dir.filePath(name);
        b.lines = QStringList{u"测试之书"_s, u"楔子一行"_s, u"楔子二行"_s};
        b.starts = {1};
        for (const QString &heading : headings) {
            b.starts.append(b.lines.size());
            b.lines.append(heading);
            for (int j = 1; j <= bodyLines; ++j)
                b.lines.append(u"山间小路上行人%1之%2慢慢走着，风吹过树梢。"_s.arg(b.starts.size()).arg(j));
        }
        writeBook(b.path, b.lines);
        return b;
    }
    static QStringList headings(int count)
    {
        QStringList h;
        for (int k = 1; k <= count; ++k)
            h << u"第%1章 标题%1"_s.arg(k);
        return h;
    }
    qint64 addToShelf(const Book &b, const QString &name)
    {
        const qint64 id = m_db.insertBook(u"玄幻修真"_s, name, u"某人"_s, b.path);
        m_window->shelf()->reload();
        return id;
    }
    void startWindow()
    {
        m_window.reset();
        m_window = std::make_unique<MainWindow>(m_ctx, m_prompter);
        m_window->load();
        m_reader = m_window->reader();
        QTRY_VERIFY_WITH_TIMEOUT(m_reader->readingView()->isPageReady(), 60000);
    }
    QString expected(const Book &b, int position) const
    {
        return m_ctx.serverInfo.reader_3 + linesHtml(b.lines, b.starts.at(position - 1), b.end(position)) +
               m_ctx.serverInfo.reader_4;
    }
    // Opens a book and waits for its first entry on the page, shown as given.
    bool opens(const QString &path, const QString &firstPage)
    {
        m_window->openBook(path);
        return waitShown(m_reader, 1, firstPage);
    }
    bool opens(const Book &b) { return opens(b.path, expected(b, 1)); }
    void openMain(int position = 1)
    {
        QVERIFY(opens(m_book));
        if (position != 1) {
            m_reader->selectChapter(position);
            m_reader->ListView2_dblClick();
            QVERIFY(waitShown(m_reader, position, expected(m_book, position)));
        }
        m_prompter.clear();
    }
    QString computedStyle(const QString &property)
    {
        return js(m_reader->readingView()->webView(),
                  u"getComputedStyle(document.getElementById('Content_Txt')).%1"_s.arg(property))
            .toString();
    }

    void setUpLibraryAndWindow()
    {
        QVERIFY(m_db.open(m_dir.filePath(u"DataFile/Data.db"_s)));
        m_ctx.db = &m_db;
        m_ctx.programFolder = m_dir.path();
        m_ctx.serverInfo.reader_2 = u"<span class=\"ad\">广告</span>"_s;
        m_ctx.serverInfo.reader_3 = u"<p class=\"before\">卷首</p>"_s;
        m_ctx.serverInfo.reader_4 = u"<p class=\"after\">卷尾</p>"_s;
        m_book = makeBook(u"main.txt"_s, headings(8), 40);
        startWindow();
    }
};
