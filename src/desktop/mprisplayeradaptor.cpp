#include "mprisplayeradaptor.h"

#include "desktopintegration.h"

#include <QtMath>

MprisPlayerAdaptor::MprisPlayerAdaptor(DesktopIntegration *desktop)
    : QDBusAbstractAdaptor(desktop), desktop(desktop)
{}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return desktop->playbackStatus();
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return desktop->metadata();
}

double MprisPlayerAdaptor::volume() const
{
    return desktop->volume();
}

void MprisPlayerAdaptor::setVolume(double volume)
{
    // Out of range, or not a number, is as far as the slider goes.
    const double clamped = volume > 0 ? qMin(volume, 1.0) : 0.0;
    emit desktop->volumeRequested(qRound(clamped * 100));
}

void MprisPlayerAdaptor::Play()
{
    emit desktop->playRequested();
}

void MprisPlayerAdaptor::Pause()
{
    emit desktop->pauseRequested();
}

void MprisPlayerAdaptor::PlayPause()
{
    emit desktop->playPauseRequested();
}

void MprisPlayerAdaptor::Stop()
{
    emit desktop->stopRequested();
}
