#include "framescaler.h"

#include <QVideoFrame>
#include <QVideoFrameFormat>

#include <utility>

#ifdef VOSTAN_HAVE_SWSCALE

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

// libswscale's name for the frame's layout; `swapChroma` when U and V come
// the other way round (YV12).
AVPixelFormat sourceFormat(QVideoFrameFormat::PixelFormat format, bool *swapChroma = nullptr)
{
    if (swapChroma)
        *swapChroma = format == QVideoFrameFormat::Format_YV12;
    switch (format) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
        return AV_PIX_FMT_YUV420P;
    case QVideoFrameFormat::Format_YUV422P:
        return AV_PIX_FMT_YUV422P;
    case QVideoFrameFormat::Format_NV12:
        return AV_PIX_FMT_NV12;
    case QVideoFrameFormat::Format_NV21:
        return AV_PIX_FMT_NV21;
    case QVideoFrameFormat::Format_UYVY:
        return AV_PIX_FMT_UYVY422;
    case QVideoFrameFormat::Format_YUYV:
        return AV_PIX_FMT_YUYV422;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// An untagged frame takes the matrix its size implies, as players do:
// HD sizes BT.709, smaller ones BT.601.
int matrixOf(const QVideoFrameFormat &format)
{
    switch (format.colorSpace()) {
    case QVideoFrameFormat::ColorSpace_BT601:
        return SWS_CS_ITU601;
    case QVideoFrameFormat::ColorSpace_BT709:
        return SWS_CS_ITU709;
    case QVideoFrameFormat::ColorSpace_BT2020:
        return SWS_CS_BT2020;
    default:
        return format.frameHeight() >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

} // namespace

FrameScaler::~FrameScaler()
{
    sws_freeContext(context);
}

bool FrameScaler::handles(const QVideoFrame &frame)
{
    return frame.isValid() && frame.handleType() == QVideoFrame::NoHandle &&
           sourceFormat(frame.pixelFormat()) != AV_PIX_FMT_NONE && frame.rotationAngle() == 0 &&
           !frame.mirrored() &&
           frame.surfaceFormat().scanLineDirection() == QVideoFrameFormat::TopToBottom;
}

bool FrameScaler::scale(const QVideoFrame &frame, const QSize &target, QImage &out)
{
    if (out.size() != target || out.format() != QImage::Format_RGB32)
        out = QImage(target, QImage::Format_RGB32);
    return scaleInto(frame, out, out.rect());
}

bool FrameScaler::scaleInto(const QVideoFrame &source, QImage &image, const QRect &area)
{
    const QSize target = area.size();
    // libswscale writes 0xAARRGGBB words with opaque alpha: right for all three.
    const QImage::Format layout = image.format();
    if (!handles(source) || target.isEmpty() || !image.rect().contains(area) ||
        (layout != QImage::Format_RGB32 && layout != QImage::Format_ARGB32 &&
         layout != QImage::Format_ARGB32_Premultiplied))
        return false;
    bool swapChroma = false;
    const AVPixelFormat format = sourceFormat(source.pixelFormat(), &swapChroma);
    const QVideoFrameFormat surface = source.surfaceFormat();
    // Two-tap bilinear down to half size, as Qt's smooth painting did; the
    // exact filter below that, where two taps would skip source pixels.
    const bool nearSize =
        target.width() * 2 >= source.width() && target.height() * 2 >= source.height();
    const Setup setup{source.size(),
                      target,
                      format,
                      nearSize ? SWS_FAST_BILINEAR : SWS_BILINEAR,
                      matrixOf(surface),
                      surface.colorRange() == QVideoFrameFormat::ColorRange_Full ? 1 : 0};
    if (!context || !(setup == contextSetup)) {
        sws_freeContext(context);
        context =
            sws_getContext(source.width(), source.height(), format, target.width(), target.height(),
                           AV_PIX_FMT_RGB32, setup.flags, nullptr, nullptr, nullptr);
        if (!context)
            return false;
        sws_setColorspaceDetails(context, sws_getCoefficients(setup.matrix), setup.fullRange,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        contextSetup = setup;
    }

    QVideoFrame frame(source);
    if (!frame.map(QVideoFrame::ReadOnly))
        return false;
    const uint8_t *planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < frame.planeCount() && i < 4; ++i) {
        planes[i] = frame.bits(i);
        strides[i] = frame.bytesPerLine(i);
    }
    if (swapChroma) {
        std::swap(planes[1], planes[2]);
        std::swap(strides[1], strides[2]);
    }
    uint8_t *const rows[4] = {image.scanLine(area.top()) + 4 * area.left(), nullptr, nullptr,
                              nullptr};
    const int rowBytes[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(context, planes, strides, 0, frame.height(), rows, rowBytes);
    frame.unmap();
    return true;
}

#else

FrameScaler::~FrameScaler() = default;

bool FrameScaler::handles(const QVideoFrame &)
{
    return false;
}

bool FrameScaler::scale(const QVideoFrame &, const QSize &, QImage &)
{
    return false;
}

bool FrameScaler::scaleInto(const QVideoFrame &, QImage &, const QRect &)
{
    return false;
}

#endif
