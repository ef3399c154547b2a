#include "reader/ChapterJumpBox.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace {
constexpr int PositionRole = Qt::UserRole;
constexpr int TitleRole = Qt::UserRole + 1;
}

ChapterJumpBox::ChapterJumpBox(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("ChapterJumpBox"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true); // it lies over the page
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->addWidget(new QLabel(QStringLiteral("转到章节："), this));
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("输入章节名称中的字或章节序号"));
    m_filter->setClearButtonEnabled(true);
    m_filter->installEventFilter(this);
    m_list = new QListWidget(this);
    m_list->setUniformItemSizes(true);
    column->addWidget(m_filter);
    column->addWidget(m_list, 1);
    connect(m_filter, &QLineEdit::textChanged, this, &ChapterJumpBox::refilter);
    connect(m_list, &QListWidget::itemActivated, this, &ChapterJumpBox::choose);
    hide();
}

void ChapterJumpBox::open(const QList<ChapterEntry> &entries, int current)
{
    m_list->clear();
    for (const ChapterEntry &e : entries) {
        auto *item = new QListWidgetItem(QStringLiteral("%1  %2").arg(e.number).arg(e.title), m_list);
        item->setData(PositionRole, e.number);
        item->setData(TitleRole, e.title);
    }
    m_filter->clear();
    if (QListWidgetItem *item = m_list->item(current - 1))
        m_list->setCurrentItem(item);
    show();
    raise();
    m_filter->setFocus();
}

void ChapterJumpBox::refilter(const QString &text)
{
    const QString wanted = text.trimmed();
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber);
    QListWidgetItem *first = nullptr;
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *item = m_list->item(i);
        const bool match = wanted.isEmpty() || (isNumber && item->data(PositionRole).toInt() == number) ||
                           item->data(TitleRole).toString().contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!match);
        if (match && !first)
            first = item;
    }
    if (first && !wanted.isEmpty())
        m_list->setCurrentItem(first);
}

void ChapterJumpBox::choose()
{
    QListWidgetItem *item = m_list->currentItem();
    if (!item || item->isHidden())
        return;
    hide();
    Q_EMIT chapterChosen(item->data(PositionRole).toInt());
}

bool ChapterJumpBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_filter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape) {
            hide();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            choose();
            return true;
        }
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            // Steps through the rows still shown, from the filter box.
            int row = m_list->currentRow();
            const int step = key == Qt::Key_Down ? 1 : -1;
            for (int r = row + step; r >= 0 && r < m_list->count(); r += step) {
                if (!m_list->item(r)->isHidden()) {
                    m_list->setCurrentRow(r);
                    break;
                }
            }
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
