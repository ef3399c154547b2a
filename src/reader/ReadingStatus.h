#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QTimer;
class ReaderPage;
class ReadingView;

// The share of the chapter above the window, from how far down the page is scrolled (`top`, 0..1
// of the scroll range) and the share above the window's bottom (`seen`).
double ShareAboveWindow(double top, double seen);

// How fast this reader reads this book, learnt from their scrolling since it was opened, in
// characters a second. Only stretches that look like reading count: forward inside one chapter,
// at most three minutes between two reports (longer is a pause) and at most 25 characters a
// second (faster is skimming or a jump). There is no pace until two minutes of that have been
// seen, so a guess is never shown as an estimate.
class ReadingPace
{
public:
    // The reader is `charsSeen` characters into chapter `chapter` at `ms` (any monotonic clock).
    void moved(qint64 ms, int chapter, double charsSeen);
    // The next report starts a new stretch (another chapter or place was opened).
    void breakStretch() { m_lastMs = -1; }
    std::optional<double> charsPerSecond() const;

private:
    qint64 m_lastMs = -1;
    int m_lastChapter = 0;
    double m_lastChars = 0;
    double m_seconds = 0;
    double m_chars = 0;
};

// The thin line under the reading page: the chapter on screen, its place in the list ("x / N"),
// how much of the book lies above the bottom of the window, and, once the reader's pace is known,
// about how long the rest of the chapter takes. A passing note (a bookmark set from the
// keyboard) takes the right end of the line for a few seconds or until another chapter shows.
//
// In full screen the line shows only while the pointer is near the bottom of the page.
class ReadingStatus : public QWidget
{
    Q_OBJECT
public:
    // Put at the bottom of `view`.
    ReadingStatus(ReaderPage &page, ReadingView *view);

    void setFullScreen(bool on);
    void showNote(const QString &note);

    QString placeText() const;
    QString noteText() const;
    // Milliseconds of a monotonic clock; tests give their own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onTextShown(int position, double scroll);
    void onScrolled(double top, double seen);
    void refresh();
    // How much of the chapter lies above the top of the window, 0..1.
    double shareAboveWindow() const;

    ReaderPage &m_page;
    ReadingView *m_view;
    QLabel *m_place;
    QLabel *m_note;
    QTimer *m_noteTimer;
    QString m_noteShown;
    ReadingPace m_pace;
    QElapsedTimer m_elapsed;
    std::function<qint64()> m_clock;
    QString m_book;
    int m_chapter = 0;
    double m_chapterChars = 0;
    double m_top = 0;
    double m_seen = 0;
    bool m_fullScreen = false;
};
