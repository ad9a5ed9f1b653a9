#include "epgservice.h"

EpgService::EpgService(QObject *parent, quint16 proxyPort) : QObject(parent), proxyPort(proxyPort)
{}

void EpgService::fetch()
{
    // The guide request and its parsers are not built yet.
}

void EpgService::onFinished()
{}
