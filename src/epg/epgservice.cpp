#include "epgservice.h"

#include "channelorigin.h"
#include "epgparsing.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// Set on a reply aborted for its size, so that its payload says why.
constexpr char kTooLargeProperty[] = "vostanGuideTooLarge";

// How long after a programme's start the guide is asked again: time for the
// origin's own "on air" to move on.
constexpr qint64 kAfterStartMs = 5000;
// A QTimer's interval is an int.
constexpr qint64 kLongestWaitMs = 24LL * 24 * 3600 * 1000;

} // namespace

EpgService::EpgService(QObject *parent, quint16 proxyPort) : QObject(parent), proxyPort(proxyPort)
{
    nextProgramTimer.setSingleShot(true);
    connect(&nextProgramTimer, &QTimer::timeout, this, &EpgService::fetch);
}

void EpgService::fetch()
{
    const QString base =
        proxyPort != 0 ? QStringLiteral("http://127.0.0.1:%1").arg(proxyPort) : channelOrigin();
    QNetworkRequest request(QUrl(base + QStringLiteral("/epg_api.php?action=now")));
    request.setHeader(
        QNetworkRequest::UserAgentHeader,
        QStringLiteral("Mozilla/5.0 (Windows NT 10.0; Win64; x64) VostanTVPlayer/1.1"));

    QNetworkReply *reply = networkManager.get(request);
    // Give up on an oversized body as it arrives rather than holding it all.
    // The body stays unread until the end, so what is buffered is what came;
    // downloadProgress is rate-limited and could report too late.
    connect(reply, &QNetworkReply::readyRead, this, [reply] {
        if (reply->bytesAvailable() > kMaxGuideBodyBytes &&
            !reply->property(kTooLargeProperty).toBool()) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, &EpgService::onFinished);
}

void EpgService::onFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();

    EpgPayload payload;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (reply->property(kTooLargeProperty).toBool())
        payload.error = guideTooLargeError();
    else if (reply->error() != QNetworkReply::NoError)
        payload.error = reply->errorString();
    else
        payload = parseGuideBody(reply->readAll(), now);
    fetchAfterNextStart(payload, now);
    emit finishedPayload(payload);
}

// A payload without a schedule (a failed fetch among them) leaves the
// planned fetch as it is: the next programme still starts then.
void EpgService::fetchAfterNextStart(const EpgPayload &payload, const QDateTime &now)
{
    if (payload.items.isEmpty())
        return;
    const std::optional<qint64> start = nextProgramStart(payload.items, now, broadcastZone());
    if (!start) {
        nextProgramTimer.stop();
        return;
    }
    const qint64 wait = *start - now.toMSecsSinceEpoch() + kAfterStartMs;
    nextProgramTimer.start(static_cast<int>(qMin(wait, kLongestWaitMs)));
}
