#pragma once

#include "settings/SettingsRules.h"

#include <QUrl>
#include <QWidget>

#include <functional>

class PageFindBar;
class QLabel;
class QLineEdit;
class QWebEngineView;
class ReadingPageScript;

// The reading page: Reader.html from the program folder in a web view, loaded once; the program
// only writes the text, the advertisement snippet and the styles into it (through
// ReadingPageScript). Below the page sits the find bar (PageFindBar). Whatever changes the page's
// layout (text size, window size, the chapter list's width, full screen) keeps the line at the
// top of the window there, and the page reports the place at once.
class ReadingView : public QWidget
{
    Q_OBJECT
public:
    explicit ReadingView(QWidget *parent = nullptr);

    // Writes the built-in template into the folder when it has no Reader.html and returns the
    // page to load: the folder's file, or the built-in one when the folder cannot take it.
    static QUrl templateUrl(const QString &programFolder);

    // Starts loading the page; everything written before it has loaded is kept and written then.
    void loadPage(const QString &programFolder);
    bool isPageLoaded() const { return m_loaded; }
    // Loaded and the channel is up: keys pressed inside the page reach keyPressedInPage().
    bool isPageReady() const { return m_loaded && m_bridgeReady; }

    // The server's snippets: the advertisement, and the text put before and after every piece of
    // book text.
    void setSnippets(const QString &ads, const QString &before, const QString &after);
    // Replaces the page text with before + fragment + after, scrolls to the top and takes focus.
    void showText(const QString &fragment);
    QString shownText() const { return m_text; }

    // The innerText of the page's Content element, handed to `reply` once the page answers
    // (empty when the page has not loaded or has no such element).
    void contentText(std::function<void(const QString &)> reply);
    // Selects characters start .. start+length-1 of that innerText (carriage returns removed,
    // UTF-16 units) in the page and scrolls them into view; a range the page no longer has is
    // ignored.
    void highlightContent(int start, int length);

    // That innerText and the place in it chosen with the last right-click in the page (the start
    // of the selection, or else the character clicked; -1 for none), counted as highlightContent()
    // counts.
    void chosenReadingPlace(std::function<void(const QString &, int)> reply);

    // The words from the start of the line at the top of the window on, as the last report of
    // pageScrolled() gave them; empty at the chapter's top.
    QString topWords() const { return m_topWords; }

    // Scrolls the chapter on the page: 0 its top, 1 its end.
    void scrollToFraction(double fraction);
    // Auto-scroll in the page: `linesPerMinute` lines of the page's text a minute, on its own
    // frames; past the end of a chapter keyPressedInPage(34) asks for the next one.
    void setAutoScroll(bool on, bool paused, int linesPerMinute);
    // Moves the auto-scroll on by `ms` milliseconds; from the first call on, the page's own frames
    // no longer move it and only these steps do.
    void stepAutoScroll(int ms);
    // The page's auto-scroll: running, paused, and its frames since it started: frames,
    // largestGap, crossings (of chapter ends), largestGapAtCrossing (milliseconds).
    void autoScrollState(std::function<void(const QVariantMap &)> reply);
    // Selects the occurrence-th (from 0) appearance of word in the book text on the page; the find
    // bar's count follows it.
    void highlightOccurrence(const QString &word, int occurrence);
    // Bars that belong to the reading page: above it (over its full width), or between the
    // page and the find bar.
    void insertAbovePage(QWidget *bar);
    void insertBelowPage(QWidget *panel);
    // After the find bar's own buttons.
    void addToFindBar(QWidget *widget);

    void setPageStyle(const ReadingPageStyle &style);
    ReadingPageStyle pageStyle() const { return m_style; }
    // The text size on the page in pixels: the style's own size unless its look sets one.
    int textSizePx() const;
    // Asks for the text size `steps` sizes larger (smaller when negative), or for the saved size
    // when 0, through textSizeRequested(); the size arrives with the next page style. The web
    // view's own zoom is never used: Ctrl+wheel comes here too.
    void zoomText(int steps);

    void openFindBar();
    void closeFindBar();
    bool findBarVisible() const;
    void findNext(bool backward = false);

    QWebEngineView *webView() const { return m_web; }
    QWidget *findBar() const;
    QLineEdit *findBox() const;
    QLabel *findStatus() const;

Q_SIGNALS:
    void pageReady();
    // Keys without modifiers: 37 (left), 39 (right) and 13 (Enter) always; 34 for PageDown or
    // Space with the chapter scrolled to its end, 33 for PageUp at its top (the page scrolls
    // itself otherwise).
    void keyPressedInPage(int keyCode);
    // The reader scrolled the text now on the page: top is how far down (0..1), seen the share
    // of the chapter above the bottom of the window. A few reports a second at most.
    void pageScrolled(double top, double seen);
    void findBarClosed();
    // Right-click inside the page, at this global position; the browser's own menu never shows.
    void contextMenuRequested(const QPoint &globalPos);
    // Text size for the look, in pixels; 0 for the size of the saved settings.
    void textSizeRequested(int px);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onLoadFinished(bool ok);
    void writeText();
    void writeStyle();
    void runScript(const QString &script);
    // Runs `script`, handing its value to `reply`; before the page has loaded `reply` gets
    // `none` at once.
    void askPage(const QString &script, const QVariant &none, std::function<void(const QVariant &)> reply);

    QWebEngineView *m_web;
    ReadingPageScript *m_script;
    PageFindBar *m_findBar;
    QUrl m_pageUrl;
    bool m_loaded = false;
    bool m_bridgeReady = false;
    bool m_textPending = false;
    bool m_textShown = false;
    int m_textGeneration = 0;
    double m_scrollPending = 0; // asked for before the page had loaded
    QString m_ads, m_before, m_after;
    QString m_text; // what TXT holds, or is to hold once the page has loaded
    QString m_topWords;
    int m_wheelZoom = 0; // Ctrl+wheel turned short of a whole notch
    ReadingPageStyle m_style;
};
