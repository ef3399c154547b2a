#include "routes/BookUpdates.h"

#include "routes/FormCodec.h"
#include "routes/RouterSupport.h"
#include "store/BookCopies.h"
#include "store/BookStorage.h"
#include "store/Store.h"

using namespace RouterSupport;

namespace BookUpdates {

namespace {

struct Asked
{
    qint64 id = 0;
    QString size;
    QString date;
};

} // namespace

Response answer(Store &store, const QByteArray &body)
{
    const auto fields = FormCodec::parseQuery(body);
    if (!fields)
        return badRequest("form");
    QList<Asked> asked;
    for (const auto &[key, value] : *fields) {
        if (key != u"b")
            continue;
        if (asked.size() == kMaxBooksPerRequest)
            return Response::text(413, "413 Too Many Books\n");
        const QStringList parts = value.split(u'|');
        bool ok = false;
        const qint64 id = parts.value(0).toLongLong(&ok);
        if (parts.size() != 3 || !ok || id <= 0)
            return badRequest("book");
        asked.append({id, parts[1].trimmed(), parts[2].trimmed()});
    }

    XmlOut x;
    x.open("updates");
    for (const Asked &a : asked) {
        std::optional<BookRow> b = store.catalogue().book(a.id);
        bool replaced = false;
        if (!b || b->review != Review::Approved) {
            const qint64 next = BookCopies::successorOf(store, a.id);
            b = next > 0 ? store.catalogue().book(next) : std::nullopt;
            replaced = true;
        }
        if (!b || b->review != Review::Approved)
            continue;
        if (!replaced && b->updated == a.date && kilobytes(b->fileSize) == a.size)
            continue;
        x.open("book")
            .element("asked", a.id)
            .element("id", b->id)
            .element("name", b->name)
            .element("size", kilobytes(b->fileSize))
            .element("ftime", b->updated)
            .element("downurl", QStringLiteral("/books/%1/%2").arg(b->id).arg(BookStorage::publicName(*b)))
            .close("book");
    }
    x.close("updates");
    return xml(x.take());
}

} // namespace BookUpdates
