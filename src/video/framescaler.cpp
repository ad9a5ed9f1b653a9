#include "framescaler.h"

#include <QVideoFrame>
#include <QVideoFrameFormat>

#include <utility>

FrameScaler::Planes FrameScaler::planesOf(const QVideoFrame &mapped, bool swapChroma)
{
    Planes planes;
    for (int i = 0; i < mapped.planeCount() && i < 4; ++i) {
        planes.data[i] = mapped.bits(i);
        planes.strides[i] = mapped.bytesPerLine(i);
    }
    if (swapChroma) {
        std::swap(planes.data[1], planes.data[2]);
        std::swap(planes.strides[1], planes.strides[2]);
    }
    return planes;
}

#ifdef VOSTAN_HAVE_SWSCALE

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

AVPixelFormat sourceFormat(QVideoFrameFormat::PixelFormat format)
{
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
    // 10-bit 4:2:0: GStreamer hands P010, Qt's FFmpeg back end the planar form.
    case QVideoFrameFormat::Format_P010:
        return AV_PIX_FMT_P010LE;
    case QVideoFrameFormat::Format_P016:
        return AV_PIX_FMT_P016LE;
    case QVideoFrameFormat::Format_YUV420P10:
        return AV_PIX_FMT_YUV420P10LE;
    default:
        return AV_PIX_FMT_NONE;
    }
}

int swsMatrix(ColourChoice::Matrix m)
{
    switch (m) {
    case ColourChoice::Bt709:
        return SWS_CS_ITU709;
    case ColourChoice::Bt2020:
        return SWS_CS_BT2020;
    case ColourChoice::Fcc:
        return SWS_CS_FCC;
    case ColourChoice::Smpte240:
        return SWS_CS_SMPTE240M;
    case ColourChoice::Bt601:
        break;
    }
    return SWS_CS_ITU601;
}

} // namespace

FrameScaler::~FrameScaler()
{
    sws_freeContext(context);
}

int FrameScaler::avFormat(const QVideoFrame &frame, bool *swapChroma)
{
    if (swapChroma)
        *swapChroma = frame.pixelFormat() == QVideoFrameFormat::Format_YV12;
    return sourceFormat(frame.pixelFormat());
}

bool FrameScaler::handles(const QVideoFrame &frame)
{
    return frame.isValid() && frame.handleType() == QVideoFrame::NoHandle &&
           sourceFormat(frame.pixelFormat()) != AV_PIX_FMT_NONE && frame.rotationAngle() == 0 &&
           !frame.mirrored() &&
           frame.surfaceFormat().scanLineDirection() == QVideoFrameFormat::TopToBottom;
}

bool FrameScaler::scale(const QVideoFrame &frame, const ColourChoice &colour, const QSize &target,
                        QImage &out)
{
    if (out.size() != target || out.format() != QImage::Format_RGB32)
        out = QImage(target, QImage::Format_RGB32);
    return scaleInto(frame, colour, out, out.rect());
}

bool FrameScaler::scale(const AVFrame *frame, const ColourChoice &colour, const QSize &target,
                        QImage &out)
{
    if (out.size() != target || out.format() != QImage::Format_RGB32)
        out = QImage(target, QImage::Format_RGB32);
    return scaleInto(frame, colour, out, out.rect());
}

bool FrameScaler::scaleInto(const QVideoFrame &source, const ColourChoice &colour, QImage &image,
                            const QRect &area)
{
    if (!handles(source))
        return false;
    bool swapChroma = false;
    const int format = avFormat(source, &swapChroma);
    QVideoFrame frame(source);
    if (!frame.map(QVideoFrame::ReadOnly))
        return false;
    const Planes planes = planesOf(frame, swapChroma);
    const bool done =
        convert(planes.data, planes.strides, frame.size(), format, colour, image, area);
    frame.unmap();
    return done;
}

bool FrameScaler::scaleInto(const AVFrame *frame, const ColourChoice &colour, QImage &image,
                            const QRect &area)
{
    if (!frame)
        return false;
    const uint8_t *planes[4] = {frame->data[0], frame->data[1], frame->data[2], frame->data[3]};
    const int strides[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2],
                            frame->linesize[3]};
    return convert(planes, strides, QSize(frame->width, frame->height), frame->format, colour,
                   image, area);
}

bool FrameScaler::convert(const uint8_t *const planes[4], const int strides[4], const QSize &size,
                          int format, const ColourChoice &colour, QImage &image, const QRect &area)
{
    const QSize target = area.size();
    // libswscale writes 0xAARRGGBB words with opaque alpha: right for all three.
    const QImage::Format layout = image.format();
    if (format == AV_PIX_FMT_NONE || size.isEmpty() || target.isEmpty() ||
        !image.rect().contains(area) ||
        (layout != QImage::Format_RGB32 && layout != QImage::Format_ARGB32 &&
         layout != QImage::Format_ARGB32_Premultiplied))
        return false;
    // Two-tap bilinear down to half size, as Qt's smooth painting did; the
    // exact filter below that, where two taps would skip source pixels.
    const bool nearSize =
        target.width() * 2 >= size.width() && target.height() * 2 >= size.height();
    const Setup setup{size, target, format, nearSize ? SWS_FAST_BILINEAR : SWS_BILINEAR, colour};
    if (!context || !(setup == contextSetup)) {
        sws_freeContext(context);
        context = sws_getContext(size.width(), size.height(), AVPixelFormat(format), target.width(),
                                 target.height(), AV_PIX_FMT_RGB32, setup.flags, nullptr, nullptr,
                                 nullptr);
        if (!context)
            return false;
        sws_setColorspaceDetails(context, sws_getCoefficients(swsMatrix(colour.matrix)),
                                 colour.fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 0, 1 << 16, 1 << 16);
        contextSetup = setup;
    }
    uint8_t *const rows[4] = {image.scanLine(area.top()) + 4 * area.left(), nullptr, nullptr,
                              nullptr};
    const int rowBytes[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(context, planes, strides, 0, size.height(), rows, rowBytes);
    return true;
}

#else

FrameScaler::~FrameScaler() = default;

bool FrameScaler::handles(const QVideoFrame &)
{
    return false;
}

int FrameScaler::avFormat(const QVideoFrame &, bool *)
{
    return -1;
}

bool FrameScaler::scale(const QVideoFrame &, const ColourChoice &, const QSize &, QImage &)
{
    return false;
}

bool FrameScaler::scaleInto(const QVideoFrame &, const ColourChoice &, QImage &, const QRect &)
{
    return false;
}

bool FrameScaler::scale(const AVFrame *, const ColourChoice &, const QSize &, QImage &)
{
    return false;
}

bool FrameScaler::scaleInto(const AVFrame *, const ColourChoice &, QImage &, const QRect &)
{
    return false;
}

bool FrameScaler::convert(const uint8_t *const[4], const int[4], const QSize &, int,
                          const ColourChoice &, QImage &, const QRect &)
{
    return false;
}

#endif
