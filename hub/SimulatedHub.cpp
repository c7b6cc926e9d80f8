#include "SimulatedHub.h"

#include <QHostAddress>
#include <QTimer>
#include <QWebSocket>

#include "CommunicationBase.h"
#include "HubSockets.h"
#include "MessagePackCodec.h"
#include "SimulatedHubMethods.h"

namespace {

constexpr int PeerCloseGraceMs = 5000;

QString peerIdentifier(const QWebSocket* socket)
{
    return HubSockets::peerName(socket->peerAddress(), socket->peerPort());
}

} // namespace

SimulatedHub::SimulatedHub(CommunicationBase* log, QObject* parent)
    : QObject(parent)
    , m_log(log)
{
}

SimulatedHub::~SimulatedHub()
{
    // Silent: the log may already be gone when the owner is torn down.
    for (const Peer& peer : std::as_const(m_peers)) {
        disconnect(peer.socket, nullptr, this, nullptr);
        peer.socket->abort();
    }
}

bool SimulatedHub::listen(quint16 port, const QString& path)
{
    auto* candidate = new HttpFront(this);
    candidate->setHeaderTimeout(m_headerTimeoutMs);
    candidate->setHubPath(path);
    if (!candidate->listen(QHostAddress::Any, port)) {
        m_log->logSystemMessage(QStringLiteral("监听失败: ") + candidate->errorString());
        delete candidate;
        return false;
    }
    m_server = candidate;
    connect(m_server, &HttpFront::newConnection, this, &SimulatedHub::onNewConnection);
    connect(m_server, &HttpFront::noted, m_log, &CommunicationBase::logSystemMessage);
    m_log->logSystemMessage(QStringLiteral("SignalR服务器已启动: http://localhost:%1%2")
                                .arg(m_server->serverPort())
                                .arg(path));
    m_log->logSystemMessage(
        QStringLiteral("可用方法: Send(msg), SendMessage(msg), Echo(msg), Broadcast(method, msg)"));
    m_log->logSystemMessage(m_log->pick(QStringLiteral("可用流: Counter(count, delayMs)"),
                                        QStringLiteral("Streams: Counter(count, delayMs)")));
    return true;
}

quint16 SimulatedHub::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void SimulatedHub::stop()
{
    HttpFront* stopped = m_server;
    m_server = nullptr;
    // Closing a client reports its disconnection, often at once, and that handler logs
    // the departure, forgets the peer and deletes the socket later. Deleting it here
    // instead could drop a disconnection that arrives afterwards; a peer that never lets
    // the close finish is cut off after a grace period.
    const QList<Peer> peers = m_peers;
    for (const Peer& peer : peers) {
        QWebSocket* socket = peer.socket;
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        if (socket->state() != QAbstractSocket::UnconnectedState)
            QTimer::singleShot(PeerCloseGraceMs, socket, [socket] { socket->abort(); });
    }
    delete stopped;
}

void SimulatedHub::broadcast(const QString& method, const QByteArray& payload)
{
    const QString message = HubProtocol::serverInvocation(method, payload);
    for (Peer& peer : m_peers)
        sendToPeer(peer, message);
    m_log->logSentData(payload);
}

bool SimulatedHub::sendTo(const QString& identifier, const QString& method, const QByteArray& payload)
{
    for (Peer& peer : m_peers) {
        if (peer.identifier == identifier) {
            sendToPeer(peer, HubProtocol::serverInvocation(method, payload));
            m_log->logSentData(payload);
            return true;
        }
    }
    return false;
}

