#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

class PartFile;
class QNetworkAccessManager;
class QNetworkReply;

// Why a download failed.
enum class DownloadFailure
{
    None,
    Interrupted, // the connection broke, timed out or ended early
    Refused,     // the server answered with an error or sent more than a book may hold
    DiskFull,
    WriteFailed,
    Cancelled,
    Unsized, // neither a length nor a chunked end: a cut connection would look like the end
};

// One fetch of a book over the network, streamed into its partial file. It asks only for the
// rest when the file already holds bytes kept from a broken-off transfer, and keeps the answer
// only when it starts where those bytes end and names the same whole size (and the same ETag or
// Last-Modified, when there was one); otherwise it starts again from the first byte. It keeps a
// book under NetworkLimits::BookBytes, reports progress, and at the end checks that every
// announced byte arrived. What becomes of the file afterwards is the caller's business.
class Transfer : public QObject
{
    Q_OBJECT
public:
    // Shared by every transfer of one downloader, read when used.
    struct Context
    {
        QNetworkAccessManager *manager = nullptr;
        int timeoutMs = 0;            // without data for this long a transfer fails
        int progressIntervalMs = 100; // between two progress signals, besides the last one
        QByteArray buffer;            // one read buffer for all: reading never lets events run
    };

    // Where a broken-off transfer stood: the size of the whole file and the server's validator.
    struct Resume
    {
        qint64 total = 0;
        QByteArray validator;
    };

    Transfer(Context &context, const QString &url);
    ~Transfer() override; // stops without signals

    // Sends the request and writes the answer into part until ended() or stop(). With kept bytes
    // (more than 0) already in part, asks only for the rest of the file that resume describes.
    void start(PartFile &part, qint64 kept, const Resume &resume);
    // Drops the request without further signals; part is no longer touched.
    void stop();

    // Bytes in the partial file: those kept from before and those received since.
    qint64 bytes() const { return m_offset + m_written; }
    DownloadFailure failure() const { return m_failure; }
    // How a later transfer may continue the partial file when it holds partBytes; nothing when
    // it must start again from the first byte. With whole, a file that holds every byte counts
    // too (it only could not take its name): the later transfer just ends.
    std::optional<Resume> resumeAt(qint64 partBytes, bool whole = false) const;

Q_SIGNALS:
    // Only while the server has announced the size: the bytes of the whole file so far.
    void progress(qint64 bytesRead, qint64 bytesTotal);
    // The answer is over; None when every byte arrived.
    void ended(DownloadFailure failure);

private:
    void request();
    void dropReply();
    void restartFromScratch();
    bool takeAnswer();
    void drain();
    void reportProgress();
    void onReadyRead();
    void onMetaDataChanged();
    void onFinished();
    void halt(DownloadFailure failure);

    Context &m_context;
    QString m_url;
    PartFile *m_part = nullptr;
    QNetworkReply *m_reply = nullptr; // owned until finished; deleted later
    DownloadFailure m_failure = DownloadFailure::None;
    qint64 m_offset = 0;  // bytes already in the partial file when this reply was asked for
    qint64 m_written = 0; // bytes of this reply written
    qint64 m_total = -1;  // size of the whole file, once the server has said it
    QByteArray m_validator;
    bool m_ranges = false;    // the server accepts byte ranges for this file
    bool m_answered = false;  // the answer's status and headers have been looked at
    bool m_discard = false;   // an error answer: its body is read and dropped
    bool m_untrusted = false; // the partial file may hold bytes twice: never continued
    bool m_halted = false;    // failed while reading: nothing more is written
    QElapsedTimer m_sinceProgress;
};
