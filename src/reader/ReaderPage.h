#pragma once

#include "platform/ChineseScript.h"
#include "text/Chapters.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>

class ChapterJumpBox;
class Prompter;
class QColor;
class QIcon;
class QPainterPath;
class QTreeWidget;
class ReadingView;
class TextCleaner;
struct BookSearchHit;

// The reading tab's drawn 16×16 icons: `path` filled with `colour` on a transparent square.
QIcon DrawnReaderIcon(const QPainterPath &path, const QColor &colour);

// The chapter list beside the reading page and the chapter on the page: which entry is selected,
// which one is shown (marked in the list), and moving between them. The shown chapter is cut out
// of the file on a worker thread, and the newest request always wins.
class ReaderPage : public QObject
{
    Q_OBJECT
public:
    ReaderPage(ReadingView *view, Prompter &prompter, QObject *parent = nullptr);
    // The chapter list and the chapter box, children of the pane, each made where the pane's Tab
    // order wants it.
    void addChapterList(QWidget *pane);
    void addChapterJump(QWidget *pane);

    // Image keys of the chapter list's icons, kept in each item's IconKeyRole.
    static constexpr int IconKeyRole = Qt::UserRole + 1;
    static QString nowChapterKey() { return QStringLiteral("NowChapter"); }
    static QString spaceKey() { return QStringLiteral("Space"); }

    QTreeWidget *chapterList() const { return m_list; }
    ChapterJumpBox *chapterJump() const { return m_jump; }

    // The book on screen: its path, its chapters and how it is read. A new book shows nothing yet.
    void setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading);
    QString path() const { return m_path; }
    const QList<ChapterEntry> &entries() const { return m_entries; }
    BookReading reading() const { return m_reading; }
    // The script the chapter list and the chapters are shown in (the file and the entries stay
    // as they are); applies to the list at once and to the next chapter shown. A new book's list
    // is shown as it stands until this is called.
    void setConversion(ScriptConversion conversion);
    ScriptConversion conversion() const { return m_conversion; }
    // The title of the entry at `position` as the list shows it.
    QString shownTitle(int position) const;

    // 1-based positions; 0 when there is none.
    int selected() const;
    int shown() const { return m_shown; }
    void select(int position);
    // Selects `position`; showing it next scrolls it `fraction` of the way down.
    void prepare(int position, double fraction);
    // Shows the selected entry (the first when none is).
    void showSelected();
    // Shows the chapter at `position` scrolled `fraction` of the way down (0 top, 1 end).
    void showAt(int position, double fraction);
    // Shows the hit's chapter with the hit selected on the page.
    void showHit(const BookSearchHit &hit);
    // 37 previous, 39 next; 13 and anything else do nothing.
    void keyNavigation(int keyCode);
    void first();
    void last();
    void openJump();

    // A chapter is being cut out of the file.
    bool isFetching() const { return m_fetching; }

    // Where the clean-up rules of a book come from; asked again for every chapter shown and on
    // reloadTextCleaner(). Without a source, or with no rule on, chapters are shown as they stand.
    using TextCleanerSource = std::function<std::shared_ptr<const TextCleaner>(const QString &path)>;
    void setTextCleanerSource(TextCleanerSource source);
    void reloadTextCleaner();
    Prompter &prompter() const { return m_prompter; }

Q_SIGNALS:
    void fetchingChanged();
    // The reader asked for `position` by showAt() or showHit(); atTop when it opens at its top.
    void jumping(int position, bool atTop);
    // The chapter's text is on the page, not yet scrolled to `scroll` nor highlighted.
    void textShown(int position, double scroll);
    // The chapter's text is on the page and scrolled or highlighted as asked.
    void chapterShown(int position);
    // Clean-up rules (by name) that ran over their budget on the chapter just shown and were left out.
    void textRulesStopped(const QStringList &names);

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void markShown(int position);
    void onPageKey(int keyCode);

    ReadingView *m_view;
    Prompter &m_prompter;
    QTreeWidget *m_list = nullptr;
    ChapterJumpBox *m_jump = nullptr;
    QThreadPool m_pool;
    quint64 m_request = 0;
    bool m_fetching = false;

    QString m_path;
    QList<ChapterEntry> m_entries;
    BookReading m_reading;
    ScriptConversion m_conversion = ScriptConversion::None;
    ScriptConversion m_titlesIn = ScriptConversion::None; // the script of the list's titles
    int m_shown = 0;
    TextCleanerSource m_cleanerSource;
    std::shared_ptr<const TextCleaner> m_cleaner;

    // What to do to the next chapter once it is on the page.
    double m_scrollAfterShow = 0;
    QString m_highlightAfterShow; // as the page shows it
    QString m_highlightInFile;    // as the file spells it, for the clean-up rules
    int m_highlightOccurrence = 0;
};
