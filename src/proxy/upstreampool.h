#pragma once

#include <QList>
#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The relay's HTTP clients. One network manager opens at most six
// connections to a host, and a reply held back for a client that stops
// reading keeps its connection busy: six such clients would make every other
// request wait. So a request goes to a manager with a connection to spare,
// and a new manager is made when none has one. Managers stay once made, at
// most one for every six connections the relay may hold; the extra ones keep
// no idle connection after a request was given up.
class UpstreamPool : public QObject
{
    Q_OBJECT

public:
    explicit UpstreamPool(QObject *parent = nullptr);

    QNetworkReply *get(const QNetworkRequest &request);

private:
    QNetworkAccessManager *addManager();

    QList<QNetworkAccessManager *> managers;
};
