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
    dropIdleManagers();
    QNetworkAccessManager *chosen = nullptr;
    for (QNetworkAccessManager *manager : std::as_const(managers)) {
        if (runningReplies(manager) < kConnectionsPerManager) {
            chosen = manager;
            break;
        }
    }
    if (!chosen)
        chosen = addManager();
    return chosen->get(request);
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

void UpstreamPool::dropIdleManagers()
{
    // The first stays, with its kept-alive connections, and so does one idle
    // other, so that clients held up on the first do not make a new manager
    // (and its thread) for every request; the others go once they hold no
    // reply at all.
    bool spareKept = false;
    for (qsizetype i = 1; i < managers.size(); ++i) {
        QNetworkAccessManager *manager = managers.at(i);
        if (!manager->findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly).isEmpty())
            continue;
        if (!spareKept) {
            spareKept = true;
            continue;
        }
        managers.removeAt(i--);
        manager->deleteLater();
    }
}
