#include "reader/ResumeBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

ResumeBar::ResumeBar(QWidget *parent)
    : ResumeBar(QStringLiteral("继续阅读"), QStringLiteral("回到上次读到的地方"), parent)
{}

ResumeBar::ResumeBar(const QString &buttonText, const QString &buttonTip, QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("ResumeBar"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0xFF, 0xF6, 0xD5));
    setPalette(p);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 2, 4, 2);
    m_label = new QLabel(this);
    m_resume = new QPushButton(buttonText, this);
    m_resume->setObjectName(QStringLiteral("ResumeButton"));
    m_resume->setToolTip(buttonTip);
    // Enter takes the offer only while the bar has the focus itself (a click on it gives it),
    // never from inside the page.
    m_resume->setAutoDefault(true);
    setFocusPolicy(Qt::ClickFocus);
    setFocusProxy(m_resume);
    m_close = new QToolButton(this);
    m_close->setText(QStringLiteral("×"));
    m_close->setToolTip(QStringLiteral("关闭"));
    m_close->setAutoRaise(true);
    row->addWidget(m_label);
    row->addSpacing(8);
    row->addWidget(m_resume);
    row->addStretch(1);
    row->addWidget(m_close);
    connect(m_resume, &QPushButton::clicked, this, &ResumeBar::resumeRequested);
    connect(m_close, &QToolButton::clicked, this, &QWidget::hide);
    hide();
}

void ResumeBar::offer(const QString &text)
{
    m_label->setText(text);
    show();
}

QString ResumeBar::text() const
{
    return m_label->text();
}
