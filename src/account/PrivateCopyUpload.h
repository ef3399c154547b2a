#pragma once

#include "library/BookRecord.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class AnswerReader;
class QNetworkAccessManager;
class QNetworkReply;

// "放到我的服务器": shelf books sent to the account's server as private copies, which that
// account alone reads in the web reader there. Books go one after the other; each file is read
// and fingerprinted on a worker thread and sent while the window goes on. Nothing here asks the
// user anything: progress(), finished() and the room used on the server tell the rest.
class PrivateCopyUpload : public QObject
{
    Q_OBJECT
public:
    // The largest book the web reader opens; a larger file is not even read. The host's own
    // limit (64 MB unless it chose otherwise) is the server's to tell.
    static constexpr qint64 MaxBookBytes = 256ll * 1024 * 1024;

    // Requests go through `manager`, the program's shared one if null.
    PrivateCopyUpload(QString serverBaseUrl, QObject *parent = nullptr, QNetworkAccessManager *manager = nullptr);
    ~PrivateCopyUpload() override;

    // Whether a login to the server is held: the account the user centre found, or its cookie.
    bool signedIn(const QString &knownAccount) const;
    // Queues the books' files (a file already waiting or on its way is not queued again).
    void send(const QList<BookRecord> &books);
    bool isBusy() const { return !m_queue.isEmpty() || m_current.id != 0; }
    // What is happening now, in words: "正在放到我的服务器：《书名》（2/5）45%".
    QString progressText() const { return m_progress; }
    // Asks the server how much of the account's room its private copies take.
    void refreshUsage();
    // Bytes the account's private copies take and may take; -1 until the server said.
    qint64 used() const { return m_used; }
    qint64 quota() const { return m_quota; }
    int count() const { return m_count; }
    // The room in words for the user centre.
    QString usageText() const;

Q_SIGNALS:
    void progress(const QString &text);
    // The queue ran empty: how many books went, and a line for each one that did not.
    void finished(int sent, const QStringList &failures);
    void usageChanged();

private:
    void next();
    void upload(const QByteArray &bytes, const QString &fingerprint);
    void onReply();
    void fail(const QString &why);
    void report(qint64 sentBytes, qint64 totalBytes);

    QString m_serverBaseUrl;
    QNetworkAccessManager *m_manager;
    AnswerReader *m_reader;
    QPointer<QNetworkReply> m_reply;
    QPointer<QNetworkReply> m_usageReply;
    bool m_usageStale = false; // a copy was stored after the list in flight was asked for
    QList<BookRecord> m_queue;
    BookRecord m_current;
    int m_position = 0; // of the current book in this run
    int m_total = 0;
    int m_sent = 0;
    QStringList m_failures;
    QString m_progress;
    qint64 m_used = -1;
    qint64 m_quota = -1;
    int m_count = 0;
};
