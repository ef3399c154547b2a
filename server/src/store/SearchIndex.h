#pragma once

#include <QString>
#include <QStringView>

#include <span>
#include <vector>

// The public books' titles and authors in memory, for the catalogue search: which books hold
// a key anywhere in their title or author. Every single character and every pair of
// neighbouring characters of a field has a list of the books holding it, so one- and
// two-character keys, the usual Chinese searches, are answered by one list, and longer keys by
// the books found in the lists of all their pairs, checked against the text.
//
// Books are added newest first (descending id) and every list keeps that order, so a page of
// answers is a slice of the result. Texts and keys come in already folded to the letter case
// the database's own match ignores; the index compares characters exactly. A snapshot is
// immutable once finished and may be read by any number of threads.
class SearchIndex
{
public:
    explicit SearchIndex(qint64 version) : m_version(version) {}

    // The catalogue version the snapshot was read at.
    qint64 version() const { return m_version; }

    void reserve(qsizetype books);
    // In descending id order.
    void add(qint64 id, QStringView name, QStringView author);
    // Builds the lists; nothing may be added afterwards.
    void finish();

    // Positions of the books (see id()) whose title or author holds key, newest first. The key
    // must not be unsearchable().
    class Hits
    {
    public:
        Hits() = default;
        Hits(Hits &&) = default; // the view may point into the owned list
        Hits(const Hits &) = delete;
        qsizetype size() const { return m_view.size(); }
        quint32 operator[](qsizetype i) const { return m_view[size_t(i)]; }

    private:
        friend class SearchIndex;
        std::span<const quint32> m_view;
        std::vector<quint32> m_owned;
    };
    Hits find(QStringView key) const;
    qint64 id(quint32 position) const { return m_ids[position]; }
    qsizetype books() const { return qsizetype(m_ids.size()); }
    // Bytes held, for the operator's figures.
    qsizetype bytes() const;

    // Whether key holds what the index cannot answer for: control characters, which it could
    // not tell apart from the breaks between fields, or broken UTF-16.
    static bool unsearchable(QStringView key);
    // ASCII letters to lower case and nothing else, as SQLite's LIKE compares them.
    static QString foldAscii(QString text);
    // Whether key holds a letter with case beyond ASCII, whose folding only the database knows.
    static bool hasOtherCase(QStringView key);

private:
    std::span<const quint32> list(quint32 gram) const;
    template<typename Visit>
    void grams(quint32 position, Visit &&visit) const;

    qint64 m_version;
    std::vector<qint64> m_ids;
    std::vector<char16_t> m_text;  // each book's title, a 0, its author, a 0
    std::vector<quint32> m_starts; // where each book's text begins, and one past the last
    std::vector<quint32> m_grams;  // sorted: a character c as c, a pair (a, b) as a << 16 | b
    std::vector<quint32> m_offsets; // m_grams[i]'s list is m_postings[m_offsets[i] .. m_offsets[i + 1])
    std::vector<quint32> m_postings;
};
