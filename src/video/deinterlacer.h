#pragma once

#include <QSize>

#include <memory>
#include <vector>

class QVideoFrame;
struct AVFrame;
struct AVFilterContext;
struct AVFilterGraph;

using FieldPicture = std::shared_ptr<AVFrame>;

// Turns interlaced frames into one whole picture per field (libavfilter's
// bwdif), at the frame's own size. A frame's two pictures come out when the
// next frame goes in: the filter looks at the fields on both sides. It holds
// three frames at most; the graph is built again only when the size, the
// layout or the field order changes.
class Deinterlacer
{
public:
    Deinterlacer() = default;
    ~Deinterlacer();
    Deinterlacer(const Deinterlacer &) = delete;
    Deinterlacer &operator=(const Deinterlacer &) = delete;

    // Whether this build can deinterlace at all.
    static bool available();
    // The pictures now ready, in the order they are to be shown. Empty for
    // the first frame after a reset, and for frames it cannot read.
    std::vector<FieldPicture> deinterlace(const QVideoFrame &frame, bool topFieldFirst);
    // Forgets the fields it holds (a seek, a new stream).
    void reset();
    bool holdsFields() const { return graph != nullptr; }

private:
    bool build(const QSize &size, int format, bool topFieldFirst);

    AVFilterGraph *graph = nullptr;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    QSize graphSize;
    int graphFormat = -1;
    bool graphTopFirst = true;
    qint64 nextPts = 0;
};
