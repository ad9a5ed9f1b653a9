#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

class QVideoFrame;
struct SwsContext;

// Converts a decoded YUV frame to RGB at the size it is shown, in one pass
// (libswscale, bilinear), with the frame's own matrix and range. Keeps its
// context between frames of the same kind.
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
    // Writes the picture into `out`, reusing its memory when the size stays.
    bool scale(const QVideoFrame &frame, const QSize &target, QImage &out);
    // Writes the picture into `area` of a 32-bit RGB image.
    bool scaleInto(const QVideoFrame &frame, QImage &image, const QRect &area);

private:
    struct Setup
    {
        QSize from, to;
        int format = -1, flags = 0, matrix = 0, fullRange = 0;
        bool operator==(const Setup &o) const
        {
            return from == o.from && to == o.to && format == o.format && flags == o.flags &&
                   matrix == o.matrix && fullRange == o.fullRange;
        }
    };
    SwsContext *context = nullptr;
    Setup contextSetup;
};
