// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/HistogramRaster.h"

#include <QImage>
#include <QRgb>

#include <array>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace fb {

class HistogramRaster;

// How a tick produces its picture. Both give the same pixels.
enum class HistogramDrawing {
    // Rebuilds the image and replays every stored point with a scroll step after each one: the
    // reference, at the cost of one whole-image copy per point.
    Replay,
    // Draws every picture element once, straight at the place the replay's scrolls would leave it.
    Direct,
};

// The state and drawing of the acceleration graph, without a window: two series of points over
// a scrolling grid in an off-screen image of the client size. CHistogramCtrl wires it to a widget
// and a timer.
class HistogramCore {
public:
    static constexpr int kGridSpacing = 13;
    static constexpr int kScrollStep = 3;
    static constexpr int kHistoryLength = 110;
    // Each point's line piece runs from x = right - kSegmentStart to x = right - kSegmentEnd.
    static constexpr int kSegmentStart = 14;
    static constexpr int kSegmentEnd = 11;
    static constexpr QRgb kSeries1Colour = qRgb(0, 255, 0);
    static constexpr QRgb kSeries2Colour = qRgb(255, 0, 0);
    static constexpr QRgb kBackgroundColour = qRgb(0, 0, 0);
    static constexpr QRgb kGridColour = qRgb(0, 130, 66);

    struct ClientRect {
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
    };
    // The y of the newest and of the previous point of a series; bottom + 1 until one is drawn.
    struct SeriesY {
        int current = 0;
        int previous = 0;
    };

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

    HistogramDrawing Drawing() const { return m_drawing; }
    std::uint32_t Range() const { return m_range; }
    int ValueOffset() const { return m_valueOffset; }
    int GridPhase() const { return m_gridPhase; }
    int HistoryCount() const { return m_historyCount; }
    const std::deque<std::uint32_t>& History1() const { return m_history1; }
    const std::deque<std::uint32_t>& History2() const { return m_history2; }
    SeriesY Series1Y() const { return m_y1; }
    SeriesY Series2Y() const { return m_y2; }
    const ClientRect& Client() const { return m_client; }
    const HistogramPen& Pen1() const { return m_pen1; }
    const HistogramPen& Pen2() const { return m_pen2; }
    // Values waiting for the next tick, per series.
    std::uint64_t Pending1Count() const { return m_pending1.count; }
    std::uint64_t Pending2Count() const { return m_pending2.count; }

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
    void DrawFirstGrid(HistogramRaster& raster) const;
    void ResetSeries();
    void AdvanceGridPhase() {
        m_gridPhase -= kScrollStep;
        if (m_gridPhase < 0) {
            m_gridPhase += kGridSpacing;
        }
    }
    // Column of the vertical grid line a scroll step draws. C++ remainder (truncating): the
    // same column the grid has always used, also for images narrower than the phase.
    int ScrollGridX() const {
        return m_client.right - ((m_client.right - m_gridPhase) % kGridSpacing) - 1;
    }
    void DrawScrollGrid(HistogramRaster& raster, int x) const;
    void ScrollStep(HistogramRaster& raster);
    void DrawPair(HistogramRaster& raster, std::uint32_t p, std::uint32_t q);
    void DrawSeries(HistogramRaster& raster, std::uint32_t value, SeriesY& y,
                    const HistogramPen& pen) const;
    // One line piece of a series: from the previous y to the current y.
    struct Segment {
        int from = 0;
        int to = 0;
        friend bool operator==(const Segment&, const Segment&) = default;
    };
    // The pixels of a line piece: its rows in each of its columns (NarrowLineRuns).
    static constexpr int kSegmentWidth = kSegmentStart - kSegmentEnd;
    using SegmentRuns = std::array<HistogramColumnRun, kSegmentWidth + 1>;
    // What one stage of the picture holds: the pieces of both series with their pixels and,
    // after a scroll step, the column of its vertical grid line.
    struct Stage {
        Segment series1;
        Segment series2;
        int gridX = 0;
        // Both pieces equal those of the stage that held them in the last tick's picture.
        bool reused = false;
        SegmentRuns runs1;
        SegmentRuns runs2;
    };

