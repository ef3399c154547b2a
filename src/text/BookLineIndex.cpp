#include "text/BookLineIndex.h"

#include "text/BookScan.h"

#include <QFileInfo>
#include <QMutexLocker>

BookLineIndexCache &BookLineIndexCache::instance()
{
    static BookLineIndexCache cache;
    return cache;
}

std::shared_ptr<const BookLineIndex> BookLineIndexCache::find(const QString &path, const BookReading &reading)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return nullptr;
    const QString key = info.absoluteFilePath();
    const qint64 size = info.size();
    const QDateTime modified = info.lastModified();
    QMutexLocker lock(&m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if ((*it)->path != key || (*it)->reading != reading)
            continue;
        if ((*it)->fileSize != size || (*it)->modified != modified) {
            m_entries.erase(it);
            return nullptr;
        }
        m_entries.splice(m_entries.begin(), m_entries, it);
        return m_entries.front();
    }
    return nullptr;
}

void BookLineIndexCache::insert(std::shared_ptr<const BookLineIndex> index)
{
    if (!index)
        return;
    QMutexLocker lock(&m_mutex);
    m_entries.remove_if(
        [&](const auto &entry) { return entry->path == index->path && entry->reading == index->reading; });
    m_entries.push_front(std::move(index));
    while (m_entries.size() > Capacity)
        m_entries.pop_back();
}

void BookLineIndexCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}

std::shared_ptr<const BookLineIndex> LineIndexFor(const QString &path, const BookReading &reading)
{
    if (auto cached = BookLineIndexCache::instance().find(path, reading))
        return cached;
    BookScan scan = ScanBookFile(path, BookScan::IndexOnly, nullptr, reading);
    if (scan.error != BookReadError::None)
        return nullptr;
    auto index = std::make_shared<const BookLineIndex>(std::move(scan.index));
    BookLineIndexCache::instance().insert(index);
    return index;
}

QString BookReading::toText() const
{
    QStringList parts;
    if (smart)
        parts << QStringLiteral("smart=1");
    if (encoding)
        parts << QStringLiteral("encoding=") + EncodingName(*encoding);
    if (!rule.isEmpty())
        parts << QStringLiteral("rule=") + QString::fromLatin1(rule.toUtf8().toPercentEncoding());
    return parts.join(u';');
}

BookReading BookReading::fromText(QStringView text)
{
    BookReading reading;
    for (QStringView part : text.split(u';')) {
        if (part == u"smart=1")
            reading.smart = true;
        else if (part.startsWith(u"encoding="))
            reading.encoding = EncodingFromName(part.sliced(9));
        else if (part.startsWith(u"rule="))
            reading.rule = QString::fromUtf8(QByteArray::fromPercentEncoding(part.sliced(5).toLatin1()));
    }
    return reading;
}
