// korvahub_floodpeer: a hub on 127.0.0.1 that floods its clients with small invocations,
// for the ingest, responsiveness and memory benchmarks. It runs in its own process so
// that producing the flood costs the measured program nothing.
//
//   korvahub_floodpeer COUNT
//
// Prints "PORT <n>" on standard output once it listens. Each client that connects gets,
// after its first text message (the hub handshake request), the acknowledgement {} and
// then COUNT invocations
//   {"type":1,"target":"ReceiveMessage","arguments":["user1","hello <i>"]} + 0x1E
// one per WebSocket message, numbered from 0 per connection. An invocation the client
// sends with the target "Flood" and one argument K (a decimal text) asks for K more,
// numbered on. The peer speaks WebSocket over QTcpSocket itself (upgrade, frames) so it
// can hold the amount of unsent data exactly: it writes as fast as the reader takes,
// never more than a small window ahead. It ends when its parent process goes away.

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "RawWebSocket.h"

namespace {

// Unsent bytes the peer keeps queued: enough to keep the link busy, small enough that
// the flood follows the reader's pace.
constexpr qint64 WriteWindow = 256 * 1024;

class FloodConnection : public QObject
{
public:
    FloodConnection(QTcpSocket* socket, qint64 initialCount)
        : QObject(socket)
        , socket(socket)
        , initialCount(initialCount)
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void onReadyRead()
    {
        buffer += socket->readAll();
        if (!upgraded) {
            const QByteArray answer = RawWebSocket::takeUpgrade(buffer);
            if (answer.isEmpty())
                return;
            socket->write(answer);
            upgraded = true;
        }
        readFrames();
    }

    // Client frames are masked; only whole frames are taken, the rest waits for more data.
    void readFrames()
    {
        for (;;) {
            if (buffer.size() < 2)
                return;
            const auto* b = reinterpret_cast<const unsigned char*>(buffer.constData());
            const quint8 opcode = b[0] & 0x0F;
            quint64 length = b[1] & 0x7F;
            qsizetype pos = 2;
            if (length == 126) {
                if (buffer.size() < 4)
                    return;
                length = (quint64(b[2]) << 8) | b[3];
                pos = 4;
            } else if (length == 127) {
                if (buffer.size() < 10)
                    return;
                length = 0;
                for (int i = 0; i < 8; ++i)
                    length = (length << 8) | b[2 + i];
                pos = 10;
            }
            const bool masked = b[1] & 0x80;
            const qsizetype maskPos = pos;
            if (masked)
                pos += 4;
            if (quint64(buffer.size() - pos) < length)
                return;
            QByteArray payload = buffer.mid(pos, qsizetype(length));
            if (masked) {
                for (qsizetype i = 0; i < payload.size(); ++i)
                    payload[i] = char(payload[i] ^ b[maskPos + (i % 4)]);
            }
            buffer.remove(0, pos + qsizetype(length));
            if (opcode == 0x8) { // close: answer it and hang up
                socket->write(RawWebSocket::frameHeader(0x8, 2) + QByteArray("\x03\xe8", 2));
                socket->disconnectFromHost();
                return;
            }
            if (opcode == 0x1)
                onText(payload);
        }
    }

    void onText(const QByteArray& text)
    {
        if (!handshaken) {
            handshaken = true;
            sendText("{}\x1e");
            remaining += initialCount;
            pump();
            return;
        }
        const QJsonObject invocation =
            QJsonDocument::fromJson(text.left(text.indexOf('\x1e'))).object();
        if (invocation.value(QLatin1String("target")).toString() != QLatin1String("Flood"))
            return;
        remaining += invocation.value(QLatin1String("arguments")).toArray().at(0).toString().toLongLong();
        pump();
    }

    void sendText(const QByteArray& text)
    {
        socket->write(RawWebSocket::frameHeader(0x1, quint64(text.size())) + text);
    }

    void pump()
    {
        if (!upgraded || remaining <= 0)
            return;
        QByteArray chunk;
        chunk.reserve(64 * 1024 + 256);
        char message[160];
        while (remaining > 0 && socket->bytesToWrite() + chunk.size() < WriteWindow) {
            const int length = std::snprintf(
                message + 2, sizeof message - 2,
                "{\"type\":1,\"target\":\"ReceiveMessage\",\"arguments\":[\"user1\",\"hello %lld\"]}\x1e",
                static_cast<long long>(next));
            message[0] = char(0x81);
            message[1] = char(length); // always below 126 bytes
            chunk.append(message, length + 2);
            ++next;
            --remaining;
            if (chunk.size() >= 64 * 1024) {
                socket->write(chunk);
                chunk.clear();
            }
        }
        if (!chunk.isEmpty())
            socket->write(chunk);
    }

    QTcpSocket* socket;
    const qint64 initialCount;
    QByteArray buffer;
    bool upgraded = false;
    bool handshaken = false;
    qint64 remaining = 0;
    qint64 next = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 count = argc > 1 ? QByteArray(argv[1]).toLongLong() : 0;

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "floodpeer: cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server, count] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new FloodConnection(socket, count);
        }
    });

    // A peer left behind by a crashed benchmark must not live on.
    const pid_t parent = getppid();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &app, [parent] {
        if (getppid() != parent)
            QCoreApplication::quit();
    });
    watchdog.start(500);

    std::printf("PORT %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
