#pragma once

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

// The log entry for a connection closed because its peer sent too large a message.
inline QString oversizeNotice(quint64 maxBytes)
{
    return QStringLiteral("消息超过大小上限 (%1 MiB)，连接已关闭").arg(maxBytes / (1024 * 1024));
}

} // namespace HubSockets
