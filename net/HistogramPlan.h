// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

namespace fb {

// A stored point of a series: the averaged value and its y at the graph's current range.
struct HistogramPoint {
    std::uint32_t value = 0;
    int y = 0;
};

// The pixels of a line in one column: the rows [top, top + count).
struct HistogramColumnRun {
    int top = 0;
    int count = 0;

    friend bool operator==(const HistogramColumnRun&, const HistogramColumnRun&) = default;
};

// What the graph's picture holds after a tick, in plain integers; HistogramCanvas turns it into
// pixels. The picture is built as a sequence of stages: the first image of background and grid
// with the oldest pair of points (stage 0), then, for each scroll step k = 1 ... S, the grid
// pieces that step draws and the pair of line pieces drawn after it. Every scroll moves what is
// already drawn 3 pixels left and clears the 3 rightmost columns first, so stage k's drawing
// ends up 3 (S - k) pixels left of where it was drawn and survives only left of the strip the
// next scroll clears. A plan records each stage at its final place; the picture is the same
// whether it is drawn scroll by scroll or stage by stage at that place.
//
// The stages are kept from tick to tick: a tick shows the last tick's stages one stage to the
// left, so only the pieces that really change are worked out again, and the canvas can move the
// last picture instead of drawing it anew.
class HistogramPlan {
public:
    static constexpr int kGridSpacing = 13;
    static constexpr int kScrollStep = 3;
    // Each point's line piece runs from x = right - kSegmentStart to x = right - kSegmentEnd.
    static constexpr int kSegmentStart = 14;
    static constexpr int kSegmentEnd = 11;
    static constexpr int kSegmentColumns = kSegmentStart - kSegmentEnd + 1;

    // One line piece of a series: from the previous point's y to this point's y.
    struct Segment {
        int from = 0;
        int to = 0;
        friend bool operator==(const Segment&, const Segment&) = default;
    };
    using SegmentRuns = std::array<HistogramColumnRun, kSegmentColumns>;
    struct Stage {
        Segment series1;
        Segment series2;
        // The pixels of each piece with a 1-pixel pen, column by column.
        SegmentRuns runs1;
        SegmentRuns runs2;
        // After a scroll step: the column where the step drew its vertical grid line.
        int gridX = 0;
        // The stage shows exactly what it showed in the last tick's picture, moved with it.
        bool repeated = false;
    };

    // The grid phase after one scroll step: the vertical grid lines move 3 pixels left.
    static int NextGridPhase(int phase) {
        phase -= kScrollStep;
        return phase < 0 ? phase + kGridSpacing : phase;
    }
    // Column of the vertical grid line a scroll step draws at the phase. C++ remainder
    // (truncating): the same column also for images narrower than the phase.
    static int ScrollGridX(int width, int phase) {
        return width - ((width - phase) % kGridSpacing) - 1;
    }
    // The y of the newest and of the previous point of a series while its pieces are laid out
    // from the oldest point on; both start below the image, at height + 1.
    struct SeriesY {
        int current = 0;
        int previous = 0;
    };
    // The piece a series draws for its next point in an image of the height; moves y on.
    static Segment NextSegment(const HistogramPoint& point, SeriesY& y, int height) {
        // A value of 0 continues at the height of the point before.
        if (point.value != 0) {
            y.current = point.y;
        }
        if (y.previous == height + 1) {
            y.previous = y.current;
        }
        const Segment segment{y.previous, y.current};
        y.previous = y.current;
        return segment;
    }
    // The rows a line with a 1-pixel pen from (0, y0) to (kSegmentColumns - 1, y1) covers in each
    // of its columns, limited to rows [0, height). The end point is not drawn.
    static SegmentRuns LineRuns(int y0, int y1, int height);

    // Plans the picture of width x height for the stored points of both series (oldest first,
    // at least one, as many in each) after the tick's own grid step left the phase at
    // gridPhase. pointsMoved tells that the points' y changed since the last plan (a new range).
    // Returns the grid phase after the scroll steps.
    int Plan(int width, int height, int gridPhase, const std::deque<HistogramPoint>& series1,
             const std::deque<HistogramPoint>& series2, bool pointsMoved);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int StageCount() const { return static_cast<int>(m_stages.size()); }
    const Stage& StageAt(int k) const { return m_stages[static_cast<std::size_t>(k)]; }
    // How far the scrolls after stage k move its drawing to the left.
    int Shift(int k) const { return kScrollStep * (StageCount() - 1 - k); }
    // First column of stage k's line pieces in the picture.
    int Left(int k) const { return m_width - kSegmentStart - Shift(k); }
    // End (exclusive) of the columns where stage k's drawing survives the later scrolls.
    int ClipRight(int k) const {
        return (k == StageCount() - 1 ? m_width : m_width - kScrollStep) - Shift(k);
    }
    // Per column of the picture: whether a vertical grid line runs there.
    const std::vector<std::uint8_t>& GridColumns() const { return m_gridColumns; }
    // This plan's stages are the last plan's, moved one stage to the left.
    bool ContinuesLast() const { return m_keptStages > 0; }
    // The last plan's oldest stage has no place in this one (the history dropped a point).
    bool DroppedOldest() const { return m_droppedOldest; }

private:
    void KeepLastStages(int stages);
    int PlanGrid(int gridPhase);
    void MarkGridColumn(int x);
    void PlanSegments(const std::deque<HistogramPoint>& series1,
                      const std::deque<HistogramPoint>& series2, bool pointsMoved);
    int SkipRepeatedStages(int from, int to, SeriesY& y1, SeriesY& y2);
    // Sets a stage's piece of one series, working out its pixels only when it changed. Returns
    // whether the kept piece stayed as it was.
    bool SetSegment(Segment& segment, SegmentRuns& runs, Segment next, bool kept) const {
        if (kept && segment == next) {
            return true;
        }
        segment = next;
        runs = LineRuns(next.from, next.to, m_height);
        return false;
    }

    int m_width = 0;
    int m_height = 0;
    std::vector<Stage> m_stages;
    // The first m_keptStages stages are the last plan's, to be compared with the new ones.
    int m_keptStages = 0;
    bool m_droppedOldest = false;
    std::vector<std::uint8_t> m_gridColumns;
};

} // namespace fb
