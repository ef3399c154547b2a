#include "reader/PageFindBar.h"

#include "platform/ChineseScript.h"
#include "reader/ReadingPageScript.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

PageFindBar::PageFindBar(ReadingPageScript &page, QWidget *parent) : QWidget(parent), m_page(page)
{
    setObjectName(QStringLiteral("FindBar"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    m_box = new QLineEdit(this);
    m_box->setPlaceholderText(QStringLiteral("查找内容"));
    m_box->setClearButtonEnabled(true);
    m_box->installEventFilter(this);
    auto *previous = new QToolButton(this);
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip(QStringLiteral("查找上一个"));
    auto *next = new QToolButton(this);
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(QStringLiteral("查找下一个"));
    m_status = new QLabel(this);
    m_status->setMinimumWidth(90);
    auto *closeButton = new QToolButton(this);
    closeButton->setText(QStringLiteral("关闭"));
    closeButton->setAutoRaise(true);
    row->addWidget(new QLabel(QStringLiteral("查找："), this));
    row->addWidget(m_box, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(m_status);
    row->addWidget(closeButton);
    hide();

    connect(m_box, &QLineEdit::textChanged, this, [this] {
        m_index = -1;
        findNext();
    });
    connect(m_box, &QLineEdit::returnPressed, this, [this] { findNext(); });
    connect(previous, &QToolButton::clicked, this, [this] { findNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { findNext(); });
    connect(closeButton, &QToolButton::clicked, this, &PageFindBar::closeBar);
}

void PageFindBar::openBar()
{
    show();
    m_box->setFocus();
    m_box->selectAll();
    if (!m_box->text().isEmpty())
        findNext();
}

void PageFindBar::closeBar()
{
    hide();
    ++m_request;
    m_index = -1;
    m_page.run(QStringLiteral("typeof folioway === 'object' && folioway.clearSelection()"));
    m_status->clear();
    Q_EMIT closed();
}

void PageFindBar::findNext(bool backward)
{
    if (m_box->text().isEmpty()) {
        ++m_request;
        m_index = -1;
        m_page.run(QStringLiteral("typeof folioway === 'object' && folioway.clearSelection()"));
        m_status->clear();
        return;
    }
    // Counted round: before the first comes the last.
    ask(m_index < 0 ? (backward ? -1 : 0) : m_index + (backward ? -1 : 1), -1);
}

void PageFindBar::followSelection(int at)
{
    if (!m_box->text().isEmpty() && at >= 0)
        ask(0, at);
}

void PageFindBar::ask(int n, int at)
{
    const quint64 request = ++m_request;
    const QString script = QStringLiteral("typeof folioway === 'object' ? folioway.find(%1, %2, %3) : null")
                               .arg(ReadingPageScript::jsStrings(ScriptVariants(m_box->text())))
                               .arg(n)
                               .arg(at);
    m_page.run(script, [this, request](const QVariant &answer) {
        if (request != m_request)
            return; // a newer search, or the bar was closed
        const QVariantMap found = answer.toMap();
        const int count = found.value(QStringLiteral("count")).toInt();
        m_index = count > 0 ? found.value(QStringLiteral("index")).toInt() : -1;
        m_status->setText(count > 0 ? QStringLiteral("第 %1/%2 处").arg(m_index + 1).arg(count)
                                    : QStringLiteral("未找到"));
    });
}

void PageFindBar::addWidget(QWidget *widget)
{
    auto *row = static_cast<QHBoxLayout *>(layout());
    row->insertWidget(row->count() - 1, widget); // before "关闭"
}

bool PageFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_box && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            closeBar();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers().testFlag(Qt::ShiftModifier)) {
            findNext(true);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
