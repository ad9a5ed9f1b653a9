#pragma once

#include <QImage>
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

private:
    SwsContext *context = nullptr;
};
