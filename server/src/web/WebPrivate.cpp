// Private copies in the web reader: a book its owner sent from the desktop opens and reads like
// any served book, under "p<id>"; for every other account it does not exist.
#include "web/WebReader.h"

#include "store/Store.h"

#include <QFileInfo>

std::optional<WebReader::Served> WebReader::privateCopy(const Caller &caller, const QString &id) const
{
    bool ok = false;
    const qint64 number = id.mid(1).toLongLong(&ok);
    const auto copy = ok ? PrivateCopies::readable(store(), m_config.booksDir(), caller.userId, number) : std::nullopt;
    if (!copy)
        return std::nullopt;
    Served book;
    book.about = {{QStringLiteral("id"), id},
                  {QStringLiteral("name"), copy->name},
                  {QStringLiteral("author"), copy->author},
                  {QStringLiteral("category"), QString()},
                  {QStringLiteral("size"), copy->size},
                  {QStringLiteral("updated"), copy->created},
                  {QStringLiteral("text"), true},
                  {QStringLiteral("private"), true}};
    book.source = copy->filePath;
    // Never a catalogue id: the chapter list cache keeps the two apart.
    book.cacheKey = id;
    return book;
}

QString WebReader::privateCopyOf(const Caller &caller, const QString &fingerprint) const
{
    if (!PrivateCopies::plausibleFingerprint(fingerprint))
        return {};
    const auto copy = store().privateCopies().byFingerprint(caller.userId, fingerprint);
    if (!copy || !QFileInfo(PrivateCopies::filePath(m_config.booksDir(), fingerprint)).isFile())
        return {};
    return QStringLiteral("p%1").arg(copy->id);
}
