#include "http/ListenSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ListenSocket {

int open(const QString &address, quint16 port, quint16 *boundPort, bool *ipv6, QString *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray host = address.toLatin1();
    const QByteArray service = QByteArray::number(port);
    if (getaddrinfo(host.constData(), service.constData(), &hints, &found) != 0 || !found) {
        *error = QStringLiteral("无效的监听地址 / invalid bind address: %1").arg(address);
        return -1;
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
        *error =
            QStringLiteral("无法创建套接字 / cannot create socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        freeaddrinfo(found);
        return -1;
    }
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 512) != 0) {
        const int code = errno;
        freeaddrinfo(found);
        ::close(fd);
        if (code == EADDRINUSE)
            *error = QStringLiteral("端口 %1 已被占用 / port %1 is already in use").arg(port);
        else
            *error = QStringLiteral("无法监听 %1:%2 / cannot listen: %3")
                         .arg(address)
                         .arg(port)
                         .arg(QString::fromLocal8Bit(strerror(code)));
        return -1;
    }
    freeaddrinfo(found);

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
    *boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                                   : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    *ipv6 = bound.ss_family == AF_INET6;
    return fd;
}

QStringList reachableAddresses(const QString &address)
{
    const bool any4 = address == u"0.0.0.0";
    const bool any6 = address == u"::";
    if (!any4 && !any6)
        return {address};
    QStringList out;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return {address};
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP))
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (i->ifa_addr->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr, text, sizeof text);
        else if (any6 && i->ifa_addr->sa_family == AF_INET6 &&
                 !IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<sockaddr_in6 *>(i->ifa_addr)->sin6_addr))
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 *>(i->ifa_addr)->sin6_addr, text, sizeof text);
        if (text[0] && !out.contains(QString::fromLatin1(text)))
            out.append(QString::fromLatin1(text));
    }
    freeifaddrs(list);
    return out.isEmpty() ? QStringList{address} : out;
}

} // namespace ListenSocket
