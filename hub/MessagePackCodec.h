#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

// The MessagePack hub protocol as this program writes and reads it, on top of msgpack-c.
// A binary WebSocket frame holds one or more messages, each after its length as a VarInt
// (7 bits a byte, low groups first, at most 5 bytes); a message is an array whose first
// item is the message type, as HubProtocol::MessageType numbers them.
//
// Messages are decoded into the very objects the JSON protocol carries ("type", "target",
// "arguments", "invocationId", "result", "error", ...), so that everything downstream of
// HubProtocol::classifyObject treats both protocols alike; encoding takes those objects
// back. MessagePack values with no JSON counterpart become strings: binary as
// "base64(...)", timestamps (extension type -1) as ISO 8601 dates in UTC, other
// extensions as "ext(type, hex)". Such strings are sent back as strings.
//
// Malformed input never reads past the bytes given and never asserts: each function says
// what went wrong instead. Nesting deeper than MaxDepth is malformed; msgpack-c's own
// unpacker stops at 32 levels and allocates an array's slots as soon as it reads the
// count, so its parsing state machine is instantiated here with callbacks of this unit.
namespace MessagePackCodec {

constexpr int MaxDepth = 100;
constexpr int MaxLengthPrefixBytes = 5;

struct Decoded
{
    QJsonObject message; // as the JSON protocol would carry it; empty on error
    QString error;
};
// One message body, without its length prefix.
Decoded decode(QByteArrayView body);

// One message of a frame: the bytes it came as, length prefix included, and what they say.
struct Message
{
    QByteArray wire;
    QJsonObject message;
};
struct Frame
{
    QList<Message> messages;
    // Set at the first thing that cannot be read (a length prefix cut short or too long, a
    // length past the end of the frame, a message decode() refuses): a frame that has
    // gone wrong is not trusted further, and `rest` holds its bytes from there on.
    QString error;
    QByteArray rest;
};
Frame read(const QByteArray& frame);

// The body after its length prefix.
QByteArray framed(const QByteArray& body);

// The message body for such an object; empty when its "type" is not one this protocol
// defines. Invocation ids are written as strings whatever they were.
QByteArray encode(const QJsonObject& message);

// The records of a JSON text that HubProtocol wrote, each typed one framed as
// MessagePack; others (the handshake's) stay JSON text with their separator, as the
// handshake is JSON in both protocols.
QByteArray fromJsonRecords(const QString& records);

// What a typed send means in MessagePack: the text as one JSON value when it is one
// (42, "a", {"k":[1]}), else the text itself as a string.
QJsonValue argumentValue(const QByteArray& payload);

// The log row of a message or frame that could not be read.
QString errorRow(const QString& error, bool english);

} // namespace MessagePackCodec
