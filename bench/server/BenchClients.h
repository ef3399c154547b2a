#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

// Clients of the attack runs: single requests from chosen loopback addresses, and loops of them.

// One request over a connection of its own from a chosen loopback address; done gets the
// whole answer (empty when the connection failed) once the server closes.
class OneRequest : public QObject
{
public:
    OneRequest(const QString &from, quint16 port, const QByteArray &bytes, std::function<void(const QByteArray &)> done)
        : m_done(std::move(done))
    {
        m_socket.bind(QHostAddress(from));
        QObject::connect(&m_socket, &QTcpSocket::connected, this, [this, bytes] { m_socket.write(bytes); });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_answer += m_socket.readAll(); });
        QObject::connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                finish();
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

private:
    void finish()
    {
        if (!m_done)
            return;
        auto done = std::move(m_done);
        m_done = nullptr;
        done(m_answer + m_socket.readAll());
        deleteLater();
    }

    QTcpSocket m_socket;
    QByteArray m_answer;
    std::function<void(const QByteArray &)> m_done;
};

inline QByteArray closingRequest(const QByteArray &target, const QByteArray &form = {})
{
    if (form.isEmpty())
        return "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    return "POST " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: " +
           QByteArray::number(form.size()) + "\r\n\r\n" + form;
}

// Loops that send one request after another, each from its own loopback address, until stopped.
class Flood
{
public:
    using Make = std::function<QByteArray(int loop, int round)>;
    Flood(quint16 port, QStringList addresses, Make make) : m_port(port), m_addresses(std::move(addresses)), m_make(std::move(make))
    {
        for (int i = 0; i < m_addresses.size(); ++i)
            next(i);
    }
    ~Flood() { *m_alive = false; }
    int sent() const { return m_sent; }

private:
    void next(int loop)
    {
        new OneRequest(m_addresses[loop], m_port, m_make(loop, m_sent++), [this, loop, alive = m_alive](const QByteArray &) {
            if (*alive)
                QTimer::singleShot(0, [this, loop, alive] { if (*alive) next(loop); });
        });
    }

    quint16 m_port;
    QStringList m_addresses;
    Make m_make;
    int m_sent = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

