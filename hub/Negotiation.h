#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The negotiate step of the SignalR connect pipeline as pure functions: where the POST
// goes, what the hub's answer says, which WebSocket address follows, and what a failure
// on the way usually means. Addresses stay strings and are joined as the official
// clients join them, so that what is logged is exactly what was typed plus what was
// added (QUrl would re-encode the user's query).
namespace Negotiation {

// The negotiate protocol version this client asks for: version 1 answers carry a
// connectionToken for the WebSocket address, version 0 answers only a connectionId.
constexpr int Version = 1;
// Redirect answers followed before giving up, as the official clients do.
constexpr int MaxRedirects = 100;
constexpr int DefaultTimeoutMs = 15000;

inline constexpr char WebSocketsTransport[] = "WebSockets";

// <hub>/negotiate?<query>&negotiateVersion=1: the hub address rule
// (HubProtocol::normalizeHubUrl) with ws/wss read as http/https, "/negotiate" inserted
// before an existing query, the version added unless the query already names one.
QString negotiateUrl(const QString& hubAddress);

// The WebSocket address: the hub address rule, then id=<connectionToken> and
// access_token=<queryToken> added to the query, each only when not empty, percent-encoded.
QString webSocketUrl(const QString& hubAddress, const QString& connectionToken,
                     const QString& queryToken);

// The address with the value of access_token replaced by ***, for the log.
QString maskAccessToken(const QString& url);

struct Answer
{
    enum class Kind {
        Connect,      // open the WebSocket (if webSockets)
        Redirect,     // negotiate again at url with accessToken
        HubError,     // the hub refused: error
        OldServer,    // "ProtocolVersion": an ASP.NET (not Core) SignalR server
        NotNegotiate, // not JSON, not an object, or no connection id
    };
    Kind kind = Kind::NotNegotiate;
    int version = 0;         // negotiateVersion; 0 when absent
    QString connectionId;    // Connect
    QString connectionToken; // Connect: the id of the WebSocket address
    QStringList transports;  // Connect: "Name (Format, Format)" per offered transport
    bool webSockets = false; // Connect: WebSockets is offered
    QString url;             // Redirect
    QString accessToken;     // Redirect; empty keeps the current token
    QString error;           // HubError
};

// Read in the official clients' order: error, ProtocolVersion, url, connection.
Answer parseAnswer(const QByteArray& body);

struct Header
{
    QByteArray name;
    QByteArray value;
};

struct HeaderLines
{
    QList<Header> headers;
    QStringList refused; // as typed
};

// "Name: value" lines; blank lines are skipped, a line without a colon or whose name is
// not an HTTP token is refused.
HeaderLines parseHeaderLines(const QStringList& lines);

// The usual cause of an HTTP status met on negotiate or on the upgrade, or empty.
QString statusHint(int status);

} // namespace Negotiation
