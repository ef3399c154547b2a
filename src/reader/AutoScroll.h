#pragma once

#include <QKeySequence>
#include <QObject>

class LibraryDb;
class QAction;
class QMenu;
class ReaderPane;
class ReadingView;

// "自动翻页": the page scrolls itself at the speed the reader set (lines a minute, kept in the
// library), going on into the next chapter at the end of one as PageDown does. Started and
// stopped with the reading menu's item or F9. While it runs, Space pauses and resumes it and +/-
// change the speed; a wheel, a click on the page or any other key stops it (that key still does
// what it always does). At the end of the last chapter it stops and says so. While it is off, no
// key changes its meaning.
class AutoScroll : public QObject
{
    Q_OBJECT
public:
    static constexpr int MinSpeed = 2;
    static constexpr int MaxSpeed = 300;
    static constexpr int DefaultSpeed = 20;
    static constexpr int SpeedStep = 2;
    static QKeySequence key() { return QKeySequence(Qt::Key_F9); }
    static QString speedOption() { return QStringLiteral("AutoScrollSpeed"); }

    AutoScroll(ReaderPane &pane, ReadingView *view, LibraryDb &db);
    ~AutoScroll() override;

    // Puts the item at the end of the reading menu.
    void addTo(QMenu *menu);
    QAction *action() const { return m_action; }

    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_paused; }
    int speed() const { return m_speed; }

    void start();
    void stop();
    void toggle();
    void togglePause();
    // Lines a minute, within MinSpeed .. MaxSpeed; kept for the next time.
    void setSpeed(int linesPerMinute);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stop(const QString &why);
    void tellPage();
    void note(const QString &text);
    void onPageKey(int keyCode);

    ReaderPane &m_pane;
    ReadingView *m_view;
    LibraryDb &m_db;
    QAction *m_action;
    bool m_running = false;
    bool m_paused = false;
    int m_speed = DefaultSpeed;
    int m_onPage = 0; // the chapter on the page
};
