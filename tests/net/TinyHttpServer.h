#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// A one-file HTTP/1.1 responder on 127.0.0.1 for protocol edge cases: stalls, dropped
// connections, odd content types, missing lengths, late answers. Not a stand-in for the
// catalogue server.
class TinyHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray target;                     // path and query as sent
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/xml";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool sendLength = true; // false: no Content-Length, the end of the body closes the connection
        qint64 stallAfter = -1; // send the headers and this many body bytes, then nothing
        qint64 dropAfter = -1;  // send the headers and this many body bytes, then close
        int delayMs = 0;        // answer this late
        bool silent = false;    // never answer at all
    };

    using Handler = std::function<Response(const Request &)>;

    static Response reply(const QByteArray &body, int status = 200, int delayMs = 0)
    {
        Response r;
        r.body = body;
        r.status = status;
        r.delayMs = delayMs;
        return r;
    }
    static Response noAnswer()
    {
        Response r;
        r.silent = true;
        return r;
    }

    explicit TinyHttpServer(Handler handler) : m_handler(std::move(handler))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    quint16 port() const { return m_server.serverPort(); }
    QList<Request> requests;

private:
    void onData(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            Request request;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length", "0").toLongLong();
            if (buffer.size() < end + 4 + length)
                return;
            request.body = buffer.mid(end + 4, length);
            buffer.remove(0, end + 4 + length);
            requests.append(request);
            const Response response = m_handler(request);
            if (response.silent)
                continue;
            QPointer<QTcpSocket> guard(socket);
            if (response.delayMs > 0)
                QTimer::singleShot(response.delayMs, this, [this, guard, response] {
                    if (guard)
                        send(guard, response);
                });
            else
                send(socket, response);
        }
    }

    static void send(QTcpSocket *socket, const Response &response)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
        if (!response.contentType.isEmpty())
            head += "Content-Type: " + response.contentType + "\r\n";
        if (response.sendLength)
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        else
            head += "Connection: close\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += "\r\n";
        socket->write(head);
        if (response.stallAfter >= 0) {
            socket->write(response.body.left(response.stallAfter));
            return;
        }
        if (response.dropAfter >= 0) {
            socket->write(response.body.left(response.dropAfter));
            socket->disconnectFromHost();
            return;
        }
        socket->write(response.body);
        if (!response.sendLength)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
