#pragma once

#include "videofacts.h"

#include <QByteArray>

#include <optional>

// What an H.265 sequence parameter set says about its pictures.
struct H265Sps
{
    // scan Progressive, or Unknown when the pictures are fields or the
    // source is marked interlaced.
    VideoFacts facts;
    bool frameFieldInfoPresent = false;
};

// rbsp: the unit without its two header bytes, emulation prevention removed.
std::optional<H265Sps> parseH265Sps(const QByteArray &rbsp);

// pic_struct of a picture timing payload; -1 when it has none.
int h265PicStruct(const QByteArray &payload, const H265Sps &sps);
