#pragma once

#include "platform/ChineseScript.h"
#include "reader/BookSearchModel.h"

#include <QWidget>

class QLabel;
class QToolButton;
class QTreeView;

// Whole-book search: the "全书" switch of the find bar and, while it is on, the list of every
// place the find box's text stands in the book, filled as the search goes (the list offers more
// rows as they are found, however many there are). Each new text cancels the search before it.
class BookSearchPanel : public QWidget
{
    Q_OBJECT
public:
    explicit BookSearchPanel(QWidget *parent = nullptr);

    // Goes into the find bar; the panel shows while it is checked.
    QToolButton *wholeBookSwitch() const { return m_switch; }
    bool isOn() const;
    // The book the next search runs over; drops the results of the previous one.
    void setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading = {});
    // With a conversion the results are shown converted. A word is always searched in both
    // scripts, so that what the page shows is found whichever form the file holds.
    void setConversion(ScriptConversion conversion);
    // Where the clean-up rules of a book come from, asked at every search: a match they take
    // off the page is not listed. None by default.
    using TextCleanerSource = std::function<std::shared_ptr<const TextCleaner>(const QString &path)>;
    void setTextCleanerSource(TextCleanerSource source) { m_cleanerSource = std::move(source); }
    // Searches when the switch is on; an empty word only clears the list.
    void search(const QString &word);

    QTreeView *results() const { return m_results; }
    BookSearchModel *model() const { return m_model; }
    QLabel *countLabel() const { return m_count; }
    BookSearcher *searcher() const { return m_searcher; }

Q_SIGNALS:
    void hitChosen(const BookSearchHit &hit);

private:
    void addPlaces(quint64 id, const QList<BookSearchPlace> &places);
    void onFinished(quint64 id, const BookSearchOutcome &outcome);

    BookSearcher *m_searcher;
    QToolButton *m_switch;
    QLabel *m_count;
    BookSearchModel *m_model;
    QTreeView *m_results;
    QString m_path;
    QString m_word;
    quint64 m_searchId = 0;
    ScriptConversion m_conversion = ScriptConversion::None;
    TextCleanerSource m_cleanerSource;
};
