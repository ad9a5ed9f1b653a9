#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// Internal to the relay; declared here so that tests can call it directly.

// The request line, "\r\n" included, must fit in this many bytes.
constexpr int kMaxRequestLineBytes = 8192;

struct RequestLine
{
    enum class Status
    {
        Incomplete,
        BadRequest,
        TooLong,
        Target
    };

    Status status = Status::Incomplete;
    QString target; // set only with Status::Target
};

// Looks at the bytes a client has sent so far. Method and protocol version are
// not checked: every request is fetched as a GET.
RequestLine parseRequestLine(const QByteArray &buffer);

// The origin's URL for an origin-form target, or an invalid URL when the
// target is in another form or would lead away from the origin's scheme, host
// or port.
QUrl upstreamUrl(const QString &targetHost, const QString &target);

// Time a client gets to complete its request line. Tests shorten it.
int requestLineTimeoutMs();
void setRequestLineTimeoutMs(int ms);