    // The piece a series draws for a value whose point lies at valueY; moves the series on.
    Segment NextSegment(bool zero, int valueY, SeriesY& y) const {
        // A value of 0 continues at the height of the point before.
        if (!zero) {
            y.current = valueY;
        }
        if (y.previous == m_client.bottom + 1) {
            y.previous = y.current;
        }
        const Segment segment{y.previous, y.current};
        y.previous = y.current;
        return segment;
    }
    int PointY(std::uint32_t value) const;
    void AppendPoint(std::deque<std::uint32_t>& history, std::uint32_t point) const;
    void Replay();
    void DrawDirect();
    void PlanStages();
    // How far the scrolls after a stage move its drawing to the left.
    int StageShift(int stage) const { return kScrollStep * (m_historyCount + 1 - stage); }
    // Right end (exclusive) of the columns where a stage's drawing survives the later scrolls.
    int StageClipRight(int stage) const {
        const int drawnRight =
            stage == m_historyCount + 1 ? m_client.right : m_client.right - kScrollStep;
        return drawnRight - StageShift(stage);
    }
    void DrawStageSegments(HistogramRaster& raster, const Stage& stage, int index, int clipLeft,
                           int clipRight) const;
    void BuildGridRows();
    // Rows top - 1 + 13 j carry a horizontal grid line.
    bool IsGridRow(int y) const { return (y - (m_client.top - 1)) % kGridSpacing == 0; }
    static bool IsThin(const HistogramPen& pen);
    // First column of a stage's line pieces.
    int StageLeft(int stage) const { return m_client.right - kSegmentStart - StageShift(stage); }
    void DrawStagesIn(HistogramRaster& raster, int left, int right) const;
    void DrawFullThin(QImage& target, HistogramRaster& raster);
    void DrawFullWide(HistogramRaster& raster);
    bool CanScrollLastFrame() const;
    void ScrollLastFrame(QImage& target, HistogramRaster& raster);

    HistogramDrawing m_drawing;
    SeriesY m_y1;
    SeriesY m_y2;
    int m_valueOffset = 0;
    QImage m_image;
    std::uint32_t m_range = 100;
    ClientRect m_client;
    HistogramPen m_pen1;
    HistogramPen m_pen2;
    int m_gridPhase = 13;
    QRgb m_backgroundColour = kBackgroundColour;
    QRgb m_gridColour = kGridColour;
    Pending m_pending1;
    std::deque<std::uint32_t> m_history1;
    std::deque<std::uint32_t> m_history2;
    Pending m_pending2;
    int m_historyCount = 0;

    // Direct drawing: y of every stored point at the range they were computed for (and whether
    // the value was 0), the stages of the replay's picture and the vertical grid columns it
    // leaves, the canvas the picture is drawn into and the bare grid rows.
    struct HistoryPoint {
        int y = 0;
        bool zero = false;
    };
    std::vector<HistoryPoint> m_historyY1;
    std::vector<HistoryPoint> m_historyY2;
    std::uint32_t m_historyYRange = 0;
    // The stages of the picture: m_stageCount of them from slot m_stageBase on. Each tick moves
    // the base on by one slot while the history is full, so a piece that reappears one stage
    // earlier is already in place with its pixels; the stages move back to the buffer's start
    // when its end is reached.
    std::vector<Stage> m_stageBuffer;
    int m_stageBase = 0;
    int m_stageCount = 0;
    // The number of stages of the last tick, when their slots were kept (0 otherwise).
    int m_lastStageCount = 0;
    // Stages [m_repeatedFrom, m_repeatedTo) repeat their slots without having been compared.
    int m_repeatedFrom = 0;
    int m_repeatedTo = 0;
    Stage& StageAt(int k) { return m_stageBuffer[static_cast<std::size_t>(m_stageBase + k)]; }
    const Stage& StageAt(int k) const {
        return m_stageBuffer[static_cast<std::size_t>(m_stageBase + k)];
    }
    std::vector<int> m_gridColumns;
    // The vertical grid columns of the last tick, which m_plainRow holds until BuildGridRows.
    std::vector<int> m_lastGridColumns;
    // A row without and a row with a horizontal grid line.
    std::vector<QRgb> m_plainRow;
    std::vector<QRgb> m_gridRow;
    // The rows without a horizontal grid line as runs (first row, number of rows).
    std::vector<std::pair<int, int>> m_plainRowRuns;
    std::vector<std::pair<qsizetype, qsizetype>> m_plainRowOffsets;
    // The picture lives in a canvas wider than the image, and the image is a window onto it from
    // column m_viewLeft on: moving the picture 3 pixels left is moving the window 3 columns right.
    static constexpr int kCanvasSlack = 128 * kScrollStep;
    QImage m_canvas;
    int m_viewLeft = 0;
    // The runs of columns [left, right) where the moved picture is redrawn from the stages, in
    // ascending order; the other columns whose vertical grid line appears or vanishes.
    std::vector<std::pair<int, int>> m_redrawRuns;
    std::vector<int> m_switchedColumns;
    // Per column, while ScrollLastFrame runs: 1 where the moved picture had a grid column, 2
    // where the new one has one; zero otherwise and between ticks.
    std::vector<std::uint8_t> m_gridMarks;
    bool m_lastFrameValid = false;
    std::uint32_t m_lastFrameRange = 0;
    HistogramPen m_lastFramePen1;
    HistogramPen m_lastFramePen2;
};

} // namespace fb
