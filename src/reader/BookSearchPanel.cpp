#include "reader/BookSearchPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTextLayout>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Draws the snippet as one line of text with the word bold in the title colour of the shelf.
class SnippetDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QStringList parts = index.data(BookSearchModel::SnippetPartsRole).toStringList();
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        if (parts.size() != 3)
            return;
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        QTextCharFormat word;
        word.setFontWeight(QFont::Bold);
        if (!selected)
            word.setForeground(QColor(198, 79, 6));
        // One layout for the whole snippet: the word follows its context with nothing between.
        QTextLayout layout(parts.join(QString()), opt.font);
        layout.setFormats({{int(parts.at(0).size()), int(parts.at(1).size()), word}});
        QTextOption wrap;
        wrap.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(wrap);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        const QRect r = opt.rect.adjusted(4, 0, -4, 0);
        painter->save();
        painter->setClipRect(r);
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        layout.draw(painter, QPointF(r.left(), r.top() + (r.height() - line.height()) / 2));
        painter->restore();
    }
};

} // namespace

BookSearchPanel::BookSearchPanel(QWidget *parent)
    : QWidget(parent), m_searcher(new BookSearcher(this)), m_model(new BookSearchModel(this))
{
    setObjectName(QStringLiteral("BookSearchPanel"));
    m_switch = new QToolButton;
    m_switch->setObjectName(QStringLiteral("WholeBookSwitch"));
    m_switch->setText(QStringLiteral("全书"));
    m_switch->setCheckable(true);
    m_switch->setToolTip(QStringLiteral("在全书中查找，列出每一处"));

    m_count = new QLabel(this);
    m_results = new QTreeView(this);
    m_results->setObjectName(QStringLiteral("BookSearchResults"));
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setModel(m_model);
    m_results->setColumnWidth(BookSearchModel::ColChapter, 180);
    m_results->setItemDelegateForColumn(BookSearchModel::ColSnippet, new SnippetDelegate(m_results));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 2, 4, 0);
    column->setSpacing(2);
    column->addWidget(m_count);
    column->addWidget(m_results, 1);
    setFixedHeight(190);
    hide();

    connect(m_switch, &QToolButton::toggled, this, [this](bool on) {
        setVisible(on);
        if (!on) {
            m_searcher->cancel();
            m_searchId = 0;
        }
    });
    connect(m_searcher, &BookSearcher::placesFound, this, &BookSearchPanel::addPlaces);
    connect(m_searcher, &BookSearcher::finished, this, &BookSearchPanel::onFinished);
    connect(m_results, &QTreeView::activated, this, [this](const QModelIndex &index) {
        if (index.isValid())
            Q_EMIT hitChosen(m_model->hit(index.row()));
    });
    connect(m_results, &QTreeView::clicked, m_results, &QTreeView::activated);
}

bool BookSearchPanel::isOn() const
{
    return m_switch->isChecked();
}

void BookSearchPanel::setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading)
{
    m_path = path;
    m_searcher->cancel();
    m_searchId = 0;
    m_model->setBook(path, entries, reading);
    m_count->clear();
    if (isOn() && !m_word.isEmpty())
        search(m_word);
}

void BookSearchPanel::setConversion(ScriptConversion conversion)
{
    if (conversion == m_conversion)
        return;
    m_conversion = conversion;
    if (conversion == ScriptConversion::None)
        m_model->setShownText(nullptr);
    else
        m_model->setShownText([conversion](const QString &text) { return ConvertScript(text, conversion); });
    if (isOn() && !m_word.isEmpty())
        search(m_word);
}

void BookSearchPanel::search(const QString &word)
{
    m_word = word;
    if (!isOn())
        return;
    // Both script forms in every mode: a Traditional book is searched in Simplified as well.
    const QStringList forms = ScriptVariants(word);
    m_model->restart(word, forms);
    if (word.isEmpty() || m_path.isEmpty()) {
        m_searcher->cancel();
        m_searchId = 0;
        m_count->clear();
        return;
    }
    m_count->setText(QStringLiteral("正在全书查找“%1”…").arg(word));
    m_searcher->setTextCleaner(m_cleanerSource ? m_cleanerSource(m_path) : nullptr);
    m_searchId = m_searcher->search(m_path, m_model->entries(), forms, m_model->reading());
}

void BookSearchPanel::addPlaces(quint64 id, const QList<BookSearchPlace> &places)
{
    if (id != m_searchId)
        return;
    m_model->addPlaces(places);
    m_count->setText(QStringLiteral("正在全书查找“%1”… 已找到 %2 处").arg(m_word).arg(m_model->placeCount()));
}

void BookSearchPanel::onFinished(quint64 id, const BookSearchOutcome &outcome)
{
    if (id != m_searchId)
        return;
    if (outcome.failed)
        m_count->setText(QStringLiteral("无法读取本书，全书查找没有完成"));
    else if (outcome.total == 0)
        m_count->setText(QStringLiteral("全书中没有找到“%1”").arg(m_word));
    else
        m_count->setText(QStringLiteral("全书共找到 %1 处“%2”").arg(outcome.total).arg(m_word));
}
