#pragma once

#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

#include <sys/uio.h>

class QDateTime;
class QFileDevice;

// An entry's bytes as the archive holds them, made ready on any thread (ZipWriter::pack) and
// written in order later.
struct ZipEntryBody
{
    QByteArrayList parts; // the data itself in pieces (no copy to join them), or deflated
    quint32 crc = 0;
    qint64 size = 0;  // of the data; -1: could not be made
    bool deflated = false;
};

// Writes a zip archive to a device, one whole entry at a time: the entry's bytes are in memory,
// so its header carries the sizes and no data descriptors are needed. Entries are stored or
// deflated; past 65,535 entries the archive ends with the zip64 records (the entry count does not
// fit otherwise). The archive as a whole must stay under 4 GiB: an entry that would reach past
// that is refused.
class ZipWriter
{
public:
    // Writes at the file's position through its handle, around the device's own buffer.
    explicit ZipWriter(QFileDevice *file, int compressionLevel = 6);
    ~ZipWriter();

    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // The time written for every entry (local time, two-second steps as zip has them).
    void setModified(const QDateTime &modified);

    bool addStored(const QString &name, QByteArrayView data);
    bool addDeflated(const QString &name, QByteArrayView data);
    // The body is kept until its bytes are written, then handed back by takeWritten().
    bool add(const QString &name, ZipEntryBody &&body);
    // The entry for the data that is `parts` one after the other: stored at level 0, else
    // deflated at that level; its size is -1 when deflating failed (add() then fails). Safe on
    // any thread.
    static ZipEntryBody pack(QByteArrayList parts, int level);
    // Writes the central directory; nothing may be added after it.
    bool finish();
    // Writes what is queued. Entries are queued into large writes: a write to a file costs
    // several microseconds besides its bytes, and a chapter document is small.
    bool flush();
    // The bodies written since the last call, for their buffers to be used again.
    QList<ZipEntryBody> takeWritten();

    // Bytes of the archive so far, queued ones included.
    qint64 size() const { return m_offset; }
    bool failed() const { return m_failed; }
    // Why it failed: an errno value (ENOSPC when the disk is full, EFBIG past 4 GiB).
    int error() const { return m_error; }

private:
    struct Entry;
    bool add(const QString &name, QByteArrayView data, bool compress);
    void queue(QByteArrayView bytes);
    bool fail(int error);

    int m_fd;
    int m_level;
    quint16 m_dosTime = 0;
    quint16 m_dosDate = 0x21; // 1980-01-01
    qint64 m_offset = 0;
    bool m_failed = false;
    int m_error = 0;
    QList<Entry> m_entries;
    std::vector<iovec> m_queued; // pieces not yet written, in the bodies and headers below
    qint64 m_queuedBytes = 0;
    QByteArrayList m_headers;
    QList<ZipEntryBody> m_held;    // bodies with bytes queued
    QList<ZipEntryBody> m_written; // bodies written, not yet taken back
};