void SimulatedHub::disconnectPeer(const QString& identifier)
{
    for (const Peer& peer : std::as_const(m_peers)) {
        if (peer.identifier == identifier) {
            // The disconnection handling forgets the peer and logs the departure.
            peer.socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
    }
}

void SimulatedHub::closePeer(const QString& identifier, const QString& error, bool allowReconnect)
{
    for (Peer& peer : m_peers) {
        if (peer.identifier == identifier) {
            m_log->logSystemMessage(m_log->pick(QStringLiteral("向 %1 发送关闭消息: %2"),
                                                QStringLiteral("Close message sent to %1: %2"))
                                        .arg(identifier, error));
            sendToPeer(peer, HubProtocol::closeRecord(error, allowReconnect));
            peer.socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
    }
}

QStringList SimulatedHub::peerIdentifiers() const
{
    QStringList identifiers;
    for (const Peer& peer : m_peers)
        identifiers.append(peer.identifier);
    return identifiers;
}

SimulatedHub::Peer* SimulatedHub::findPeer(const QWebSocket* socket)
{
    for (Peer& peer : m_peers)
        if (peer.socket == socket)
            return &peer;
    return nullptr;
}

void SimulatedHub::onNewConnection()
{
    if (!m_server)
        return;
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        // Accepted sockets are born children of the server, which is destroyed at once
        // on stop; the hub owns them so that their deferred deletion stays valid.
        socket->setParent(this);
        HubSockets::applyMessageLimit(socket, m_maxMessageBytes);
        Peer peer;
        peer.socket = socket;
        peer.identifier = peerIdentifier(socket);
        // Pings a handshaken client after each quiet spell, as a real hub does, so the
        // official clients' server time-out never fires.
        peer.keepAlive = new QTimer(socket);
        peer.keepAlive->setSingleShot(true);
        peer.keepAlive->setInterval(m_keepAliveMs);
        connect(peer.keepAlive, &QTimer::timeout, this, [this, socket] {
            if (Peer* p = findPeer(socket))
                sendToPeer(*p, HubProtocol::pingRecord());
        });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& message) { onPeerText(socket, message); });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray& frame) { onPeerFrame(socket, frame); });
        connect(socket, &QWebSocket::disconnected, this,
                [this, socket] { onPeerDisconnected(socket); });
        m_peers.append(peer);
        m_log->logSystemMessage(QStringLiteral("客户端连接 %1").arg(peer.identifier));
        emit peerJoined(peer.identifier);
    }
}

void SimulatedHub::onPeerText(QWebSocket* socket, const QString& message)
{
    m_log->logReceivedData(m_log->encodeText(message));

    // Answering is silent: only what the client sent is logged.
    const QStringList records = HubProtocol::splitRecords(message);
    for (const QString& text : records) {
        Peer* peer = findPeer(socket);
        if (!peer)
            return;
        const HubProtocol::Record record = HubProtocol::classify(text);
        if (record.kind == HubProtocol::RecordKind::Raw)
            continue;
        if (!peer->handshaken) {
            const HubProtocol::HandshakeRequest request =
                HubProtocol::parseHandshakeRequest(record.object);
            if (!request.isHandshake)
                continue;
            if (!request.supported()) {
                sendToPeer(*peer, HubProtocol::handshakeError(
                                      QStringLiteral("Requested protocol '%1' is not available.")
                                          .arg(request.protocol)));
                socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
                return;
            }
            peer->handshaken = true;
            peer->messagePack = request.messagePack();
            sendToPeer(*peer, HubProtocol::handshakeResponse());
            if (peer->messagePack)
                m_log->logSystemMessage(m_log->pick(QStringLiteral("客户端 %1 使用 MessagePack 协议"),
                                                    QStringLiteral("Client %1 speaks MessagePack"))
                                            .arg(peer->identifier));
            continue;
        }
        if (!answer(socket, record.object))
            return;
    }
}

void SimulatedHub::onPeerFrame(QWebSocket* socket, const QByteArray& frame)
{
    Peer* peer = findPeer(socket);
    if (!peer)
        return;
    QByteArray messages = frame;
    // JSON in a binary frame is JSON all the same, and so is the handshake of either
    // protocol; a MessagePack client may follow it with messages in the same frame.
    if (!peer->messagePack) {
        const qsizetype end = peer->handshaken ? 0 : frame.indexOf(char(HubProtocol::RecordSeparator)) + 1;
        const qsizetype cut = end > 0 ? end : frame.size();
        onPeerText(socket, QString::fromUtf8(frame.left(cut)));
        peer = findPeer(socket);
        if (!peer || !peer->messagePack || cut == frame.size())
            return;
        messages = frame.mid(cut);
    }
    // One row per frame, as for JSON: what each message was read as, or why it was not.
    const QString separator(QChar(HubProtocol::RecordSeparator));
    const MessagePackCodec::Frame read = MessagePackCodec::read(messages);
    QString text;
    for (const MessagePackCodec::Message& message : read.messages)
        text += HubProtocol::compactJson(message.message) + separator;
    if (!read.error.isEmpty())
        text += MessagePackCodec::errorRow(read.error, m_log->englishTexts()) + separator;
    m_log->logDecoded(LogEntry::RX, messages, text);
    for (const MessagePackCodec::Message& message : read.messages)
        if (!answer(socket, message.message))
            return;
}

