#include "store/SearchIndex.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <utility>

namespace {

// A number for every gram, in open addressing: no gram is 0, so 0 marks a free slot.
class GramTable
{
public:
    quint32 &operator[](quint32 gram)
    {
        if (m_used * 2 >= m_keys.size())
            grow();
        size_t i = slot(gram);
        if (m_keys[i] == 0) {
            m_keys[i] = gram;
            ++m_used;
        }
        return m_values[i];
    }
    template<typename Visit>
    void forEach(Visit &&visit)
    {
        for (size_t i = 0; i < m_keys.size(); ++i) {
            if (m_keys[i] != 0)
                visit(m_keys[i], m_values[i]);
        }
    }
    size_t size() const { return m_used; }

private:
    size_t slot(quint32 gram) const
    {
        const size_t mask = m_keys.size() - 1;
        size_t i = (gram * 0x9E3779B1u) & mask;
        while (m_keys[i] != 0 && m_keys[i] != gram)
            i = (i + 1) & mask;
        return i;
    }
    void grow()
    {
        std::vector<quint32> keys(std::max<size_t>(1024, m_keys.size() * 2)), values(keys.size());
        std::swap(keys, m_keys);
        std::swap(values, m_values);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] != 0) {
                const size_t to = slot(keys[i]);
                m_keys[to] = keys[i];
                m_values[to] = values[i];
            }
        }
    }

    std::vector<quint32> m_keys, m_values;
    size_t m_used = 0;
};

} // namespace

void SearchIndex::reserve(qsizetype books)
{
    m_ids.reserve(size_t(books));
    m_starts.reserve(size_t(books) + 1);
    m_text.reserve(size_t(books) * 16);
}

void SearchIndex::add(qint64 id, QStringView name, QStringView author)
{
    if (m_starts.empty())
        m_starts.push_back(0);
    m_ids.push_back(id);
    m_text.insert(m_text.end(), name.utf16(), name.utf16() + name.size());
    m_text.push_back(0);
    m_text.insert(m_text.end(), author.utf16(), author.utf16() + author.size());
    m_text.push_back(0);
    m_starts.push_back(quint32(m_text.size()));
}

// Calls visit once for every character and pair of neighbours the book at position holds,
// pairs only within a field.
template<typename Visit>
void SearchIndex::grams(quint32 position, Visit &&visit) const
{
    thread_local std::vector<quint32> found;
    found.clear();
    const char16_t *begin = m_text.data() + m_starts[position];
    const char16_t *end = m_text.data() + m_starts[position + 1];
    for (const char16_t *c = begin; c != end; ++c) {
        if (*c == 0)
            continue;
        found.push_back(*c);
        if (c[1] != 0)
            found.push_back(quint32(*c) << 16 | c[1]);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    for (quint32 g : found)
        visit(g);
}

void SearchIndex::finish()
{
    if (m_starts.empty())
        m_starts.push_back(0);
    // Counted first, so every list gets its place in one array.
    GramTable table;
    const auto n = quint32(m_ids.size());
    for (quint32 p = 0; p < n; ++p)
        grams(p, [&](quint32 g) { ++table[g]; });
    m_grams.reserve(table.size());
    table.forEach([&](quint32 g, quint32) { m_grams.push_back(g); });
    std::sort(m_grams.begin(), m_grams.end());
    m_offsets.resize(m_grams.size() + 1);
    quint32 total = 0;
    for (size_t i = 0; i < m_grams.size(); ++i) {
        m_offsets[i] = total;
        // From here on the table holds where the gram's next book goes.
        quint32 &slot = table[m_grams[i]];
        total += std::exchange(slot, total);
    }
    m_offsets.back() = total;
    m_postings.resize(total);
    for (quint32 p = 0; p < n; ++p)
        grams(p, [&](quint32 g) { m_postings[table[g]++] = p; });
}

std::span<const quint32> SearchIndex::list(quint32 gram) const
{
    const auto it = std::lower_bound(m_grams.begin(), m_grams.end(), gram);
    if (it == m_grams.end() || *it != gram)
        return {};
    const size_t i = size_t(it - m_grams.begin());
    return std::span<const quint32>(m_postings.data() + m_offsets[i], m_offsets[i + 1] - m_offsets[i]);
}

SearchIndex::Hits SearchIndex::find(QStringView key) const
{
    Hits hits;
    const qsizetype k = key.size();
    if (k == 0) {
        // Every public book holds the empty key.
        hits.m_owned.resize(m_ids.size());
        for (quint32 p = 0; p < hits.m_owned.size(); ++p)
            hits.m_owned[p] = p;
        hits.m_view = hits.m_owned;
        return hits;
    }
    if (k <= 2) {
        hits.m_view = list(k == 1 ? quint32(key[0].unicode()) : quint32(key[0].unicode()) << 16 | key[1].unicode());
        return hits;
    }
    // Every pair of the key must be in the book; the shortest lists narrow the candidates and
    // the text decides.
    std::vector<std::span<const quint32>> lists;
    for (qsizetype i = 0; i + 1 < k; ++i) {
        lists.push_back(list(quint32(key[i].unicode()) << 16 | key[i + 1].unicode()));
        if (lists.back().empty())
            return hits;
    }
    std::sort(lists.begin(), lists.end(), [](auto a, auto b) { return a.size() < b.size(); });
    const size_t narrowing = std::min<size_t>(lists.size(), 3);
    for (quint32 p : lists.front()) {
        bool candidate = true;
        for (size_t l = 1; l < narrowing && candidate; ++l)
            candidate = std::binary_search(lists[l].begin(), lists[l].end(), p);
        if (!candidate)
            continue;
        const QStringView text(m_text.data() + m_starts[p], qsizetype(m_starts[p + 1] - m_starts[p]));
        if (text.contains(key))
            hits.m_owned.push_back(p);
    }
    hits.m_view = hits.m_owned;
    return hits;
}

qsizetype SearchIndex::bytes() const
{
    return qsizetype(m_ids.capacity() * sizeof(qint64) + m_text.capacity() * sizeof(char16_t) +
                     (m_starts.capacity() + m_grams.capacity() + m_offsets.capacity() + m_postings.capacity()) *
                         sizeof(quint32));
}

bool SearchIndex::unsearchable(QStringView key)
{
    // A lone half of a surrogate pair reaches the database as some other character.
    return !key.isValidUtf16() || std::any_of(key.begin(), key.end(), [](QChar c) { return c.unicode() < 0x20; });
}

QString SearchIndex::foldAscii(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= u'A' && c.unicode() <= u'Z')
            c = QChar(c.unicode() + 0x20);
    }
    return text;
}

bool SearchIndex::hasOtherCase(QStringView key)
{
    for (const char32_t c : key.toUcs4()) {
        if (c >= 0x80 && (QChar::toLower(c) != c || QChar::toUpper(c) != c || QChar::toTitleCase(c) != c ||
                          QChar::toCaseFolded(c) != c))
            return true;
    }
    return false;
}
