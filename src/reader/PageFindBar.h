#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class ReadingPageScript;

// The find bar below the reading page. It finds in the book text on the page the typed words in
// every form they take (as typed, Simplified and Traditional), so a book shown converted, or a
// Traditional book searched in Simplified, finds what the page shows; the chosen match is
// selected and scrolled into view, and the bar counts "第 n/m 处".
class PageFindBar : public QWidget
{
    Q_OBJECT
public:
    PageFindBar(ReadingPageScript &page, QWidget *parent);

    void openBar();
    void closeBar();
    // Shows the next match (the previous one with `backward`); the first after a new text.
    void findNext(bool backward = false);
    // A match was selected on the page from elsewhere (a whole-book hit), starting at `at` in
    // the book text: the count follows it.
    void followSelection(int at);
    // The page has new text: the next search starts from its first match.
    void pageChanged() { m_index = -1; }
    // After the bar's own buttons.
    void addWidget(QWidget *widget);

    QLineEdit *box() const { return m_box; }
    QLabel *status() const { return m_status; }

Q_SIGNALS:
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ask(int n, int at);

    ReadingPageScript &m_page;
    QLineEdit *m_box;
    QLabel *m_status;
    int m_index = -1; // the match selected, -1 before the first
    quint64 m_request = 0;
};
