#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>

// The server side of the WebSocket wire written by hand, for peers that must send at
// the reader's pace or put malformed frames on the wire (the flood peer).
namespace RawWebSocket {

// Header of one unmasked server frame; the length may claim more than will follow.
inline QByteArray frameHeader(quint8 opcode, quint64 length, bool fin = true)
{
    QByteArray header;
    header.append(char((fin ? 0x80 : 0x00) | opcode));
    if (length <= 125) {
        header.append(char(length));
    } else if (length <= 0xFFFF) {
        header.append(char(126));
        header.append(char(length >> 8));
        header.append(char(length & 0xFF));
    } else {
        header.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            header.append(char((length >> shift) & 0xFF));
    }
    return header;
}

// Takes a complete HTTP upgrade request off the front of buffer and returns the
// "101 Switching Protocols" answer; empty while the request is still incomplete.
inline QByteArray takeUpgrade(QByteArray& buffer)
{
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return QByteArray();
    QByteArray key;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "sec-websocket-key")
            key = line.mid(colon + 1).trimmed();
    }
    buffer.remove(0, end + 4);
    const QByteArray accept =
        QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
            .toBase64();
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: "
           + accept + "\r\n\r\n";
}

} // namespace RawWebSocket
