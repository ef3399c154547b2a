#include "startup/ProgramInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int ConnectWaitMs = 2000; // a running program's socket accepts at once; this is only a bound
constexpr qint64 LongestMessage = 64 * 1024;

} // namespace

ProgramInstance::ProgramInstance(const QString &programFolder, QObject *parent)
    : QObject(parent), m_name(socketName(programFolder))
{}

QString ProgramInstance::socketName(const QString &programFolder)
{
    const QString folder = QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
    // Short and free of separators: socket paths have a small length limit.
    const QByteArray digest = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
    return QStringLiteral("folioway-") + QString::fromLatin1(digest);
}

bool ProgramInstance::claim(const QString &book)
{
    QLocalSocket running;
    running.connectToServer(m_name);
    if (running.waitForConnected(ConnectWaitMs)) {
        running.write(book.toUtf8() + '\n');
        running.waitForBytesWritten(ConnectWaitMs);
        running.disconnectFromServer();
        if (running.state() != QLocalSocket::UnconnectedState)
            running.waitForDisconnected(ConnectWaitMs);
        return false;
    }
    // Nobody answers: no program runs, or one crashed and left its socket behind.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name))
        return true; // a start that cannot listen still runs; only the hand-over is lost
    connect(m_server, &QLocalServer::newConnection, this, &ProgramInstance::readHandOver);
    return true;
}

void ProgramInstance::readHandOver()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->property("folioway_done").toBool())
                return;
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > LongestMessage)
                    socket->abort();
                return;
            }
            socket->setProperty("folioway_done", true);
            const QString book = QString::fromUtf8(socket->readLine(LongestMessage)).trimmed();
            // Told from the event loop, not from inside the socket: opening the book may ask a
            // question, and the socket may be gone once that returns.
            QMetaObject::invokeMethod(this, [this, book] { Q_EMIT bookHandedOver(book); }, Qt::QueuedConnection);
        });
    }
}
