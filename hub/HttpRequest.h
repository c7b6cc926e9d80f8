#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrlQuery>

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// The status codes the simulated hub answers with.
namespace HttpStatus {
enum : int {
    Ok = 200,
    NoContent = 204,
    BadRequest = 400,
    NotFound = 404,
    PayloadTooLarge = 413,
    HeaderFieldsTooLarge = 431,
};
} // namespace HttpStatus

// One HTTP/1.x request head as the simulated hub's front reads it off a socket, and the
// answers it writes back. Pure: nothing here touches a socket.
//
// Deliberately narrow: origin-form targets only, no folded header lines, no chunked
// bodies (no SignalR client sends one), so anything unusual is refused rather than
// guessed at. A head is only read once its blank line has arrived.
struct HttpRequest
{
    enum class Parse {
        Incomplete, // the blank line after the headers has not come yet
        Complete,
        Malformed,
        TooLarge,   // no blank line within the allowed head size
    };

    QByteArray method;
    QByteArray path;       // the target without its query, still percent-encoded
    QByteArray target;     // as written on the request line
    QUrlQuery query;
    bool http10 = false;   // HTTP/1.0 rather than HTTP/1.1
    HttpHeaders headers;   // names lower-cased, values trimmed
    qint64 contentLength = 0;
    qsizetype headBytes = 0; // request line, headers and blank line

    // The first value of a header (name in lower case), or an empty array.
    QByteArray header(const QByteArray& name) const;
    bool isWebSocketUpgrade() const;
    // The client wants the connection closed after this request.
    bool wantsClose() const;

    // Reads the head at the start of `buffer`; a head longer than maxHeadBytes is
    // TooLarge even when its end has not arrived yet.
    static Parse parse(const QByteArray& buffer, qsizetype maxHeadBytes, HttpRequest& request);
};

// The bytes of one HTTP/1.1 answer: status line, the given headers, Content-Length,
// Connection and the body. A HEAD answer announces the body's length but leaves it out.
QByteArray httpAnswer(int status, const HttpHeaders& headers, const QByteArray& body, bool close,
                      bool headOnly = false);
