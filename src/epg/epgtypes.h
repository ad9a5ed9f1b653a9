#pragma once

#include <QDate>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QTime>

struct EpgProgramItem
{
    QDate date;
    QTime time;
    QString title;
    QString description;
};

// One guide fetch: the schedule, what is on air, or the network error.
struct EpgPayload
{
    QString liveTitle;
    QList<EpgProgramItem> items;
    QString error;
};

Q_DECLARE_METATYPE(EpgPayload)
