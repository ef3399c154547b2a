#pragma once

#include <QWidget>

class Prompter;
class QLineEdit;
class QPushButton;

// The keyword box and the "搜书" button at the right end of the main toolbar row. While the box
// holds no keyword it shows the hint "输入书名或作者" in grey as its text; focus takes the hint
// away and leaving an empty box puts it back. A keyword that passes the checks is handed on
// through searchRequested; a refused one gets its message and an emptied box.
class SearchPanel : public QWidget
{
    Q_OBJECT
public:
    SearchPanel(Prompter &prompter, QWidget *parent = nullptr);

    QLineEdit *keywordBox() const { return m_box; }
    QPushButton *searchButton() const { return m_button; }
    bool showsHint() const;

    // The "搜书" button.
    void searchClicked();

Q_SIGNALS:
    void searchRequested(const QString &keyword);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showHint();
    void setTextColour(const QColor &colour);

    Prompter &m_prompter;
    QLineEdit *m_box;
    QPushButton *m_button;
};
