#include "relayhead.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// HTTP/2 origins send no reason phrase; the relay speaks HTTP/1.1 and wants one.
QByteArray standardReason(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 203:
        return "Non-Authoritative Information";
    case 204:
        return "No Content";
    case 205:
        return "Reset Content";
    case 206:
        return "Partial Content";
    case 300:
        return "Multiple Choices";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 406:
        return "Not Acceptable";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return {};
    }
}

// Qt inflates these codings by itself because it chose the Accept-Encoding;
// the relayed body is then the decoded one.
bool isDecodedByQt(const QByteArray &contentEncoding)
{
    static const QByteArrayList decoded{"gzip", "deflate", "br", "zstd"};
    return decoded.contains(contentEncoding.trimmed().toLower());
}

// Qt joins repeated headers with ", ", so only a single plain number is a
// length the relay can vouch for.
bool isSingleLength(const QByteArray &value)
{
    const QByteArray digits = value.trimmed();
    if (digits.isEmpty())
        return false;
    for (const char c : digits)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

QByteArray relayedHead(const QNetworkReply &reply)
{
    int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        status = 200;
    QByteArray reason = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    if (reason.isEmpty())
        reason = standardReason(status);

    // Qt decodes only what it asked for: a request with its own
    // Accept-Encoding gets the body as the origin sent it.
    const bool decoded = !reply.request().hasRawHeader("Accept-Encoding") &&
                         isDecodedByQt(reply.rawHeader("Content-Encoding"));
    // A chunked body's length is the chunks', whatever else the origin says.
    const bool chunked = reply.hasRawHeader("Transfer-Encoding");
    // A reply over with nothing left to read has no body to relay: a length
    // written now would promise bytes never sent.
    const bool bodyless = reply.isFinished() && reply.bytesAvailable() == 0;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    for (const auto &[name, value] : reply.rawHeaderPairs()) {
        const QByteArray key = name.toLower();
        // The body arrives de-chunked, and this relay sets its own Connection.
        if (key == "transfer-encoding" || key == "connection" || key == "keep-alive")
            continue;
        if (key == "content-length") {
            // Neither a length of the encoded body nor a merged one describes
            // what the client gets; the close then ends the body.
            if (decoded || chunked || !isSingleLength(value))
                continue;
            if (bodyless && value.trimmed() != "0")
                continue;
        }
        // Does not describe a body that Qt has already inflated.
        if (decoded && key == "content-encoding")
            continue;
        // Qt joins repeated Set-Cookie headers with newlines.
        for (const QByteArray &line : value.split('\n'))
            head += name + ": " + line + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    return head;
}
