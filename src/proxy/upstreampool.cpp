#include "upstreampool.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// Qt's own limit of simultaneous HTTP/1.1 connections per host and manager.
constexpr qsizetype kConnectionsPerManager = 6;

// The origin's cookies belong to the client that got them; the relay serves
// every client alike and never sends one upstream.
class NoCookieJar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;

    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

qsizetype runningReplies(const QNetworkAccessManager *manager)
{
    qsizetype running = 0;
    const auto replies = manager->findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly);
    for (const QNetworkReply *reply : replies)
        running += reply->isRunning();
    return running;
}

} // namespace

UpstreamPool::UpstreamPool(QObject *parent) : QObject(parent)
{
    addManager();
}

QNetworkReply *UpstreamPool::get(const QNetworkRequest &request)
{
    QNetworkAccessManager *chosen = nullptr;
    for (QNetworkAccessManager *manager : std::as_const(managers)) {
        if (runningReplies(manager) < kConnectionsPerManager) {
            chosen = manager;
            break;
        }
    }
    if (!chosen)
        chosen = addManager();
    QNetworkReply *reply = chosen->get(request);
    if (chosen != managers.first()) {
        // An extra manager's connections, opened for requests given up before
        // they were sent, would sit idle at the origin for Qt's two minutes;
        // after answers that ended normally they are worth keeping.
        connect(reply, &QNetworkReply::finished, chosen, [chosen, reply] {
            if (reply->error() != QNetworkReply::NoError && runningReplies(chosen) == 0)
                chosen->clearConnectionCache();
        });
    }
    return reply;
}

QNetworkAccessManager *UpstreamPool::addManager()
{
    auto *manager = new QNetworkAccessManager(this);
    manager->setCookieJar(new NoCookieJar(manager));
    // Each connection follows redirects itself, so that the head it relays is
    // the final answer's alone, never merged with the redirect's.
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    managers.append(manager);
    return manager;
}
