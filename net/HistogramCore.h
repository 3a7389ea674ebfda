// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/HistogramCanvas.h"
#include "net/HistogramChange.h"
#include "net/HistogramPlan.h"
#include "net/HistogramRaster.h"

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <deque>

namespace fb {

// How a tick produces its picture. Both give the same pixels.
enum class HistogramDrawing {
    // Rebuilds the image and replays every stored point with a scroll step after each one: the
    // reference, at the cost of one whole-image copy per point.
    Replay,
    // Plans every picture element at the place the replay's scrolls would leave it, and draws
    // only what differs from the last picture.
    Direct,
};

// The state and drawing of the acceleration graph, without a window: two series of points over
// a scrolling grid in an off-screen image of the client size. CHistogramCtrl wires it to a widget
// and a timer.
class HistogramCore {
public:
    static constexpr int kHistoryLength = 110;
    static constexpr QRgb kSeries1Colour = qRgb(0, 255, 0);
    static constexpr QRgb kSeries2Colour = qRgb(255, 0, 0);
    static constexpr QRgb kBackgroundColour = HistogramCanvas::kBackgroundColour;
    static constexpr QRgb kGridColour = HistogramCanvas::kGridColour;

    explicit HistogramCore(HistogramDrawing drawing = HistogramDrawing::Direct);

    // Takes the client rectangle (0, 0, width, height) and builds the first image: background,
    // grid, both series reset. Fails when an image exists already or none can be made (an empty
    // size); the core then stays without an image and its ticks do nothing.
    bool BuildImage(int width, int height);
    bool HasImage() const { return !m_image.isNull(); }
    // The off-screen image (Format_RGB32). With direct drawing it is a read-only window onto the
    // core's canvas: its pixels, and those of its shallow copies, change with the next tick and
    // end with the core. copy() it to keep a picture.
    const QImage& Image() const { return m_image; }

    // range = upper - lower + 1 and offset = lower - 1 (32-bit wrap-around). A call that would
    // give a range of 0 (upper = lower - 1) is ignored: the points are divided by the range.
    void SetRange(int lower, int upper);
    // Series 1 gets a solid pen of the width and colour, series 2 one of the width in red.
    void SetPens(int width, QRgb colour);
    // Queues first - offset for series 1 and second - offset for series 2 (unsigned 32-bit).
    void AddValues(std::uint32_t first, std::uint32_t second);
    // One timer tick: one averaged point per series into the histories, then a new picture.
    void Tick();
    // How the image differs from the one before the last tick, so that a display can move what
    // it shows and take only the columns drawn anew. Whole for the first image and whenever the
    // picture is drawn anew: a new range, new or wide pens, the replay.
    const HistogramChange& Change() const;

private:
    // Values added since the last tick. Only their 32-bit sum and their number decide the next
    // point, so that is all that is kept: a graph stopped for days while values keep coming in
    // holds constant memory.
    struct Pending {
        std::uint32_t sum = 0;
        std::uint64_t count = 0;
        void Add(std::uint32_t value);
        std::uint32_t Take();
    };

    bool MakeImage();
    int PointY(std::uint32_t value) const;
    void AddPoint(std::deque<HistogramPoint>& history, std::uint32_t value) const;
    bool FollowRange();
    void Replay();
    void ScrollStep(HistogramRaster& raster);
    void DrawSeries(HistogramRaster& raster, std::uint32_t value, HistogramPlan::SeriesY& y,
                    const HistogramPen& pen) const;
    void DrawDirect(bool pointsMoved);

    HistogramDrawing m_drawing;
    int m_width = 0;
    int m_height = 0;
    QImage m_image;
    std::uint32_t m_range = 100;
    int m_valueOffset = 0;
    HistogramPen m_pen1;
    HistogramPen m_pen2;
    int m_gridPhase = 13;
    Pending m_pending1;
    Pending m_pending2;
    std::deque<HistogramPoint> m_history1;
    std::deque<HistogramPoint> m_history2;
    // The range the points' y were computed for.
    std::uint32_t m_historyRange = 100;
    HistogramPlan m_plan;
    HistogramCanvas m_canvas;
    // The image is the canvas's picture, and the canvas knows how it changed.
    bool m_canvasPicture = false;
};

} // namespace fb
