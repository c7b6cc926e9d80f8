#include "HttpRequest.h"

#include <cctype>

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");
const QByteArray HeadEnd = QByteArrayLiteral("\r\n\r\n");
// More digits than this cannot be a length any limit here would let through, and could
// overflow the conversion.
constexpr int MaxLengthDigits = 15;

// A token as HTTP defines it (methods, header names): visible ASCII without separators.
bool isToken(const QByteArray& text)
{
    static const QByteArray separators = QByteArrayLiteral("()<>@,;:\\\"/[]?={} \t");
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (c <= ' ' || c >= 127 || separators.contains(c))
            return false;
    return true;
}

bool hasControl(const QByteArray& text)
{
    for (const char c : text)
        if ((c >= 0 && c < ' ' && c != '\t') || c == 127)
            return true;
    return false;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case HttpStatus::Ok: return "OK";
    case HttpStatus::NoContent: return "No Content";
    case HttpStatus::BadRequest: return "Bad Request";
    case HttpStatus::NotFound: return "Not Found";
    case HttpStatus::PayloadTooLarge: return "Payload Too Large";
    case HttpStatus::HeaderFieldsTooLarge: return "Request Header Fields Too Large";
    default: return "Unknown";
    }
}

} // namespace

QByteArray HttpRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return QByteArray();
}

bool HttpRequest::isWebSocketUpgrade() const
{
    return method == "GET" && header("upgrade").toLower().contains("websocket");
}

bool HttpRequest::wantsClose() const
{
    const QByteArray connection = header("connection").toLower();
    return http10 ? !connection.contains("keep-alive") : connection.contains("close");
}

HttpRequest::Parse HttpRequest::parse(const QByteArray& buffer, qsizetype maxHeadBytes, HttpRequest& request)
{
    const qsizetype end = buffer.indexOf(HeadEnd);
    if (end < 0)
        return buffer.size() >= maxHeadBytes ? Parse::TooLarge : Parse::Incomplete;
    if (end + HeadEnd.size() > maxHeadBytes)
        return Parse::TooLarge;

    request = HttpRequest();
    request.headBytes = end + HeadEnd.size();
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    // Every line must have ended in CR LF; a bare LF leaves a line without its CR.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        if (!lines.at(i).endsWith('\r'))
            return Parse::Malformed;

    const QList<QByteArray> requestLine = lines.first().chopped(lines.size() > 1 ? 1 : 0).split(' ');
    if (requestLine.size() != 3 || !isToken(requestLine.at(0)) || !requestLine.at(1).startsWith('/')
        || hasControl(requestLine.at(1)))
        return Parse::Malformed;
    if (requestLine.at(2) != "HTTP/1.1" && requestLine.at(2) != "HTTP/1.0")
        return Parse::Malformed;
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    request.http10 = requestLine.at(2) == "HTTP/1.0";
    const qsizetype question = request.target.indexOf('?');
    request.path = request.target.left(question < 0 ? request.target.size() : question);
    if (question >= 0)
        request.query.setQuery(QString::fromLatin1(request.target.mid(question + 1)));

    bool lengthSeen = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = i + 1 < lines.size() ? lines.at(i).chopped(1) : lines.at(i);
        const qsizetype colon = line.indexOf(':');
        // A line starting with white space would continue the previous one (obsolete
        // folding): refused with the rest.
        if (colon <= 0 || !isToken(line.left(colon)) || hasControl(line))
            return Parse::Malformed;
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "transfer-encoding")
            return Parse::Malformed;
        if (name == "content-length") {
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            if (!ok || length < 0 || value.size() > MaxLengthDigits || !std::isdigit(value.front())
                || (lengthSeen && length != request.contentLength))
                return Parse::Malformed;
            request.contentLength = length;
            lengthSeen = true;
        }
        request.headers.append({name, value});
    }
    return Parse::Complete;
}

QByteArray httpAnswer(int status, const HttpHeaders& headers, const QByteArray& body, bool close,
                      bool headOnly)
{
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + LineEnd;
    for (const auto& [name, value] : headers)
        answer += name + ": " + value + LineEnd;
    answer += "Content-Length: " + QByteArray::number(body.size()) + LineEnd;
    answer += QByteArray("Connection: ") + (close ? "close" : "keep-alive") + LineEnd + LineEnd;
    if (!headOnly)
        answer += body;
    return answer;
}
