#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QToolButton;

// The slim bar over the reading page that offers to go back to where the book was left.
class ResumeBar : public QFrame
{
    Q_OBJECT
public:
    explicit ResumeBar(QWidget *parent = nullptr);

    void offer(const QString &text);
    QString text() const;
    QPushButton *resumeButton() const { return m_resume; }

Q_SIGNALS:
    void resumeRequested();

private:
    QLabel *m_label;
    QPushButton *m_resume;
    QToolButton *m_close;
};
