// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramPlan.h"

#include <algorithm>

namespace fb {

HistogramPlan::SegmentRuns HistogramPlan::LineRuns(int y0, int y1, int height) {
    // The stepping rule of HistogramRaster::Line: at major step i of n the minor offset is
    // i * d / n rounded to nearest, a tie toward the start. Points may lie far outside the
    // image (values above the range), so the arithmetic is 64-bit.
    constexpr std::int64_t kWidth = kSegmentColumns - 1;
    const bool down = y1 >= y0;
    const std::int64_t sy = y0;
    const std::int64_t rise = down ? std::int64_t{y1} - y0 : std::int64_t{y0} - y1;
    SegmentRuns runs{};
    if (kWidth >= rise) {
        // x is the major axis (also on a tie): one pixel in each column but the last.
        for (std::int64_t i = 0; i < kWidth; ++i) {
            const std::int64_t offset = (2 * i * rise + kWidth - 1) / (2 * kWidth);
            const std::int64_t y = down ? sy + offset : sy - offset;
            if (y >= 0 && y < height) {
                runs[static_cast<std::size_t>(i)] = HistogramColumnRun{static_cast<int>(y), 1};
            }
        }
        return runs;
    }
    // y is the major axis: step i (0 <= i < rise) lies in row sy +- i and in column
    // floor((2 i w + rise - 1) / (2 rise)), so column c holds the steps up to
    // (rise (2c + 1) + 2w) / (2w): one vertical run per column. Only visible rows count.
    const std::int64_t visibleFirst = std::max<std::int64_t>(down ? -sy : sy - (height - 1), 0);
    const std::int64_t visibleEnd = std::min(down ? height - sy : sy + 1, rise);
    std::int64_t first = 0;
    for (std::int64_t c = 0; c <= kWidth; ++c) {
        const std::int64_t end =
            c == kWidth ? rise : std::min(rise, (rise * (2 * c + 1) + 2 * kWidth) / (2 * kWidth));
        const std::int64_t from = std::max(first, visibleFirst);
        const std::int64_t to = std::min(end, visibleEnd);
        first = end;
        if (from < to) {
            const std::int64_t row = down ? sy + from : sy - (to - 1);
            runs[static_cast<std::size_t>(c)] =
                HistogramColumnRun{static_cast<int>(row), static_cast<int>(to - from)};
        }
    }
    return runs;
}

int HistogramPlan::Plan(int width, int height, int gridPhase,
                        const std::deque<HistogramPoint>& series1,
                        const std::deque<HistogramPoint>& series2, bool pointsMoved) {
    if (width != m_width || height != m_height) {
        m_stages.clear();
        m_width = width;
        m_height = height;
    }
    // The first image and the pair drawn on it, then one scroll step per stored point and one
    // more for the newest pair.
    KeepLastStages(static_cast<int>(series1.size()) + 2);
    const int phase = PlanGrid(gridPhase);
    PlanSegments(series1, series2, pointsMoved);
    return phase;
}

void HistogramPlan::KeepLastStages(int stages) {
    // New stage k shows what the last plan's stage k + 1 showed once the history is full (its
    // oldest point goes), and what its stage k showed while the history grows.
    const auto last = static_cast<int>(m_stages.size());
    m_droppedOldest = last == stages;
    if (m_droppedOldest) {
        m_stages.erase(m_stages.begin());
    } else if (last != stages - 1) {
        m_stages.clear();
    }
    m_keptStages = static_cast<int>(m_stages.size());
    m_stages.resize(static_cast<std::size_t>(stages));
}

int HistogramPlan::PlanGrid(int phase) {
    m_gridColumns.assign(static_cast<std::size_t>(std::max(m_width, 0)), 0);
    // The first image's vertical lines, except those in the strip the first scroll clears.
    for (int x = -1; x < m_width - kScrollStep; x += kGridSpacing) {
        MarkGridColumn(x - Shift(0));
    }
    const int last = StageCount() - 1;
    for (int k = 1; k <= last; ++k) {
        phase = NextGridPhase(phase);
        Stage& stage = m_stages[static_cast<std::size_t>(k)];
        stage.gridX = ScrollGridX(m_width, phase);
        if (k == last || stage.gridX < m_width - kScrollStep) {
            MarkGridColumn(stage.gridX - Shift(k));
        }
    }
    return phase;
}

void HistogramPlan::MarkGridColumn(int x) {
    if (x >= 0 && x < m_width) {
        m_gridColumns[static_cast<std::size_t>(x)] = 1;
    }
}

void HistogramPlan::PlanSegments(const std::deque<HistogramPoint>& series1,
                                 const std::deque<HistogramPoint>& series2, bool pointsMoved) {
    // Both series wait below the image until their first point.
    const int none = m_height + 1;
    SeriesY y1{none, none};
    SeriesY y2{none, none};
    const int last = StageCount() - 1;
    const auto newest = static_cast<int>(series1.size()) - 1;
    // Up to stage `newest` each stage draws the point its kept stage drew, and a piece depends
    // only on its point and the y before it. So once a series' piece equals the kept one, so do
    // its later pieces up to there, unless the points moved; once both series matched, those
    // stages are known to repeat.
    bool matched1 = false;
    bool matched2 = false;
    for (int k = 0; k <= last; ++k) {
        if (matched1 && matched2 && k <= newest) {
            k = SkipRepeatedStages(k, newest, y1, y2);
            matched1 = false;
            matched2 = false;
        }
        // Stages 0 and 1 draw the oldest pair, the last two stages the newest.
        const auto point = static_cast<std::size_t>(std::clamp(k - 1, 0, newest));
        Stage& stage = m_stages[static_cast<std::size_t>(k)];
        const bool kept = k < m_keptStages;
        const bool same1 =
            SetSegment(stage.series1, stage.runs1, NextSegment(series1[point], y1, m_height), kept);
        const bool same2 =
            SetSegment(stage.series2, stage.runs2, NextSegment(series2[point], y2, m_height), kept);
        // The last stage of either picture is not clipped by a later scroll: it never repeats.
        stage.repeated = same1 && same2 && k < m_keptStages - 1 && k < last;
        matched1 = matched1 || (same1 && !pointsMoved);
        matched2 = matched2 || (same2 && !pointsMoved);
    }
}

// Marks the stages [from, to] as repeating their kept pieces and returns the stage after them,
// with both series' y as those pieces leave them.
int HistogramPlan::SkipRepeatedStages(int from, int to, SeriesY& y1, SeriesY& y2) {
    for (int k = from; k <= to; ++k) {
        m_stages[static_cast<std::size_t>(k)].repeated = true;
    }
    const Stage& last = m_stages[static_cast<std::size_t>(to)];
    y1 = SeriesY{last.series1.to, last.series1.to};
    y2 = SeriesY{last.series2.to, last.series2.to};
    return to + 1;
}

} // namespace fb
