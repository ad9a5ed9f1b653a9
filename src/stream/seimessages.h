#pragma once

#include "videofacts.h"

#include <QByteArray>

#include <optional>

// The payload of the first picture timing message in an SEI unit (its
// payload bytes, emulation prevention removed), if there is one.
std::optional<QByteArray> pictureTimingPayload(const QByteArray &sei);

// How a picture timing message's pic_struct orders the fields. The codes
// from 9 up exist in H.265 only: a field paired with the one before it
// comes second.
VideoFacts::Scan scanFromPicStruct(int picStruct);
