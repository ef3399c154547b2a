#include "http/AccessLog.h"

#include <QDateTime>
#include <QFile>

AccessLog::~AccessLog()
{
    if (m_own && m_file)
        std::fclose(m_file);
}

bool AccessLog::open(const QString &path, QString *error)
{
    if (path.isEmpty()) {
        m_file = stderr;
        return true;
    }
    m_file = std::fopen(QFile::encodeName(path).constData(), "a");
    if (!m_file) {
        *error = QStringLiteral("无法写入日志文件 / cannot write the log file %1").arg(path);
        return false;
    }
    m_own = true;
    m_path = path;
    // Whole lines reach the file at once, so a reader never sees half of one.
    std::setvbuf(m_file, nullptr, _IOLBF, 8192);
    return true;
}

bool AccessLog::reopen(QString *error)
{
    if (!m_own)
        return true;
    FILE *file = std::fopen(QFile::encodeName(m_path).constData(), "a");
    if (!file) {
        *error = QStringLiteral("无法重新打开日志文件 / cannot reopen the log file %1").arg(m_path);
        return false;
    }
    std::setvbuf(file, nullptr, _IOLBF, 8192);
    std::lock_guard lock(m_mutex);
    std::fclose(m_file);
    m_file = file;
    return true;
}

QByteArray AccessLog::loggedTarget(const Request &r)
{
    QByteArray out = r.path;
    if (r.query.isEmpty())
        return out;
    QList<QByteArray> items = r.query.split('&');
    for (QByteArray &item : items) {
        const qsizetype eq = item.indexOf('=');
        // By the key as the server reads it: "%70assword" is "password" too.
        QByteArray key = item.left(eq);
        key.replace('+', ' ');
        if (eq > 0 && QByteArray::fromPercentEncoding(key).toLower().contains("pass"))
            item = item.left(eq) + "=*";
    }
    return out + '?' + items.join('&');
}

void AccessLog::request(const Request &r, int status, qint64 bytes, qint64 ms)
{
    QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1();
    line += ' ' + (r.peer.isEmpty() ? QByteArray("-") : r.peer) + ' ' + r.method + ' ';
    // Control characters in the address would let a client forge lines.
    for (const char c : loggedTarget(r))
        line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    line += ' ' + QByteArray::number(status) + ' ' + QByteArray::number(bytes) + ' ' + QByteArray::number(ms) + "ms\n";
    write(line);
}

QString AccessLog::visible(const QString &text, bool keepTabs)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && !(keepTabs && u == u'\t')) || (u >= 0x7f && u <= 0x9f))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void AccessLog::event(const QString &text)
{
    write(QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + ' ' + visible(text).toUtf8() + '\n');
}

void AccessLog::write(const QByteArray &line)
{
    if (!m_file)
        return;
    std::lock_guard lock(m_mutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), m_file);
}
