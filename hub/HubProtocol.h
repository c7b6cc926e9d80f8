#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// The JSON hub protocol as this program writes and reads it: builders for every record
// it sends, splitting of text messages at the record separator, and classification of
// received records. Written JSON is compact with sorted keys and raw UTF-8.
namespace HubProtocol {

constexpr char16_t RecordSeparator = u'\x1e';

// The hub protocol this program speaks, and the version of it that the handshake asks for.
inline constexpr char JsonProtocolName[] = "json";
constexpr int HandshakeVersion = 1;

// The "type" field of hub messages.
enum class MessageType : int {
    Invocation = 1,
    StreamItem = 2,
    Completion = 3,
    StreamInvocation = 4,
    CancelInvocation = 5,
    Ping = 6,
    Close = 7,
};

// The message type of a parsed record, or 0 when it has none that is a number.
int messageType(const QJsonObject& object);

// Largest WebSocket message either side accepts; a peer that sends more is cut off
// rather than allowed to exhaust memory.
constexpr quint64 MaxMessageBytes = 64ull * 1024 * 1024;

// Quiet time after which either end pings its peer: half the usual 30 s time-out.
constexpr int KeepAliveIntervalMs = 15000;

// {"protocol":"json","version":1} and the separator, written as a literal.
QString handshakeRequest();

QString clientInvocation(const QString& method, const QByteArray& payload, qint32 invocationId);
QString serverInvocation(const QString& method, const QByteArray& payload);
QString subscribeInvocation(const QString& method, qint64 msecsSinceEpoch);

// Keep-alive and handshake records of the protocol.
QString pingRecord();                       // {"type":6}
QString handshakeResponse();                // {}
QString handshakeError(const QString& error); // {"error":"..."}

// Records the simulated hub writes: any JSON arguments, completions with a result or an
// error (the invocation id is echoed as it came).
QString invocationRecord(const QString& target, const QJsonArray& arguments);
QString completionResult(const QJsonValue& invocationId, const QJsonValue& result);
QString completionError(const QJsonValue& invocationId, const QString& error);

struct HandshakeRequest
{
    bool isHandshake = false; // an object with a "protocol" key
    QString protocol;
    int version = 0;
    bool supported() const
    {
        return isHandshake && protocol == QLatin1String(JsonProtocolName) && version >= HandshakeVersion;
    }
};
HandshakeRequest parseHandshakeRequest(const QJsonObject& object);

// Splits at every separator, dropping empty pieces; a trailing piece without a separator
// is a record too.
QStringList splitRecords(const QString& message);

enum class RecordKind {
    HandshakeAck,     // object with both "protocol" and "version"
    Typed,            // object with "type" (value not examined)
    ErrorCompletion,  // no "type"; "invocationId" and "error"
    SilentCompletion, // no "type"; "invocationId" without "error"
    Untyped,          // any other object
    Raw               // not JSON, or JSON whose top level is not an object
};

struct Record
{
    RecordKind kind = RecordKind::Raw;
    QJsonObject object;     // the parsed object; empty for raw text
    QString text;           // Typed: rendered "[target](args)"; Error: error text;
                            // Untyped: first argument string; Raw: the record itself
    QStringList arguments;  // Typed only: one text per argument
};

Record classify(const QString& record);
// The same for an already parsed object (never Raw).
Record classifyObject(const QJsonObject& object);

// Compact JSON of an object with sorted keys, as the program writes it.
QString compactJson(const QJsonObject& object);

// The answer to a negotiation: version 1 carries a separate connection token (the id the
// client then connects with), version 0 only the connection id. Only the WebSockets
// transport is offered, in both transfer formats, so that a MessagePack client still
// reaches the handshake and hears why it is refused.
constexpr int NegotiateVersion = 1;
QString negotiateResponse(int version, const QString& connectionId, const QString& connectionToken);

// The hub address rule: ws://, wss:// kept; http:// opens as ws://, https:// as wss://
// (schemes recognised in any case); anything else gets ws:// in front.
QString normalizeHubUrl(const QString& address);

} // namespace HubProtocol
