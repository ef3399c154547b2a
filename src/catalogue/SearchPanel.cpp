#include "catalogue/SearchPanel.h"

#include "catalogue/CatalogueNavigation.h"
#include "platform/Prompter.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

SearchPanel::SearchPanel(Prompter &prompter, QWidget *parent) : QWidget(parent), m_prompter(prompter)
{
    setObjectName(QStringLiteral("SearchPan"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_box = new QLineEdit(this);
    m_box->setObjectName(QStringLiteral("SearchKey"));
    m_button = new QPushButton(QStringLiteral("搜书"), this);
    m_button->setObjectName(QStringLiteral("SearchButton"));
    row->addWidget(m_box, 1);
    row->addWidget(m_button);
    showHint();
    m_box->installEventFilter(this);

    connect(m_button, &QPushButton::clicked, this, &SearchPanel::searchClicked);
    connect(m_box, &QLineEdit::returnPressed, this, [this] {
        m_button->setFocus();
        searchClicked();
    });
}

bool SearchPanel::showsHint() const
{
    return m_box->text() == SearchPlaceholder();
}

void SearchPanel::showHint()
{
    m_box->setText(SearchPlaceholder());
    setTextColour(QColor(128, 128, 128));
}

void SearchPanel::setTextColour(const QColor &colour)
{
    QPalette p = m_box->palette();
    p.setColor(QPalette::Text, colour);
    m_box->setPalette(p);
}

void SearchPanel::searchClicked()
{
    const SearchStep step = CheckSearchKeyword(m_box->text());
    if (!step.keyword) {
        m_prompter.message(step.message, Prompter::Icon::Exclamation);
        m_box->clear();
        return;
    }
    Q_EMIT searchRequested(*step.keyword);
}

bool SearchPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_box) {
        if (event->type() == QEvent::FocusIn && showsHint()) {
            m_box->clear();
            setTextColour(Qt::black);
        } else if (event->type() == QEvent::FocusOut && m_box->text().isEmpty()) {
            showHint();
        }
    }
    return QWidget::eventFilter(watched, event);
}
