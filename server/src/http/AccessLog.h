#pragma once

#include "http/HttpTypes.h"

#include <QString>

#include <cstdio>
#include <mutex>

// One line per answered request and per account or upload event, to standard error or a
// file. Query values whose decoded name holds "pass" are blanked; headers (cookies) are never written.
class AccessLog
{
public:
    ~AccessLog();
    // An empty path writes to standard error.
    bool open(const QString &path, QString *error);
    // Opens the file again under its name, after a log rotation moved it away; the old one
    // stays in use when that fails. Nothing to do for standard error.
    bool reopen(QString *error);
    void request(const Request &r, int status, qint64 bytes, qint64 ms);
    void event(const QString &line);

    // Text for a terminal or a log line: control characters (C0, DEL, C1) are written as
    // "\xNN", so nothing a client typed can move the cursor, ring, clear the screen or start a
    // line of its own. Tabs too, unless keepTabs.
    static QString visible(const QString &text, bool keepTabs = false);

    // The request's path and query with password values replaced by "*".
    static QByteArray loggedTarget(const Request &r);

private:
    void write(const QByteArray &line);

    std::mutex m_mutex;
    FILE *m_file = nullptr;
    bool m_own = false;
    QString m_path;
};
