#pragma once

#include <QObject>

struct ChapterList;
class ReadingView;
class ResumeBar;

// The bar above the page for a book file that reads as no text (a program, an archive or other
// binary named ".txt"): the book is opened all the same and the bar says what it seems to be. An
// archive the shelf can unpack gets a button that hands the file to the batch import.
class NotTextBar : public QObject
{
    Q_OBJECT
public:
    NotTextBar(ReadingView *view, QObject *parent = nullptr);

    // Shown for such a book, hidden for any other.
    void bookOpened(const ChapterList &book);
    ResumeBar *bar() const { return m_bar; }

Q_SIGNALS:
    void batchImportRequested(const QStringList &paths);

private:
    ResumeBar *m_bar;
    QString m_path;
};
