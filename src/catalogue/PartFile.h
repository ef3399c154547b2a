#pragma once

#include <QFile>
#include <QString>

// The hidden file beside a book where its bytes wait until every one has arrived
// (".<name>.part"), so a failed or cancelled transfer never replaces a good book with half of
// one. It takes the book's name only through commit(), in one step.
class PartFile
{
public:
    enum class WriteResult
    {
        Written,
        DiskFull,
        Failed,
    };

    explicit PartFile(const QString &saveFile);

    // Where the bytes of saveFile wait: ".<name>.part" beside it.
    static QString pathOf(const QString &saveFile);
    // Removes the partial file of saveFile, if any.
    static void removeOf(const QString &saveFile);

    // For writing: after the bytes already there when append, else emptied first.
    bool open(bool append);
    QString errorString() const { return m_file.errorString(); }
    // Bytes on disk; 0 when there is no file.
    qint64 size() const;
    // Empties the file to receive a transfer again from its first byte.
    void clear();
    WriteResult write(const char *data, qint64 bytes);
    // Puts the bytes on disk, closes the file and puts it in place of SaveFile in one step: the
    // old file stays whole until then. Anything but Written leaves the partial file as it was.
    WriteResult commit();
    void close();
    void remove();

    // Tests: stands in for the free space of the disk. Each write takes what still fits, and one
    // that does not fit fails as on a full disk; with none left, so does commit(). Negative (the
    // default): the disk decides.
    static void setRoomForTests(qint64 bytes);

private:
    QString m_saveFile;
    QFile m_file;
};
