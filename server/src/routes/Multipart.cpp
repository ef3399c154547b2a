#include "routes/Multipart.h"

#include "routes/FormCodec.h"

namespace {

QByteArray boundaryParameter(QByteArrayView contentType)
{
    const QByteArray lower = contentType.toByteArray().toLower();
    const qsizetype at = lower.indexOf("boundary=");
    if (at < 0)
        return {};
    QByteArrayView value = contentType.sliced(at + 9);
    if (value.startsWith('"')) {
        value = value.sliced(1);
        const qsizetype end = value.indexOf('"');
        return end < 0 ? QByteArray() : value.first(end).toByteArray();
    }
    const qsizetype end = value.indexOf(';');
    return (end < 0 ? value : value.first(end)).trimmed().toByteArray();
}

// Reads name="..." style parameters of a Content-Disposition value. Quotes and ';' are
// below 0x40, so they never occur inside a GB18030 character and bytes can be scanned.
QByteArray dispositionParameter(QByteArrayView header, QByteArrayView wanted, bool *found)
{
    *found = false;
    qsizetype i = 0;
    while (i < header.size()) {
        while (i < header.size() && (header[i] == ';' || header[i] == ' ' || header[i] == '\t'))
            ++i;
        qsizetype nameEnd = i;
        while (nameEnd < header.size() && header[nameEnd] != '=' && header[nameEnd] != ';')
            ++nameEnd;
        const QByteArray name = header.sliced(i, nameEnd - i).trimmed().toByteArray().toLower();
        if (nameEnd >= header.size() || header[nameEnd] == ';') {
            i = nameEnd;
            continue;
        }
        qsizetype v = nameEnd + 1;
        while (v < header.size() && header[v] == ' ')
            ++v;
        QByteArray value;
        if (v < header.size() && header[v] == '"') {
            const qsizetype close = header.indexOf('"', v + 1);
            if (close < 0)
                return {};
            value = header.sliced(v + 1, close - v - 1).toByteArray();
            i = close + 1;
        } else {
            qsizetype end = header.indexOf(';', v);
            if (end < 0)
                end = header.size();
            value = header.sliced(v, end - v).trimmed().toByteArray();
            i = end;
        }
        if (name == wanted) {
            *found = true;
            return value;
        }
    }
    return {};
}

QString decodeHeaderText(const QByteArray &bytes)
{
    if (auto text = FormCodec::fromGb18030(bytes))
        return *text;
    if (auto text = FormCodec::fromUtf8Strict(bytes))
        return *text;
    return QString::fromLatin1(bytes);
}

} // namespace

const MultipartPart *MultipartResult::find(QStringView name) const
{
    for (const auto &p : parts) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

QString MultipartResult::text(QStringView name) const
{
    const MultipartPart *p = find(name);
    if (!p)
        return {};
    return decodeHeaderText(p->data.toByteArray());
}

namespace Multipart {

QString baseName(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(slash + 1);
}

MultipartResult parse(QByteArrayView body, QByteArrayView contentType, int maxParts)
{
    MultipartResult result;
    auto fail = [&](const QString &why) {
        result.parts.clear();
        result.error = why;
        return result;
    };

    QByteArray boundary;
    const qsizetype firstLineEnd = body.indexOf("\r\n");
    if (body.startsWith("--") && firstLineEnd > 2)
        boundary = body.sliced(2, firstLineEnd - 2).toByteArray();
    else
        boundary = boundaryParameter(contentType);
    // RFC 2046 allows at most 70 characters; a few more do no harm.
    if (boundary.isEmpty() || boundary.size() > 200)
        return fail(QStringLiteral("缺少分隔行"));

    const QByteArray opening = "--" + boundary;
    const QByteArray delimiter = "\r\n--" + boundary;
    qsizetype pos = body.indexOf(opening);
    if (pos != 0)
        return fail(QStringLiteral("缺少分隔行"));
    pos += opening.size();

    while (true) {
        // After a boundary: "--" closes the body, a line break opens a part.
        if (body.sliced(pos).startsWith("--"))
            return result;
        if (!body.sliced(pos).startsWith("\r\n"))
            return fail(QStringLiteral("分隔行格式错误"));
        pos += 2;
        if (result.parts.size() >= maxParts)
            return fail(QStringLiteral("表单项过多"));

        if (body.sliced(pos).startsWith("\r\n"))
            return fail(QStringLiteral("表单项缺少名称"));
        const qsizetype headerEnd = body.indexOf("\r\n\r\n", pos);
        if (headerEnd < 0)
            return fail(QStringLiteral("数据不完整"));
        const QByteArrayView headers = body.sliced(pos, headerEnd - pos);
        if (headers.size() > 16 * 1024)
            return fail(QStringLiteral("表单头过长"));

        MultipartPart part;
        bool haveName = false;
        for (QByteArrayView line : QByteArray::fromRawData(headers.data(), headers.size()).split('\n')) {
            line = line.trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            if (line.first(colon).trimmed().compare("content-disposition", Qt::CaseInsensitive) != 0)
                continue;
            const QByteArrayView value = line.sliced(colon + 1);
            const qsizetype semi = value.indexOf(';');
            const QByteArrayView params = semi < 0 ? QByteArrayView() : value.sliced(semi + 1);
            bool found = false;
            part.name = decodeHeaderText(dispositionParameter(params, "name", &found));
            haveName = found;
            part.fileName = decodeHeaderText(dispositionParameter(params, "filename", &found));
            part.isFile = found;
        }
        if (!haveName)
            return fail(QStringLiteral("表单项缺少名称"));

        const qsizetype dataStart = headerEnd + 4;
        const qsizetype next = body.indexOf(delimiter, dataStart);
        if (next < 0)
            return fail(QStringLiteral("数据不完整"));
        part.data = body.sliced(dataStart, next - dataStart);
        result.parts.append(part);
        pos = next + delimiter.size();
    }
}

} // namespace Multipart
