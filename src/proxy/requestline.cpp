#include "requestline.h"

#include <atomic>

namespace {
// Set by tests on their own thread, read on the relay's.
std::atomic<int> timeoutMs{30000};
} // namespace

RequestLine parseRequestLine(const QByteArray &buffer)
{
    RequestLine result;
    const qsizetype end = buffer.indexOf("\r\n");
    if (end < 0 || end + 2 > kMaxRequestLineBytes) {
        if (buffer.size() >= kMaxRequestLineBytes)
            result.status = RequestLine::Status::TooLong;
        return result;
    }

    const QStringList parts =
        QString::fromUtf8(buffer.left(end)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 2) {
        result.status = RequestLine::Status::BadRequest;
        return result;
    }
    result.status = RequestLine::Status::Target;
    result.target = parts.at(1);
    return result;
}

QUrl upstreamUrl(const QString &targetHost, const QString &target)
{
    // Anything but a path would be glued onto the origin's authority
    // ("@host/x", ".host/x", ":9999/x") and could send the fetch elsewhere.
    if (!target.startsWith(QLatin1Char('/')))
        return {};

    const QUrl origin(targetHost);
    const QUrl url(targetHost + target);
    if (!url.isValid() || url.scheme() != origin.scheme() || url.host() != origin.host() ||
        url.port() != origin.port() || url.userInfo() != origin.userInfo())
        return {};
    return url;
}

int requestLineTimeoutMs()
{
    return timeoutMs;
}

void setRequestLineTimeoutMs(int ms)
{
    timeoutMs = ms;
}
