#pragma once

#include "colourchoice.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>

class QVideoFrame;
struct AVFrame;
struct SwsContext;

// Converts a decoded YUV frame to RGB at the size it is shown, in one pass
// (libswscale, bilinear), with the given matrix and range. Keeps its context
// between frames of the same kind.
class FrameScaler
{
public:
    FrameScaler() = default;
    ~FrameScaler();
    FrameScaler(const FrameScaler &) = delete;
    FrameScaler &operator=(const FrameScaler &) = delete;

    // False for frames it cannot read (GPU textures, RGB, rotated or mirrored
    // frames): Qt's own path draws those.
    static bool handles(const QVideoFrame &frame);
    // libswscale's (and libavfilter's) name for the frame's layout, -1 for
    // none; `swapChroma` when U and V come the other way round (YV12).
    static int avFormat(const QVideoFrame &frame, bool *swapChroma = nullptr);
    // A mapped frame's planes in libswscale's order.
    struct Planes
    {
        const uint8_t *data[4] = {};
        int strides[4] = {};
    };
    static Planes planesOf(const QVideoFrame &mapped, bool swapChroma);
    // Writes the picture into `out`, reusing its memory when the size stays.
    bool scale(const QVideoFrame &frame, const ColourChoice &colour, const QSize &target,
               QImage &out);
    // Writes the picture into `area` of a 32-bit RGB image.
    bool scaleInto(const QVideoFrame &frame, const ColourChoice &colour, QImage &image,
                   const QRect &area);
    // The same for a picture libavfilter made.
    bool scale(const AVFrame *frame, const ColourChoice &colour, const QSize &target, QImage &out);
    bool scaleInto(const AVFrame *frame, const ColourChoice &colour, QImage &image,
                   const QRect &area);

private:
    struct Setup
    {
        QSize from, to;
        int format = -1, flags = 0;
        ColourChoice colour;
        bool operator==(const Setup &o) const
        {
            return from == o.from && to == o.to && format == o.format && flags == o.flags &&
                   colour == o.colour;
        }
    };
    bool convert(const uint8_t *const planes[4], const int strides[4], const QSize &size,
                 int format, const ColourChoice &colour, QImage &image, const QRect &area);

    SwsContext *context = nullptr;
    Setup contextSetup;
};
