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
// and a new manager is made when none has one; extra managers go once idle.
class UpstreamPool : public QObject
{
    Q_OBJECT

public:
    explicit UpstreamPool(QObject *parent = nullptr);

    QNetworkReply *get(const QNetworkRequest &request);
    qsizetype managerCount() const { return managers.size(); }

private:
    QNetworkAccessManager *addManager();
    void dropIdleManagers();

    QList<QNetworkAccessManager *> managers;
};
