#include "requestline.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant violated: %s\n", what);
        __builtin_trap();
    }
}

struct Origin
{
    QString text;
    QString scheme;
    QString host;
    int port; // as QUrl reports it: -1 when the URL has none
    int samePort; // the scheme's default port when the origin has none
};

void checkAuthority(const QUrl &url, const Origin &o)
{
    check(url.scheme() == o.scheme, "scheme changed");
    check(url.host() == o.host, "host changed");
    check(url.port() == o.port || url.port() == o.samePort, "port changed");
    check(url.userInfo().isEmpty(), "user info appeared");
}

void checkUpstream(const QString &target)
{
    static const Origin origins[] = {
        {QStringLiteral("https://vostan.tv"), QStringLiteral("https"),
         QStringLiteral("vostan.tv"), -1, 443},
        {QStringLiteral("http://127.0.0.1:8765"), QStringLiteral("http"),
         QStringLiteral("127.0.0.1"), 8765, 8765},
    };
    for (const Origin &o : origins) {
        const QUrl url = upstreamUrl(o.text, target);
        if (!url.isValid())
            continue;
        check(target.startsWith(QLatin1Char('/')), "non-path target accepted");
        checkAuthority(url, o);
        // The fetch goes out in encoded form; reading that back must not
        // land anywhere else either.
        const QUrl sent = QUrl::fromEncoded(url.toEncoded(), QUrl::StrictMode);
        check(sent.isValid(), "encoded form does not parse");
        checkAuthority(sent, o);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray buffer(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype end = buffer.indexOf("\r\n");
    const bool lineFits = end >= 0 && end + 2 <= kMaxRequestLineBytes;

    const RequestLine line = parseRequestLine(buffer);
    switch (line.status) {
    case RequestLine::Status::TooLong:
        check(!lineFits, "TooLong although the line fits");
        check(buffer.size() >= kMaxRequestLineBytes, "TooLong below the limit");
        break;
    case RequestLine::Status::Incomplete:
        check(end < 0, "Incomplete although the line ended");
        check(buffer.size() < kMaxRequestLineBytes, "Incomplete at the limit");
        break;
    case RequestLine::Status::BadRequest:
        check(lineFits, "BadRequest without a complete line");
        break;
    case RequestLine::Status::Target:
        // The parser hands over any second word; refusing non-paths is
        // upstreamUrl's job, checked below.
        check(lineFits, "Target without a complete line");
        check(!line.target.isEmpty(), "empty target");
        check(!line.target.contains(QLatin1Char(' ')), "space in target");
        check(!line.target.contains(QLatin1String("\r\n")), "line end in target");
        checkUpstream(line.target);
        break;
    }
    if (line.status != RequestLine::Status::Target)
        check(line.target.isEmpty(), "target set without Target");

    checkUpstream(QString::fromUtf8(buffer));
    checkUpstream(QString::fromLatin1(buffer));
    return 0;
}
