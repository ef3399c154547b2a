#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QToolButton;

// The slim bar over the reading page that offers to go back to where the book was left. Other
// offers about the book on screen use the same bar with their own button.
class ResumeBar : public QFrame
{
    Q_OBJECT
public:
    explicit ResumeBar(QWidget *parent = nullptr);
    ResumeBar(const QString &buttonText, const QString &buttonTip, QWidget *parent = nullptr);

    void offer(const QString &text);
    QString text() const;
    QPushButton *resumeButton() const { return m_resume; }

Q_SIGNALS:
    // The button was clicked.
    void resumeRequested();

private:
    QLabel *m_label;
    QPushButton *m_resume;
    QToolButton *m_close;
};
