#pragma once

#include <QHostAddress>
#include <QString>
#include <QWebSocket>

// What both ends of the hub protocol do alike with their WebSockets.
namespace HubSockets {

// Caps what one peer may send in one message (and so in one frame): a peer that sends
// more is cut off rather than allowed to exhaust memory.
inline void applyMessageLimit(QWebSocket* socket, quint64 maxBytes)
{
    socket->setMaxAllowedIncomingMessageSize(maxBytes);
    socket->setMaxAllowedIncomingFrameSize(maxBytes);
}

// A peer as people write it: "127.0.0.1:54321" even when a dual-stack listener sees the
// IPv4 client as ::ffff:127.0.0.1, "[::1]:54321" for IPv6.
inline QString peerName(const QHostAddress& address, quint16 port)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    const QString host = mapped ? QHostAddress(ipv4).toString()
                                : QLatin1Char('[') + address.toString() + QLatin1Char(']');
    return host + QLatin1Char(':') + QString::number(port);
}

// The log entry for a connection closed because its peer sent too large a message.
inline QString oversizeNotice(quint64 maxBytes)
{
    return QStringLiteral("消息超过大小上限 (%1 MiB)，连接已关闭").arg(maxBytes / (1024 * 1024));
}

} // namespace HubSockets
