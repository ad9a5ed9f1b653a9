#pragma once

// Parsing helpers of EpgService, declared here so that tests can call them.

#include "epgtypes.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <optional>

// Bodies above this size are refused unparsed.
constexpr qint64 kMaxGuideBodyBytes = 8 * 1024 * 1024;

// The error text of a refused body.
QString guideTooLargeError();

QTimeZone broadcastZone();

// "yyyy-MM-dd" or "dd.MM.yyyy"; a null date otherwise.
QDate parseJsonDateString(const QString &text);

// False when the body is not a JSON object or array. Entries without a date
// take the date of `now` (the present moment) in the broadcast zone.
bool parsePayloadFromJson(const QByteArray &body, EpgPayload *payload,
                          const QDateTime &now = QDateTime::currentDateTimeUtc());

QString parseLiveTitle(const QByteArray &body);
QList<EpgProgramItem> parseHtml(const QByteArray &body);
QString decodeHtmlEntities(QString text);
QString collapseSpaces(QString text);

QString currentProgramTitle(const QList<EpgProgramItem> &items, const QDateTime &now,
                            const QTimeZone &zone);

// The earliest start after `now`, in milliseconds since the epoch; none when
// every programme has begun.
std::optional<qint64> nextProgramStart(const QList<EpgProgramItem> &items, const QDateTime &now,
                                       const QTimeZone &zone);

// Whether the first byte after an optional BOM and white space opens JSON.
bool bodyLooksLikeJson(const QByteArray &body);

// A finished reply body as the payload to emit: JSON, else the HTML page,
// with the title on air completed from the schedule at `now`.
EpgPayload parseGuideBody(const QByteArray &body, const QDateTime &now);
