#include "reader/BookSearchModel.h"

BookSearchModel::BookSearchModel(QObject *parent) : QAbstractTableModel(parent) {}

void BookSearchModel::setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading)
{
    m_path = path;
    m_entries = entries;
    m_reading = reading;
    restart(m_word);
}

void BookSearchModel::restart(const QString &word, const QStringList &forms)
{
    beginResetModel();
    m_word = word;
    m_forms = forms;
    m_places.clear();
    m_describedRows = 0;
    m_snippetsOpen = false;
    m_described.clear();
    endResetModel();
}

void BookSearchModel::setShownText(std::function<QString(const QString &)> shown)
{
    beginResetModel();
    m_shownText = std::move(shown);
    endResetModel();
}

void BookSearchModel::addPlaces(const QList<BookSearchPlace> &places)
{
    if (places.isEmpty())
        return;
    const int first = int(m_places.size());
    beginInsertRows({}, first, first + int(places.size()) - 1);
    m_places.insert(m_places.end(), places.cbegin(), places.cend());
    endInsertRows();
}

BookSearchHit BookSearchModel::hit(int row) const
{
    if (row < 0 || row >= placeCount())
        return {};
    if (const BookSearchHit *known = m_described.object(row))
        return *known;
    if (!m_snippetsOpen)
        m_snippetsOpen = m_snippets.open(m_path, m_reading);
    auto *described = new BookSearchHit(
        m_snippets.describe(m_places[size_t(row)], m_forms.value(m_places[size_t(row)].word, m_word)));
    ++m_describedRows;
    const BookSearchHit copy = *described;
    m_described.insert(row, described);
    return copy;
}

int BookSearchModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(placeCount());
}

int BookSearchModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BookSearchModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= placeCount())
        return {};
    const auto shown = [this](const QString &text) { return m_shownText ? m_shownText(text) : text; };
    if (index.column() == ColChapter && (role == Qt::DisplayRole || role == Qt::ToolTipRole)) {
        const int chapter = m_places[size_t(index.row())].chapter;
        return chapter >= 1 && chapter <= m_entries.size() ? shown(m_entries.at(chapter - 1).title) : QString();
    }
    if (index.column() == ColSnippet && role == Qt::DisplayRole) {
        const BookSearchHit h = hit(index.row());
        return shown(h.before + h.word + h.after);
    }
    if (index.column() == ColSnippet && role == SnippetPartsRole) {
        const BookSearchHit h = hit(index.row());
        return QStringList{shown(h.before), shown(h.word), shown(h.after)};
    }
    return {};
}

QVariant BookSearchModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == ColChapter ? QStringLiteral("章节") : QStringLiteral("内容");
}
