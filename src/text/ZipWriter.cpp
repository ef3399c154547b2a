#include "text/ZipWriter.h"

#include <QDateTime>
#include <QFileDevice>

#include <libdeflate.h>

#include <cerrno>
#include <climits>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr qint64 Limit = 0xFFFFFFFFLL;
constexpr qsizetype GatherBytes = 1024 * 1024;

void put16(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void put64(QByteArray &out, quint64 value)
{
    put32(out, quint32(value & 0xFFFFFFFFu));
    put32(out, quint32(value >> 32));
}

} // namespace

struct ZipWriter::Entry
{
    QByteArray name;
    quint32 crc = 0;
    quint32 compressedSize = 0;
    quint32 size = 0;
    quint32 offset = 0;
    bool deflated = false;
};

namespace {

// libdeflate compresses a whole buffer at once, several times faster than zlib; one compressor
// per thread and level, kept for the thread's next entries.
struct Compressors
{
    libdeflate_compressor *byLevel[13] = {};

    ~Compressors()
    {
        for (libdeflate_compressor *c : byLevel)
            if (c)
                libdeflate_free_compressor(c);
    }
    libdeflate_compressor *at(int level)
    {
        level = qBound(1, level, 12);
        if (!byLevel[level])
            byLevel[level] = libdeflate_alloc_compressor(level);
        return byLevel[level];
    }
};

} // namespace

ZipWriter::ZipWriter(QFileDevice *file, int compressionLevel)
    : m_fd(file->flush() ? file->handle() : -1)
    , m_level(compressionLevel)
{
}

ZipWriter::~ZipWriter() = default;

ZipEntryBody ZipWriter::pack(QByteArrayList parts, int level)
{
    ZipEntryBody body;
    for (const QByteArray &part : std::as_const(parts)) {
        body.size += part.size();
        // libdeflate's CRC-32 uses the processor's carry-less multiplication: many times zlib's.
        body.crc = libdeflate_crc32(body.crc, part.constData(), size_t(part.size()));
    }
    if (level <= 0 || body.size >= Limit) {
        body.parts = std::move(parts);
        return body;
    }
    QByteArray data = parts.size() == 1 ? parts.takeFirst() : parts.join();
    parts.clear();
    thread_local Compressors compressors;
    libdeflate_compressor *compressor = compressors.at(level);
    body.size = -1; // failed, until it is done
    if (!compressor)
        return body;
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(compressor, size_t(data.size()))), Qt::Uninitialized);
    const size_t packed = libdeflate_deflate_compress(compressor, data.constData(), size_t(data.size()), out.data(),
                                                      size_t(out.size()));
    if (packed == 0)
        return body;
    body.size = data.size();
    out.truncate(qsizetype(packed));
    body.parts = {std::move(out)};
    body.deflated = true;
    return body;
}

void ZipWriter::setModified(const QDateTime &modified)
{
    const QDateTime local = modified.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    if (!date.isValid() || date.year() < 1980 || date.year() > 2107)
        return;
    m_dosDate = quint16(((date.year() - 1980) << 9) | (date.month() << 5) | date.day());
    m_dosTime = quint16((time.hour() << 11) | (time.minute() << 5) | (time.second() / 2));
}

void ZipWriter::queue(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        m_queued.push_back({const_cast<char *>(bytes.data()), size_t(bytes.size())});
    m_queuedBytes += bytes.size();
    m_offset += bytes.size();
}

bool ZipWriter::fail(int error)
{
    m_error = error;
    m_failed = true;
    return false;
}