bool SimulatedHub::answer(QWebSocket* socket, const QJsonObject& message)
{
    Peer* peer = findPeer(socket);
    if (!peer)
        return false;
    const int type = HubProtocol::messageType(message);
    if (type == int(HubProtocol::MessageType::Close)) {
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        return false;
    }
    if (type == int(HubProtocol::MessageType::StreamInvocation))
        startStream(*peer, message);
    else if (type == int(HubProtocol::MessageType::CancelInvocation))
        cancelStream(*peer, message.value(QLatin1String("invocationId")));
    if (type != int(HubProtocol::MessageType::Invocation))
        return true;
    SimulatedHubMethods::Reply reply;
    if (!m_autoReplies.apply(message, reply))
        reply = SimulatedHubMethods::dispatch(message);
    for (const SimulatedHubMethods::Push& push : reply.pushes) {
        const QString invocation = HubProtocol::invocationRecord(push.target, push.arguments);
        if (!push.toAll) {
            sendToPeer(*peer, invocation);
            continue;
        }
        for (Peer& other : m_peers)
            sendToPeer(other, invocation);
        peer = findPeer(socket);
        if (!peer)
            return false;
    }
    if (!reply.completion.isEmpty())
        sendToPeer(*peer, reply.completion);
    return true;
}

void SimulatedHub::sendToPeer(Peer& peer, const QString& text)
{
    if (peer.cutOff)
        return;
    QWebSocket* socket = peer.socket;
    if (peer.messagePack)
        socket->sendBinaryMessage(MessagePackCodec::fromJsonRecords(text));
    else
        socket->sendTextMessage(text);
    if (peer.handshaken)
        peer.keepAlive->start();
    // A burst within one event-loop turn is still waiting for the kernel, not for the
    // client: hand it over before judging.
    if (socket->bytesToWrite() > m_maxUnsentBytes)
        socket->flush();
    if (socket->bytesToWrite() <= m_maxUnsentBytes)
        return;
    peer.cutOff = true;
    m_log->logSystemMessage(m_log->pick(QStringLiteral("客户端 %1 未读取的数据超过 %2 MiB，已断开"),
                                        QStringLiteral("Client %1 left more than %2 MiB unread; disconnected"))
                                .arg(peer.identifier)
                                .arg(double(m_maxUnsentBytes) / (1024 * 1024)));
    // Later: the caller may be walking the peer list, which the disconnection edits.
    QTimer::singleShot(0, socket, [socket] { socket->abort(); });
}

void SimulatedHub::startStream(Peer& peer, const QJsonObject& invocation)
{
    const QJsonValue id = invocation.value(QLatin1String("invocationId"));
    const QString key = HubProtocol::valueText(id);
    SimulatedHubMethods::StreamPlan plan = SimulatedHubMethods::planStream(invocation);
    if (plan.error.isEmpty() && peer.streams.contains(key))
        plan.error = QStringLiteral("Invocation ID '%1' is already in use.").arg(key);
    if (!plan.error.isEmpty()) {
        sendToPeer(peer, HubProtocol::completionError(id, plan.error));
        return;
    }
    // One item per tick, the first at once; the completion follows the last item.
    QWebSocket* socket = peer.socket;
    auto* timer = new QTimer(socket);
    peer.streams.insert(key, timer);
    connect(timer, &QTimer::timeout, this, [this, socket, timer, id, key, plan, next = 0]() mutable {
        Peer* p = findPeer(socket);
        if (!p)
            return;
        if (next < plan.count) {
            sendToPeer(*p, HubProtocol::streamItem(id, next++));
            timer->setInterval(plan.delayMs);
        }
        if (next < plan.count)
            return;
        sendToPeer(*p, HubProtocol::completionEmpty(id));
        p->streams.remove(key);
        timer->stop();
        timer->deleteLater();
    });
    timer->start(0);
}

void SimulatedHub::cancelStream(Peer& peer, const QJsonValue& invocationId)
{
    QTimer* timer = peer.streams.take(HubProtocol::valueText(invocationId));
    if (!timer)
        return;
    timer->stop();
    timer->deleteLater();
    // As ASP.NET Core does: the cancelled stream still completes, without an error.
    sendToPeer(peer, HubProtocol::completionEmpty(invocationId));
}

void SimulatedHub::onPeerDisconnected(QWebSocket* socket)
{
    const Peer* peer = findPeer(socket);
    if (!peer)
        return;
    const QString identifier = peer->identifier;
    m_peers.removeIf([socket](const Peer& p) { return p.socket == socket; });
    if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        m_log->logSystemMessage(HubSockets::oversizeNotice(m_maxMessageBytes));
    m_log->logSystemMessage(QStringLiteral("客户端断开: %1").arg(identifier));
    emit peerLeft(identifier);
    socket->deleteLater();
}
