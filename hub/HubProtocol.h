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

// The hub protocols this program speaks (MessagePackCodec writes and reads the second),
// and the version of them that the handshake asks for. The handshake is JSON in both.
inline constexpr char JsonProtocolName[] = "json";
inline constexpr char MessagePackProtocolName[] = "messagepack";
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
// Time without any record after which the client takes the hub for gone, as the official
// clients do.
constexpr int ServerTimeoutMs = 30000;

// What the official clients answer when a hub asks them for a result they have no
// handler for; the hub's call then fails at once instead of hanging.
inline constexpr char NoClientResultError[] = "Client didn't provide a result.";

// {"protocol":"json","version":1} and the separator, or the same for another protocol.
QString handshakeRequest(const char* protocol = JsonProtocolName);

QString clientInvocation(const QString& method, const QByteArray& payload, qint32 invocationId);
// Without an invocation id: the simulated hub's pushes and the client's fire-and-forget calls.
QString serverInvocation(const QString& method, const QByteArray& payload);
QString subscribeInvocation(const QString& method, qint64 msecsSinceEpoch);
QString streamInvocation(const QString& method, const QByteArray& payload, qint32 invocationId);
QString cancelInvocation(const QString& invocationId);

// Keep-alive and handshake records of the protocol.
QString pingRecord();                       // {"type":6}
QString handshakeResponse();                // {}
QString handshakeError(const QString& error); // {"error":"..."}

// Records the simulated hub writes: any JSON arguments, completions with a result or an
// error (the invocation id is echoed as it came).
QString invocationRecord(const QString& target, const QJsonArray& arguments);
QString completionResult(const QJsonValue& invocationId, const QJsonValue& result);
QString completionError(const QJsonValue& invocationId, const QString& error);
// The end of a stream, or of a call that returns nothing: neither result nor error.
QString completionEmpty(const QJsonValue& invocationId);
QString streamItem(const QJsonValue& invocationId, const QJsonValue& item);
// "error" only when there is one, "allowReconnect" only when true, as ASP.NET Core writes it.
QString closeRecord(const QString& error, bool allowReconnect);

struct HandshakeRequest
{
    bool isHandshake = false; // an object with a "protocol" key
    QString protocol;
    int version = 0;
    bool messagePack() const { return protocol == QLatin1String(MessagePackProtocolName); }
    bool supported() const
    {
        return isHandshake && (protocol == QLatin1String(JsonProtocolName) || messagePack())
               && version >= HandshakeVersion;
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
    QStringList arguments;  // Typed only: the texts for the charts, one per invocation
                            // argument, or the item of a stream item
};

Record classify(const QString& record);
// How a typed record's numbers, booleans and nulls among its arguments read. JSON hubs'
// rows leave them empty, as this program always has; a MessagePack message is typed
// throughout, and its scalars are the data a user came to see.
enum class Scalars { Empty, Shown };
// The same for an already parsed object (never Raw).
Record classifyObject(const QJsonObject& object, Scalars scalars = Scalars::Empty);

// The log row of a typed record, for every message type (see the README's table). A
// completion shows the round trip of the call it answers when roundTripMs >= 0 (this
// client sent that call). A ping reads "[心跳]"; whether it is shown is the caller's choice.
QString describeTyped(const Record& record, bool english, qint64 roundTripMs = -1);

// The text of an invocation id, result, item or error as a row shows it: strings as they
// are, anything else as compact JSON; empty when undefined.
QString valueText(const QJsonValue& value);

// Compact JSON of an object with sorted keys, as the program writes it.
QString compactJson(const QJsonObject& object);

// The answer to a negotiation: version 1 carries a separate connection token (the id the
// client then connects with), version 0 only the connection id. Only the WebSockets
// transport is offered, in both transfer formats: Text for JSON clients, Binary for
// MessagePack ones.
constexpr int NegotiateVersion = 1;
QString negotiateResponse(int version, const QString& connectionId, const QString& connectionToken);

// The hub address rule: ws://, wss:// kept; http:// opens as ws://, https:// as wss://
// (schemes recognised in any case); anything else gets ws:// in front.
QString normalizeHubUrl(const QString& address);

} // namespace HubProtocol
