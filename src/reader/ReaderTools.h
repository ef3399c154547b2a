#pragma once

#include "platform/ChineseScript.h"
#include "reader/ReaderCommands.h"
#include "text/Chapters.h"
#include "text/TextRules.h"

#include <QObject>

#include <optional>

class BookSearchPanel;
class ChapterRulesWindow;
class LibraryDb;
class QAction;
class QMenu;
class QToolBar;
class QToolButton;
class ReaderPage;
class ReaderPane;
class ReadingView;
class ResumeBar;
class SpeechEngine;
class TextRulesWindow;
class VoiceController;

// The reading tab's tools beside moving between chapters, behind the toolbar and reading menu
// (ReaderCommands, whose reading menu they add their items to): finding
// (on the page and in the whole book), reading aloud with its voice panel, and how each book is
// read ("智能分章", a chosen encoding), remembered per book.
class ReaderTools : public QObject
{
    Q_OBJECT
public:
    // Puts the smart-chapters bar above the page and the whole-book search below it.
    ReaderTools(ReaderPane &pane, ReaderPage &page, ReadingView *view, LibraryDb &db);
    // Fills the toolbar and makes the reading menu and Ctrl+F.
    void addCommands(QToolBar *toolbar);

    QAction *toolAction(int position) const { return m_commands->toolAction(position); }
    QToolButton *toolButton(int position) const { return m_commands->toolButton(position); }
    QMenu *bookmarkMenu() const { return m_commands->bookmarkMenu(); }
    QMenu *readingMenu() const { return m_commands->readingMenu(); }
    QAction *readingMenuItem(const QString &name) const { return m_commands->readingMenuItem(name); }

    BookSearchPanel *bookSearch() const { return m_search; }
    void openFind();

    // Through `engine`, which the caller owns; without one the three voice buttons are disabled.
    void setSpeechEngine(SpeechEngine *engine);
    VoiceController *voiceController() const { return m_voice; }
    QWidget *voicePanel() const { return m_voicePanel; }

    ResumeBar *smartBar() const { return m_smartBar; }
    BookReading storedReading(const QString &path) const;
    void setSmartChapters(bool on);
    void setBookEncoding(std::optional<TextEncoding> encoding);
    // The book's own heading expression; empty for the built-in rule.
    void setChapterRule(const QString &expression);
    // Made on first use, for the book on the page.
    ChapterRulesWindow *chapterRulesWindow();
    // The reading menu's marks and the smart-chapters offer for a book just listed.
    void showReadingMode(const ChapterList &list);
    // 原文 / 转为简体 / 转为繁体, kept per book; the page is shown again where it was.
    ScriptConversion storedConversion(const QString &path) const;
    void setConversion(ScriptConversion conversion);
    // The clean-up rules window, over the pane, for the book on the page; rules changed there
    // apply to the chapter on the page at once.
    TextRulesWindow *openTextRules();

    // Whether the book listed next should skip an empty first chapter (a switch to smart mode).
    bool takeSkipEmptyFirst() { return std::exchange(m_skipEmptyFirst, false); }

private:
    void addReadingModeItems();
    void reopenWith(const BookReading &reading);
    void addConversionItems();
    void applyConversion(ScriptConversion conversion);
    // Reading aloud came to the end of the chapter: the next one is shown and read.
    void readOnIntoNextChapter();
    void applyTextRules();
    // The clean-up rules of the book at `path`, made once for as long as the rules stay the same.
    std::shared_ptr<const TextCleaner> textCleaner(const QString &path);

    ReaderPane &m_pane;
    ReaderPage &m_page;
    ReadingView *m_view;
    LibraryDb &m_db;
    ReaderCommands *m_commands = nullptr;
    BookSearchPanel *m_search;

    ResumeBar *m_smartBar;
    QMenu *m_encodingMenu = nullptr;
    QMenu *m_conversionMenu = nullptr;
    double m_scrolledTo = 0;       // how far down the shown chapter the reader is
    ChapterRulesWindow *m_rulesWindow = nullptr;
    bool m_skipEmptyFirst = false; // a switch to smart mode shows the first chapter with text

    VoiceController *m_voice = nullptr;
    QWidget *m_voicePanel = nullptr;
    bool m_readOnPending = false; // read the next chapter aloud once it is on the page
    QMetaObject::Connection m_engineGone;
    QStringList m_reportedStops; // rules already reported as too slow: once each while the program runs
    struct
    {
        bool made = false;
        QString path;
        QList<TextRule> rules;
        std::shared_ptr<const TextCleaner> cleaner;
    } m_cleaner; // the last one made
};
