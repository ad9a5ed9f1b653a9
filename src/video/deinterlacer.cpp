#include "deinterlacer.h"

#include "framescaler.h"

#include <QVideoFrame>

#ifdef VOSTAN_HAVE_AVFILTER

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include <cstdio>

namespace {

FieldPicture newPicture()
{
    return FieldPicture(av_frame_alloc(), [](AVFrame *f) { av_frame_free(&f); });
}

} // namespace

Deinterlacer::~Deinterlacer()
{
    reset();
}

bool Deinterlacer::available()
{
    return true;
}

void Deinterlacer::reset()
{
    avfilter_graph_free(&graph);
    source = sink = nullptr;
    graphSize = QSize();
    graphFormat = -1;
}

bool Deinterlacer::build(const QSize &size, int format, bool topFieldFirst)
{
    reset();
    graph = avfilter_graph_alloc();
    if (!graph)
        return false;
    char args[160];
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=1/1", size.width(),
                  size.height(), format);
    // One picture per field, every frame taken as interlaced: the stream's
    // facts said so, and per-frame flags do not reach us.
    const char *filter = topFieldFirst ? "bwdif=mode=send_field:parity=tff:deint=all"
                                       : "bwdif=mode=send_field:parity=bff:deint=all";
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    bool built = outputs && inputs &&
                 avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args,
                                              nullptr, graph) >= 0 &&
                 avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph) >= 0;
    if (built) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        built = avfilter_graph_parse_ptr(graph, filter, &inputs, &outputs, nullptr) >= 0 &&
                avfilter_graph_config(graph, nullptr) >= 0;
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (!built) {
        reset();
        return false;
    }
    graphSize = size;
    graphFormat = format;
    graphTopFirst = topFieldFirst;
    nextPts = 0;
    return true;
}

std::vector<FieldPicture> Deinterlacer::deinterlace(const QVideoFrame &source, bool topFieldFirst)
{
    std::vector<FieldPicture> ready;
    bool swapChroma = false;
    const int format = FrameScaler::avFormat(source, &swapChroma);
    if (format < 0 || !FrameScaler::handles(source))
        return ready;
    if (!graph || graphSize != source.size() || graphFormat != format ||
        graphTopFirst != topFieldFirst) {
        if (!build(source.size(), format, topFieldFirst))
            return ready;
    }

    // Copied: the filter keeps the frame until two more have come, longer
    // than a back end may lend its buffer.
    FieldPicture in = newPicture();
    in->width = source.width();
    in->height = source.height();
    in->format = format;
    QVideoFrame frame(source);
    if (!in || av_frame_get_buffer(in.get(), 0) < 0 || !frame.map(QVideoFrame::ReadOnly))
        return ready;
    FrameScaler::Planes planes = FrameScaler::planesOf(frame, swapChroma);
    av_image_copy(in->data, in->linesize, planes.data, planes.strides, AVPixelFormat(format),
                  in->width, in->height);
    frame.unmap();
    // Steady stamps: the filter only needs them rising.
    in->pts = nextPts;
    nextPts += 40000;
    if (av_buffersrc_add_frame(this->source, in.get()) < 0) {
        reset();
        return ready;
    }
    for (;;) {
        FieldPicture out = newPicture();
        if (!out || av_buffersink_get_frame(sink, out.get()) < 0)
            break;
        ready.push_back(std::move(out));
    }
    return ready;
}

#else

Deinterlacer::~Deinterlacer() = default;

bool Deinterlacer::available()
{
    return false;
}

std::vector<FieldPicture> Deinterlacer::deinterlace(const QVideoFrame &, bool)
{
    return {};
}

void Deinterlacer::reset()
{}

bool Deinterlacer::build(const QSize &, int, bool)
{
    return false;
}

#endif