bool ZipWriter::flush()
{
    if (m_failed)
        return false;
    if (m_fd < 0)
        return fail(EBADF);
    // The pieces go out where they are, in one call for many: no copy gathers them first.
    for (size_t at = 0; at < m_queued.size();) {
        const ssize_t n = ::writev(m_fd, m_queued.data() + at, int(qMin<size_t>(m_queued.size() - at, IOV_MAX)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        for (size_t left = size_t(n); left > 0;) {
            iovec &piece = m_queued[at];
            const size_t done = qMin(left, piece.iov_len);
            piece.iov_base = static_cast<char *>(piece.iov_base) + done;
            piece.iov_len -= done;
            left -= done;
            if (piece.iov_len == 0)
                ++at;
        }
    }
    m_queued.clear();
    m_queuedBytes = 0;
    m_headers.clear();
    m_written.append(std::move(m_held));
    m_held.clear();
    return true;
}

QList<ZipEntryBody> ZipWriter::takeWritten()
{
    return std::exchange(m_written, {});
}

bool ZipWriter::addStored(const QString &name, QByteArrayView data)
{
    return add(name, data, false);
}

bool ZipWriter::addDeflated(const QString &name, QByteArrayView data)
{
    return add(name, data, true);
}

bool ZipWriter::add(const QString &name, QByteArrayView data, bool compress)
{
    if (m_failed || data.size() >= Limit)
        return fail(EFBIG);
    return add(name, pack({data.toByteArray()}, compress ? m_level : 0));
}

bool ZipWriter::add(const QString &name, ZipEntryBody &&body)
{
    if (m_failed)
        return false;
    if (body.size < 0 || body.size >= Limit)
        return fail(body.size < 0 ? ENOMEM : EFBIG);
    Entry entry;
    entry.name = name.toUtf8();
    entry.size = quint32(body.size);
    entry.crc = body.crc;
    entry.offset = quint32(m_offset);
    entry.deflated = body.deflated;
    qint64 packedSize = 0;
    for (const QByteArray &part : body.parts)
        packedSize += part.size();
    entry.compressedSize = quint32(packedSize);

    QByteArray header;
    put32(header, 0x04034b50);
    put16(header, 20);
    put16(header, entry.name.size() != name.size() ? 0x0800 : 0); // UTF-8 name
    put16(header, body.deflated ? 8 : 0);
    put16(header, m_dosTime);
    put16(header, m_dosDate);
    put32(header, entry.crc);
    put32(header, entry.compressedSize);
    put32(header, entry.size);
    put16(header, quint32(entry.name.size()));
    put16(header, 0);
    header += entry.name;
    if (packedSize >= Limit || m_offset + header.size() + packedSize >= Limit)
        return fail(EFBIG);
    m_headers.append(std::move(header));
    queue(m_headers.last());
    m_held.append(std::move(body)); // a QByteArray's bytes stay where they are when it moves
    for (const QByteArray &part : std::as_const(m_held.last().parts))
        queue(part);
    m_entries.append(std::move(entry));
    return m_queuedBytes < GatherBytes || flush();
}

bool ZipWriter::finish()
{
    if (m_failed)
        return false;
    const qint64 directoryStart = m_offset;
    QByteArray out;
    for (const Entry &entry : std::as_const(m_entries)) {
        put32(out, 0x02014b50);
        put16(out, 0x031E); // made by: Unix, version 3.0
        put16(out, 20);
        put16(out, entry.name.size() != QString::fromUtf8(entry.name).size() ? 0x0800 : 0);
        put16(out, entry.deflated ? 8 : 0);
        put16(out, m_dosTime);
        put16(out, m_dosDate);
        put32(out, entry.crc);
        put32(out, entry.compressedSize);
        put32(out, entry.size);
        put16(out, quint32(entry.name.size()));
        put16(out, 0); // extra
        put16(out, 0); // comment
        put16(out, 0); // disk
        put16(out, 0); // internal attributes
        put32(out, 0100644u << 16);
        put32(out, entry.offset);
        out += entry.name;
        if (out.size() >= GatherBytes) {
            m_headers.append(std::exchange(out, {}));
            queue(m_headers.last());
        }
    }
    const qint64 directorySize = m_offset + out.size() - directoryStart;
    if (directoryStart + directorySize >= Limit)
        return fail(EFBIG);
    const quint64 count = quint64(m_entries.size());
    const bool zip64 = count > 0xFFFF;
    if (zip64) {
        const qint64 recordOffset = directoryStart + directorySize;
        put32(out, 0x06064b50);
        put64(out, 44);
        put16(out, 45);
        put16(out, 45);
        put32(out, 0);
        put32(out, 0);
        put64(out, count);
        put64(out, count);
        put64(out, quint64(directorySize));
        put64(out, quint64(directoryStart));
        put32(out, 0x07064b50);
        put32(out, 0);
        put64(out, quint64(recordOffset));
        put32(out, 1);
    }
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, zip64 ? 0xFFFF : quint32(count));
    put16(out, zip64 ? 0xFFFF : quint32(count));
    put32(out, quint32(directorySize));
    put32(out, quint32(directoryStart));
    put16(out, 0);
    m_headers.append(std::move(out));
    queue(m_headers.last());
    return flush();
}
