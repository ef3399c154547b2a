#pragma once

#include "reader/BookSearch.h"

#include <QAbstractTableModel>
#include <QCache>

#include <functional>

#include <vector>

// The places a whole-book search found, as rows (chapter title, snippet): every place is a row
// as soon as it is found, kept compactly, so a view's scroll bar spans every match and its end is
// the last one; a row's snippet is read from the book only when the view asks for it (the rows
// on screen), so hundreds of thousands of matches cost no more than the screen shown.
class BookSearchModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColChapter, ColSnippet, ColumnCount };
    // On the snippet column: the text before the word, the word and the text after, as a list.
    static constexpr int SnippetPartsRole = Qt::UserRole;

    explicit BookSearchModel(QObject *parent = nullptr);

    // The book the places will be in; drops the rows.
    void setBook(const QString &path, const QList<ChapterEntry> &entries, const BookReading &reading = {});
    // Drops the rows; the places to come are those of `word`, or of any of `forms` (the word
    // searched together with its other forms, BookSearchPlace::word telling which).
    void restart(const QString &word, const QStringList &forms = {});
    // How titles and snippets are shown (the book's script conversion); as they stand by default.
    void setShownText(std::function<QString(const QString &)> shown);
    void addPlaces(const QList<BookSearchPlace> &places);

    const QList<ChapterEntry> &entries() const { return m_entries; }
    const BookReading &reading() const { return m_reading; }
    qsizetype placeCount() const { return qsizetype(m_places.size()); }
    BookSearchHit hit(int row) const;
    // Rows whose snippet was read from the book since the last restart().
    int describedRows() const { return m_describedRows; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString m_path;
    QList<ChapterEntry> m_entries;
    BookReading m_reading;
    QString m_word;
    QStringList m_forms;
    std::function<QString(const QString &)> m_shownText;
    std::vector<BookSearchPlace> m_places;
    mutable int m_describedRows = 0;
    mutable BookSnippets m_snippets;
    mutable bool m_snippetsOpen = false;
    mutable QCache<int, BookSearchHit> m_described{1024};
};
