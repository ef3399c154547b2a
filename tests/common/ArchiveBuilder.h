#pragma once

#include <QByteArray>
#include <QList>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

// Archives built byte by byte, so tests control exactly what a hostile archive holds
// (raw name bytes, flags, link entries) regardless of what archiving tools would allow.
namespace ArchiveBuilder {

struct ZipEntry
{
    QByteArray name; // raw bytes as stored
    QByteArray data; // a symlink's target for a link
    bool utf8Flag = false;
    quint32 unixMode = 0100644; // 0120777 makes a symbolic link, 040755 a folder
    bool deflated = false;      // stored uncompressed otherwise
    qint64 claimedSize = -1;    // the unpacked size the headers state, when not the true one
};

inline quint32 crc32(const QByteArray &bytes)
{
    return quint32(::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// Little-endian fields of two or four bytes each.
inline void put16(QByteArray &out, std::initializer_list<quint16> values)
{
    for (quint16 v : values)
        out.append(char(v & 0xFF)).append(char(v >> 8));
}

inline void put32(QByteArray &out, std::initializer_list<quint32> values)
{
    for (quint32 v : values)
        put16(out, {quint16(v & 0xFFFF), quint16(v >> 16)});
}

inline QByteArray zip(const QList<ZipEntry> &entries)
{
    QByteArray out, central;
    for (const ZipEntry &e : entries) {
        // qCompress gives a length, a zlib header, the raw deflate stream and a checksum.
        const QByteArray packed = e.deflated ? qCompress(e.data, 9).sliced(6).chopped(4) : e.data;
        const quint32 offset = quint32(out.size()), crc = crc32(e.data), packedSize = quint32(packed.size());
        const quint32 size = quint32(e.claimedSize < 0 ? e.data.size() : e.claimedSize);
        const quint16 flags = e.utf8Flag ? 0x0800 : 0, nameSize = quint16(e.name.size());
        const quint16 method = e.deflated ? 8 : 0, version = e.deflated ? 20 : 10;
        out += QByteArray::fromHex("504b0304");
        put16(out, {version, flags, method, 0, 0x21});
        put32(out, {crc, packedSize, size});
        put16(out, {nameSize, 0});
        out += e.name + packed;

        central += QByteArray::fromHex("504b0102");
        put16(central, {(3 << 8) | 20 /* made on Unix, so the mode bits count */, version, flags, method, 0, 0x21});
        put32(central, {crc, packedSize, size});
        put16(central, {nameSize, 0, 0, 0, 0});
        put32(central, {e.unixMode << 16, offset});
        central += e.name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central + QByteArray::fromHex("504b0506");
    put16(out, {0, 0, quint16(entries.size()), quint16(entries.size())});
    put32(out, {quint32(central.size()), centralOffset});
    put16(out, {0});
    return out;
}

struct RarEntry
{
    QByteArray name; // RAR4: raw bytes as a Windows tool stores them ("\\" between folders); RAR5: UTF-8
    QByteArray data; // stored, not compressed
};

// RAR 1.5-4.x: marker, archive header, one stored file header per entry, end of archive.
inline QByteArray rar4(const QList<RarEntry> &entries)
{
    const auto block = [](quint8 type, quint16 flags, const QByteArray &fields) {
        QByteArray body;
        body.append(char(type));
        put16(body, {flags, quint16(2 + 1 + 2 + 2 + fields.size())});
        body += fields;
        QByteArray out;
        put16(out, {quint16(crc32(body) & 0xFFFF)});
        return out + body;
    };
    QByteArray out = QByteArray::fromHex("526172211a0700");
    out += block(0x73, 0, QByteArray(6, '\0'));
    for (const RarEntry &e : entries) {
        QByteArray fields;
        put32(fields, {quint32(e.data.size()), quint32(e.data.size())}); // packed and unpacked
        fields.append(char(2));                                          // made on Windows
        put32(fields, {crc32(e.data), 0x21 << 16 /* 1980-01-01 */});
        fields.append(char(20)).append(char(0x30)); // version needed, stored
        put16(fields, {quint16(e.name.size())});
        put32(fields, {0x20}); // archive attribute
        fields += e.name;
        out += block(0x74, 0x8000, fields) + e.data;
    }
    return out + block(0x7b, 0x4000, {});
}

inline QByteArray vint(quint64 v)
{
    QByteArray out;
    do {
        quint8 b = v & 0x7F;
        v >>= 7;
        if (v)
            b |= 0x80;
        out.append(char(b));
    } while (v);
    return out;
}

// RAR 5: signature, main header, one stored file header per entry, end of archive.
inline QByteArray rar5(const QList<RarEntry> &entries)
{
    const auto header = [](const QByteArray &fields) {
        const QByteArray sized = vint(quint64(fields.size())) + fields;
        QByteArray out;
        put32(out, {crc32(sized)});
        return out + sized;
    };
    QByteArray out = QByteArray::fromHex("526172211a070100");
    out += header(vint(1) + vint(0) + vint(0));
    for (const RarEntry &e : entries) {
        QByteArray fields = vint(2) + vint(0x0002) + vint(quint64(e.data.size())); // type, flags: data area
        fields += vint(0x0004);                                                    // file flags: CRC32 present
        fields += vint(quint64(e.data.size())) + vint(0x20);                       // unpacked size, attributes
        put32(fields, {crc32(e.data)});
        fields += vint(0) + vint(0) + vint(quint64(e.name.size())) + e.name; // stored, Windows, name
        out += header(fields) + e.data;
    }
    return out + header(vint(5) + vint(0) + vint(0));
}

struct WrittenEntry
{
    QByteArray name;
    QByteArray data;
    QByteArray hardLink = {}; // an empty entry linking to this path
};

// Regular files and hard links written by libarchive itself, in a format and through a filter
// (or none) named as archive_write_set_format_by_name and archive_write_add_filter_by_name take
// them ("zip" deflates, "7zip", "paxr"; "gzip"). Empty when libarchive refuses the names.
inline QByteArray written(const char *format, const char *filter, const QList<WrittenEntry> &files)
{
    qsizetype room = 64 * 1024;
    for (const WrittenEntry &file : files)
        room += file.name.size() + file.data.size() + 1024;
    QByteArray out(room, '\0');
    size_t used = 0;
    archive *a = archive_write_new();
    if (archive_write_set_format_by_name(a, format) != ARCHIVE_OK ||
        (filter && archive_write_add_filter_by_name(a, filter) != ARCHIVE_OK) ||
        archive_write_open_memory(a, out.data(), size_t(out.size()), &used) != ARCHIVE_OK) {
        archive_write_free(a);
        return {};
    }
    archive_entry *entry = archive_entry_new();
    for (const WrittenEntry &file : files) {
        archive_entry_clear(entry);
        archive_entry_set_pathname(entry, file.name.constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        if (!file.hardLink.isEmpty())
            archive_entry_set_hardlink(entry, file.hardLink.constData());
        archive_entry_set_size(entry, file.data.size());
        archive_write_header(a, entry);
        archive_write_data(a, file.data.constData(), size_t(file.data.size()));
    }
    archive_entry_free(entry);
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(qsizetype(used));
    return out;
}

// A tar holding one regular file and a hard link.
inline QByteArray tarWithHardLink(const QByteArray &fileName, const QByteArray &linkName, const QByteArray &linkTarget)
{
    return written("paxr", nullptr, {{fileName, "hello"}, {linkName, {}, linkTarget}});
}

} // namespace ArchiveBuilder
