#pragma once

#include "videofacts.h"

#include <QByteArray>

#include <optional>

// What an H.264 sequence parameter set says, and what reading the pictures'
// timing messages and slice headers needs from it.
struct H264Sps
{
    VideoFacts facts; // scan Progressive, or Unknown when fields are allowed
    bool separateColourPlane = false;
    bool mbAdaptiveFrameField = false;
    int log2MaxFrameNum = 4;
    bool picStructPresent = false;
    // Lengths of the two delays that lead a picture timing message, 0 when
    // it carries none.
    int cpbRemovalDelayBits = 0;
    int dpbOutputDelayBits = 0;
};

// rbsp: the unit without its header byte, emulation prevention removed.
// Empty when the fields before the VUI do not read; a VUI cut short keeps
// the groups read whole.
std::optional<H264Sps> parseH264Sps(const QByteArray &rbsp);

// pic_struct of a picture timing payload; -1 when it has none.
int h264PicStruct(const QByteArray &payload, const H264Sps &sps);

// How a slice is coded: 0 frame, 1 top field, 2 bottom field; -1 unreadable.
int h264SliceField(const QByteArray &rbsp, const H264Sps &sps);
