#include "mprisrootadaptor.h"

#include "desktopintegration.h"

MprisRootAdaptor::MprisRootAdaptor(DesktopIntegration *desktop)
    : QDBusAbstractAdaptor(desktop), desktop(desktop)
{}

QString MprisRootAdaptor::identity() const
{
    return QStringLiteral("Vostan TV Плеері");
}

QString MprisRootAdaptor::desktopEntry() const
{
    return QStringLiteral("tv.vostan.Player");
}

bool MprisRootAdaptor::fullscreen() const
{
    return desktop->isFullscreen();
}

void MprisRootAdaptor::setFullscreen(bool on)
{
    emit desktop->fullscreenRequested(on);
}

void MprisRootAdaptor::Raise()
{
    emit desktop->raiseRequested();
}

void MprisRootAdaptor::Quit()
{
    emit desktop->quitRequested();
}
