// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramCore.h"

#include "net/HistogramRaster.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace fb {

namespace {

// a / b rounded down, for b > 0.
inline int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((b - 1 - a) / b);
}

// count pixels down a column from out, step pixels apart.
inline void FillColumn(QRgb* out, qsizetype step, int count, QRgb pixel) {
    for (; count >= 8; count -= 8) {
        out[0] = pixel;
        out[step] = pixel;
        out[2 * step] = pixel;
        out[3 * step] = pixel;
        out[4 * step] = pixel;
        out[5 * step] = pixel;
        out[6 * step] = pixel;
        out[7 * step] = pixel;
        out += 8 * step;
    }
    if (count >= 4) {
        out[0] = pixel;
        out[step] = pixel;
        out[2 * step] = pixel;
        out[3 * step] = pixel;
        out += 4 * step;
        count -= 4;
    }
    for (; count > 0; --count) {
        *out = pixel;
        out += step;
    }
}

// The 12 pixels of a column between two horizontal grid lines.
inline void FillColumn12(QRgb* out, qsizetype step, QRgb pixel) {
    out[0] = pixel;
    out[step] = pixel;
    out[2 * step] = pixel;
    out[3 * step] = pixel;
    out[4 * step] = pixel;
    out[5 * step] = pixel;
    out[6 * step] = pixel;
    out[7 * step] = pixel;
    out[8 * step] = pixel;
    out[9 * step] = pixel;
    out[10 * step] = pixel;
    out[11 * step] = pixel;
}

// The rows [0, count) of four columns: column c at out + offset[c] gets pixel[c].
inline void FillColumns4(QRgb* out, qsizetype step, qsizetype count,
                         const std::array<qsizetype, 4>& offset, const std::array<QRgb, 4>& pixel) {
    const qsizetype d1 = offset[1] - offset[0];
    const qsizetype d2 = offset[2] - offset[0];
    const qsizetype d3 = offset[3] - offset[0];
    const QRgb p0 = pixel[0];
    const QRgb p1 = pixel[1];
    const QRgb p2 = pixel[2];
    const QRgb p3 = pixel[3];
    out += offset[0];
    if (count == 12) {
#pragma GCC unroll 12
        for (int r = 0; r < 12; ++r) {
            out[0] = p0;
            out[d1] = p1;
            out[d2] = p2;
            out[d3] = p3;
            out += step;
        }
        return;
    }
    for (qsizetype r = 0; r < count; ++r) {
        out[0] = p0;
        out[d1] = p1;
        out[d2] = p2;
        out[d3] = p3;
        out += step;
    }
}

} // namespace

void HistogramCore::Pending::Add(std::uint32_t value) {
    sum += value; // 32-bit wrap-around, as the points are summed
    ++count;
}

std::uint32_t HistogramCore::Pending::Take() {
    const std::uint32_t point = count == 0 ? 0U : static_cast<std::uint32_t>(sum / count);
    sum = 0;
    count = 0;
    return point;
}

HistogramCore::HistogramCore(HistogramDrawing drawing)
    : m_drawing(drawing) {
    SetPens(1, kSeries1Colour);
}

void HistogramCore::SetPens(int width, QRgb colour) {
    m_pen1 = HistogramPen{width, colour};
    m_pen2 = HistogramPen{width, kSeries2Colour};
}

void HistogramCore::SetRange(int lower, int upper) {
    const std::uint32_t range =
        static_cast<std::uint32_t>(upper) - static_cast<std::uint32_t>(lower) + 1U;
    if (range == 0) {
        return;
    }
    m_range = range;
    m_valueOffset = static_cast<int>(static_cast<std::uint32_t>(lower) - 1U);
}

void HistogramCore::AddValues(std::uint32_t first, std::uint32_t second) {
    const auto offset = static_cast<std::uint32_t>(m_valueOffset);
    m_pending1.Add(first - offset);
    m_pending2.Add(second - offset);
}

bool HistogramCore::BuildImage(int width, int height) {
    if (HasImage() || width <= 0 || height <= 0) {
        return false;
    }
    m_client = ClientRect{0, 0, width, height};
    return MakeImage();
}

bool HistogramCore::MakeImage() {
    m_image = QImage(m_client.right - m_client.left, m_client.bottom - m_client.top,
                     QImage::Format_RGB32);
    if (m_image.isNull()) {
        return false;
    }
    HistogramRaster raster(m_image);
    raster.FillRect(m_client.left, m_client.top, m_client.right, m_client.bottom,
                    m_backgroundColour);
    DrawFirstGrid(raster);
    ResetSeries();
    return true;
}

void HistogramCore::DrawFirstGrid(HistogramRaster& raster) const {
    const HistogramPen gridPen{1, m_gridColour};
    for (int x = m_client.left - 1; x < m_client.right; x += kGridSpacing) {
        raster.Line(x, m_client.top, x, m_client.bottom, gridPen);
    }
    for (int y = m_client.top - 1; y < m_client.bottom; y += kGridSpacing) {
        raster.Line(m_client.left, y, m_client.right, y, gridPen);
    }
}

void HistogramCore::ResetSeries() {
    const int none = m_client.bottom + 1;
    m_y1 = SeriesY{none, none};
    m_y2 = SeriesY{none, none};
}

void HistogramCore::DrawScrollGrid(HistogramRaster& raster, int x) const {
    const HistogramPen gridPen{1, m_gridColour};
    raster.Line(x, m_client.top, x, m_client.bottom, gridPen);
    for (int y = m_client.top - 1; y < m_client.bottom; y += kGridSpacing) {
        raster.Line(m_client.right - 2 * kScrollStep, y, m_client.right, y, gridPen);
    }
}

void HistogramCore::ScrollStep(HistogramRaster& raster) {
    raster.FillRect(m_client.right - kScrollStep, m_client.top, m_client.right, m_client.bottom,
                    m_backgroundColour);
    raster.ScrollLeft(kScrollStep);
    AdvanceGridPhase();
    DrawScrollGrid(raster, ScrollGridX());
}

int HistogramCore::PointY(std::uint32_t value) const {
    const auto bottom = static_cast<std::uint32_t>(m_client.bottom);
    // Unsigned 32-bit, product first: a value above the range lands above the top edge.
    return static_cast<int>(bottom - value * bottom / m_range);
}

void HistogramCore::DrawSeries(HistogramRaster& raster, std::uint32_t value, SeriesY& y,
                               const HistogramPen& pen) const {
    const Segment segment = NextSegment(value == 0, value != 0 ? PointY(value) : 0, y);
    raster.Line(m_client.right - kSegmentStart, segment.from, m_client.right - kSegmentEnd,
                segment.to, pen);
}

void HistogramCore::DrawPair(HistogramRaster& raster, std::uint32_t p, std::uint32_t q) {
    DrawSeries(raster, p, m_y1, m_pen1);
    DrawSeries(raster, q, m_y2, m_pen2);
}

void HistogramCore::AppendPoint(std::deque<std::uint32_t>& history, std::uint32_t point) const {
    if (m_historyCount >= kHistoryLength) {
        history.pop_front();
    }
    history.push_back(point);
}

void HistogramCore::Tick() {
    if (!HasImage()) {
        return;
    }
    // The picture of this moment is replaced below; only the phase change of a scroll remains.
    AdvanceGridPhase();
    const std::uint32_t point1 = m_pending1.Take();
    const std::uint32_t point2 = m_pending2.Take();
    if (m_drawing == HistogramDrawing::Direct && m_historyYRange == m_range) {
        if (m_historyCount >= kHistoryLength) {
            m_historyY1.erase(m_historyY1.begin());
            m_historyY2.erase(m_historyY2.begin());
        }
        m_historyY1.push_back(HistoryPoint{PointY(point1), point1 == 0});
        m_historyY2.push_back(HistoryPoint{PointY(point2), point2 == 0});
    }
    AppendPoint(m_history1, point1);
    AppendPoint(m_history2, point2);
    if (m_historyCount < kHistoryLength) {
        ++m_historyCount;
    }
    if (m_drawing == HistogramDrawing::Replay) {
        Replay();
    } else {
        DrawDirect();
    }
}

void HistogramCore::Replay() {
    m_image = QImage();
    if (!MakeImage()) {
        m_image = QImage();
        return;
    }
    HistogramRaster raster(m_image);
    DrawPair(raster, m_history1.front(), m_history2.front());
    ScrollStep(raster);
    for (std::size_t i = 0; i < m_history1.size(); ++i) {
        DrawPair(raster, m_history1[i], m_history2[i]);
        ScrollStep(raster);
    }
    DrawPair(raster, m_history1.back(), m_history2.back());
}

// The replay's picture is a sequence of stages: the first image with the oldest pair (stage 0),
// then for each scroll step k = 1 ... S its grid pieces and the pair drawn after it. A scroll moves
// everything 3 pixels left, so an element of stage k ends 3 * (S - k) pixels left of where it was
// drawn. A scroll also clears the rightmost 3 columns before it copies, so an element of a stage
// before the last survives only where it was drawn left of right - 3. Drawing each stage's
// elements in stage order, moved to their final place and clipped to what survives, gives the
// replay's pixels without moving the image at all.
//
// With thin pens no grid piece ever lands on a line piece drawn before it (a stage's grid pieces
// lie right of right - 14, where the earlier stages' pieces no longer reach after the scroll), and
// the horizontal grid pieces join into whole rows. So the picture is the bare grid (background,
// grid rows, the surviving vertical grid columns) under the line pieces drawn in stage order: a
// tick copies one of two prepared rows into every row and then draws the 2 (S + 2) line pieces,
// each as a few vertical runs. A tick whose range and pens did not change instead moves the last
// picture 3 pixels left (ScrollLastFrame) and redraws only what differs: the columns of the
// stages that changed and the vertical grid columns, which do not move with the line pieces.
// The stages themselves are kept from tick to tick; only those whose pieces change are planned
// again (PlanStages).

void HistogramCore::PlanStages() {
    bool rebuilt = false;
    if (m_historyYRange != m_range || m_historyY1.size() != m_history1.size()) {
        m_historyY1.clear();
        m_historyY2.clear();
        for (std::size_t i = 0; i < m_history1.size(); ++i) {
            m_historyY1.push_back(HistoryPoint{PointY(m_history1[i]), m_history1[i] == 0});
            m_historyY2.push_back(HistoryPoint{PointY(m_history2[i]), m_history2[i] == 0});
        }
        m_historyYRange = m_range;
        rebuilt = true;
    }
    const int scrolls = m_historyCount + 1;
    const int stages = scrolls + 1;
    const auto count = static_cast<int>(m_historyY1.size());
    // The last tick's stages stay in their slots: new stage k takes the slot of the last tick's
    // stage k + 1 - growth (the history drops its oldest point, growth 0, or grows, growth 1),
    // whose pieces it mostly repeats.
    const int growth = stages - m_stageCount;
    const bool compare = m_stageCount > 0 && (growth == 0 || growth == 1);
    // Unless the points were rescaled, every stage from the first one (from stage 2 on) whose
    // pieces both match up to the stage of the newest point repeats its slot.
    const bool skip = compare && !rebuilt;
    int base = compare ? m_stageBase + 1 - growth : 0;
    if (m_stageBuffer.size() < static_cast<std::size_t>(stages) * 4) {
        m_stageBuffer.resize(static_cast<std::size_t>(std::max(stages, kHistoryLength + 2)) * 4);
    }
    if (static_cast<std::size_t>(base + stages) > m_stageBuffer.size()) {
        if (compare) {
            std::copy(m_stageBuffer.begin() + m_stageBase,
                      m_stageBuffer.begin() + m_stageBase + m_stageCount, m_stageBuffer.begin());
        }
        base = compare ? 1 - growth : 0;
    }
    m_stageBase = base;
    m_lastStageCount = compare ? m_stageCount : 0;
    m_stageCount = stages;
    m_repeatedFrom = 0;
    m_repeatedTo = 0;
    Stage* const slots = m_stageBuffer.data() + base;

    const int width = m_client.right - m_client.left;
    m_gridColumns.clear();
    const auto markColumn = [&](int x) {
        if (x >= 0 && x < width) {
            m_gridColumns.push_back(x);
        }
    };
    for (int x = m_client.left - 1; x < m_client.right - kScrollStep; x += kGridSpacing) {
        markColumn(x - StageShift(0));
    }
    // ScrollGridX step by step: each scroll adds 3 to right - phase modulo 13, which stays
    // non-negative when the image is at least as wide as the grid spacing.
    const bool stepGrid = m_client.right >= kGridSpacing;
    int gridRemainder = stepGrid ? (m_client.right - m_gridPhase) % kGridSpacing : 0;
    // Consecutive stages often leave their grid line in the same column: it is listed once.
    int lastColumn = -1;
    for (int k = 1; k <= scrolls; ++k) {
        Stage& stage = slots[k];
        if (stepGrid) {
            gridRemainder += kScrollStep;
            if (gridRemainder >= kGridSpacing) {
                gridRemainder -= kGridSpacing;
            }
            stage.gridX = m_client.right - gridRemainder - 1;
        } else {
            AdvanceGridPhase();
            stage.gridX = ScrollGridX();
        }
        if (k == scrolls || stage.gridX < m_client.right - kScrollStep) {
            const int column = stage.gridX - StageShift(k);
            if (column != lastColumn) {
                markColumn(column);
                lastColumn = column;
            }
        }
    }
    if (stepGrid) {
        // The phase after the scrolls' steps of 3 (it lies in [0, 13) after the tick's step).
        m_gridPhase =
            ((m_gridPhase - kScrollStep * scrolls) % kGridSpacing + kGridSpacing) % kGridSpacing;
    }

    const int top = m_client.top;
    const int bottom = m_client.bottom;
    ResetSeries();
    bool matched1 = false;
    bool matched2 = false;
    for (int k = 0; k < stages; ++k) {
        if (matched1 && matched2 && k < count) {
            // Stages k ... count - 1 draw the same points after the same heights as their slots.
            m_repeatedFrom = k;
            m_repeatedTo = count;
            const Stage& last = slots[count - 1];
            m_y1 = SeriesY{last.series1.to, last.series1.to};
            m_y2 = SeriesY{last.series2.to, last.series2.to};
            k = count;
            matched1 = false;
            matched2 = false;
        }
        // Stage 0 and stage 1 draw the oldest pair, the last two stages the newest.
        const int point = std::min(std::max(k - 1, 0), count - 1);
        const HistoryPoint& point1 = m_historyY1[static_cast<std::size_t>(point)];
        const HistoryPoint& point2 = m_historyY2[static_cast<std::size_t>(point)];
        const Segment series1 = NextSegment(point1.zero, point1.y, m_y1);
        const Segment series2 = NextSegment(point2.zero, point2.y, m_y2);
        Stage& stage = slots[k];
        // The slot holds the last tick's stage k + 1 - growth if there was one.
        const bool valid = compare && k + 1 - growth < m_lastStageCount;
        const bool same1 = valid && stage.series1 == series1;
        const bool same2 = valid && stage.series2 == series2;
        stage.reused = same1 && same2;
        if (!same1) {
            stage.series1 = series1;
            HistogramRaster::NarrowLineRuns(series1.from, series1.to, kSegmentWidth, top, bottom,
                                            stage.runs1.data());
        }
        if (!same2) {
            stage.series2 = series2;
            HistogramRaster::NarrowLineRuns(series2.from, series2.to, kSegmentWidth, top, bottom,
                                            stage.runs2.data());
        }
        if (skip && k >= 2) {
            matched1 = matched1 || same1;
            matched2 = matched2 || same2;
        }
    }
}

void HistogramCore::DrawStageSegments(HistogramRaster& raster, const Stage& stage, int index,
                                      int clipLeft, int clipRight) const {
    const int shift = StageShift(index);
    raster.SetClipColumns(clipLeft, std::min(clipRight, StageClipRight(index)));
    const int from = m_client.right - kSegmentStart - shift;
    const int to = m_client.right - kSegmentEnd - shift;
    if (IsThin(m_pen1) && IsThin(m_pen2)) {
        raster.DrawColumnRuns(from, stage.runs1.data(), kSegmentWidth + 1, m_pen1.colour);
        raster.DrawColumnRuns(from, stage.runs2.data(), kSegmentWidth + 1, m_pen2.colour);
    } else {
        raster.Line(from, stage.series1.from, to, stage.series1.to, m_pen1);
        raster.Line(from, stage.series2.from, to, stage.series2.to, m_pen2);
    }
}

void HistogramCore::BuildGridRows() {
    const auto width = static_cast<std::size_t>(m_client.right - m_client.left);
    const QRgb background = m_backgroundColour | 0xFF000000U;
    const QRgb grid = m_gridColour | 0xFF000000U;
    if (m_gridRow.size() != width) {
        m_gridRow.assign(width, grid);
    }
    if (m_plainRow.size() != width) {
        m_plainRow.assign(width, background);
    } else {
        // Only the last tick's grid columns differ from the background.
        for (const int x : m_lastGridColumns) {
            m_plainRow[static_cast<std::size_t>(x)] = background;
        }
    }
    if (m_plainRowRuns.empty()) {
        for (int y = m_client.top; y < m_client.bottom; ++y) {
            if (IsGridRow(y)) {
                continue;
            }
            if (m_plainRowRuns.empty() ||
                m_plainRowRuns.back().first + m_plainRowRuns.back().second != y) {
                m_plainRowRuns.emplace_back(y, 1);
            } else {
                ++m_plainRowRuns.back().second;
            }
        }
    }
    for (const int x : m_gridColumns) {
        m_plainRow[static_cast<std::size_t>(x)] = grid;
    }
}

void HistogramCore::DrawStagesIn(HistogramRaster& raster, int left, int right) const {
    // Stage k's pieces cover columns StageLeft(k) ... StageLeft(k) + 3, and StageLeft grows by 3
    // per stage.
    const int firstLeft = StageLeft(0);
    const int last = m_stageCount - 1;
    const int from =
        std::max(0, FloorDiv(left - kSegmentWidth - firstLeft + kScrollStep - 1, kScrollStep));
    const int to = std::min(last, FloorDiv(right - 1 - firstLeft, kScrollStep));
    for (int k = from; k <= to; ++k) {
        DrawStageSegments(raster, StageAt(k), k, left, right);
    }
}

void HistogramCore::DrawFullThin(QImage& target, HistogramRaster& raster) {
    const auto bytes = static_cast<std::size_t>(m_client.right - m_client.left) * sizeof(QRgb);
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    for (int y = m_client.top; y < m_client.bottom; ++y) {
        const QRgb* const row = IsGridRow(y) ? m_gridRow.data() : m_plainRow.data();
        std::memcpy(bits + y * stride, row, bytes);
    }
    DrawStagesIn(raster, m_client.left, m_client.right);
}

void HistogramCore::DrawFullWide(HistogramRaster& raster) {
    raster.FillRect(m_client.left, m_client.top, m_client.right, m_client.bottom,
                    m_backgroundColour);
    for (int k = 0; k < m_stageCount; ++k) {
        const Stage& stage = StageAt(k);
        raster.SetOrigin(-StageShift(k));
        raster.SetClipColumns(m_client.left, StageClipRight(k));
        if (k == 0) {
            DrawFirstGrid(raster);
        } else {
            DrawScrollGrid(raster, stage.gridX);
        }
        raster.SetOrigin(0);
        DrawStageSegments(raster, stage, k, m_client.left, m_client.right);
    }
}

// Pixels of a 1-pixel pen (Line draws narrower requests at 1 pixel). Wider pens reach the grid
// pieces of later stages, which then cover them: those pictures are drawn stage by stage.
bool HistogramCore::IsThin(const HistogramPen& pen) {
    return pen.width <= 1;
}

bool HistogramCore::CanScrollLastFrame() const {
    if (!m_lastFrameValid || m_lastFrameRange != m_range || !(m_lastFramePen1 == m_pen1) ||
        !(m_lastFramePen2 == m_pen2) || !IsThin(m_pen1) || !IsThin(m_pen2)) {
        return false;
    }
    const int growth = m_stageCount - m_lastStageCount;
    return growth == 0 || growth == 1;
}

// The last picture, moved 3 pixels left, holds the new one but where a stage's pieces changed
// (the new stages at the right, the dropped oldest point at the left) and where a vertical grid
// line appears or vanishes (the grid columns do not move with the line pieces). The columns of
// changed stages are redrawn whole; a column whose grid line switches gets its bare grid back
// and then the line pieces that cross it, drawn again in stage order.
void HistogramCore::ScrollLastFrame(QImage& target, HistogramRaster& raster) {
    const int width = m_client.right - m_client.left;
    const int scrolls = m_stageCount - 1;
    const int lastScrolls = m_lastStageCount - 1;
    const int growth = scrolls - lastScrolls;
    // Runs of columns to redraw, added in ascending order of their first column.
    constexpr int kMergeGap = 16;
    m_redrawRuns.clear();
    const auto markColumns = [&](int from, int to) {
        from = std::max(from, 0);
        to = std::min(to, width - 1) + 1;
        if (from >= to) {
            return;
        }
        // A short gap is redrawn too: one row copy instead of two.
        if (!m_redrawRuns.empty() && from <= m_redrawRuns.back().second + kMergeGap) {
            m_redrawRuns.back().second = std::max(m_redrawRuns.back().second, to);
        } else {
            m_redrawRuns.emplace_back(from, to);
        }
    };
    // Old stages left of the new stage 0: the dropped oldest point.
    for (int old = 0; old - 1 + growth < 0; ++old) {
        const int moved = StageLeft(old - 1 + growth);
        markColumns(moved, moved + kSegmentWidth);
    }
    // Stages whose pieces are new or differ from what the moved picture shows there. The last
    // stage of either picture is never clipped by a later scroll, so it never matches.
    for (int k = 0; k <= scrolls; ++k) {
        if (k == m_repeatedFrom && k < m_repeatedTo) {
            // PlanStages found these stages equal to the last tick's, none of them the last.
            k = m_repeatedTo - 1;
            continue;
        }
        const int old = k + 1 - growth;
        // PlanStages compared the pieces with those of the last tick's stage old.
        const bool same = StageAt(k).reused && old < lastScrolls && k < scrolls;
        if (!same) {
            markColumns(StageLeft(k), StageLeft(k) + kSegmentWidth);
        }
    }
    // The columns that entered at the right edge.
    markColumns(width - kScrollStep, width - 1);

    // A column outside the redrawn runs needs its bare grid back where the moved picture had a
    // grid column and the new one has none, or the other way round.
    if (m_gridMarks.size() != static_cast<std::size_t>(width)) {
        m_gridMarks.assign(static_cast<std::size_t>(width), 0);
    }
    std::uint8_t* const marks = m_gridMarks.data();
    constexpr std::uint8_t kOldGrid = 1;
    constexpr std::uint8_t kNewGrid = 2;
    constexpr std::uint8_t kRedrawn = 4;
    for (const auto& [left, right] : m_redrawRuns) {
        std::memset(marks + left, kRedrawn, static_cast<std::size_t>(right - left));
    }
    for (const int x : m_lastGridColumns) {
        if (x >= kScrollStep) {
            marks[x - kScrollStep] |= kOldGrid;
        }
    }
    for (const int x : m_gridColumns) {
        marks[x] |= kNewGrid;
    }
    m_switchedColumns.clear();
    const auto visit = [&](int x) {
        const std::uint8_t mark = marks[x];
        if (mark == kOldGrid || mark == kNewGrid) {
            m_switchedColumns.push_back(x); // x + 3 < width: the right edge is redrawn
        }
        marks[x] = 0;
    };
    for (const int x : m_lastGridColumns) {
        if (x >= kScrollStep) {
            visit(x - kScrollStep);
        }
    }
    for (const int x : m_gridColumns) {
        visit(x);
    }
    for (const auto& [left, right] : m_redrawRuns) {
        std::memset(marks + left, 0, static_cast<std::size_t>(right - left));
    }

    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const qsizetype step = stride / qsizetype{sizeof(QRgb)};
    const QRgb pixel1 = m_pen1.colour | 0xFF000000U;
    const QRgb pixel2 = m_pen2.colour | 0xFF000000U;
    const int firstLeft = StageLeft(0);
    const int lastStage = m_stageCount - 1;
    // The rows without a horizontal grid line as pixel offsets (kept apart from the int
    // members, which every pixel store could otherwise change).
    m_plainRowOffsets.clear();
    for (const auto& [top, count] : m_plainRowRuns) {
        m_plainRowOffsets.emplace_back(top * step, count);
    }
    // The bare grid of the switched columns, four columns at a time. Rows with a horizontal
    // grid line keep the grid colour in every column.
    const auto switched = m_switchedColumns.size();
    std::size_t done = 0;
    for (; done + 4 <= switched; done += 4) {
        std::array<qsizetype, 4> columns{};
        std::array<QRgb, 4> pixels{};
        for (std::size_t c = 0; c < 4; ++c) {
            const int x = m_switchedColumns[done + c];
            columns[c] = x;
            pixels[c] = m_plainRow[static_cast<std::size_t>(x)];
        }
        for (const auto& [offset, count] : m_plainRowOffsets) {
            FillColumns4(reinterpret_cast<QRgb*>(bits) + offset, step, count, columns, pixels);
        }
    }
    for (; done < switched; ++done) {
        const int x = m_switchedColumns[done];
        QRgb* const column = reinterpret_cast<QRgb*>(bits) + x;
        const QRgb pixel = m_plainRow[static_cast<std::size_t>(x)];
        for (const auto& [offset, count] : m_plainRowOffsets) {
            if (count == kGridSpacing - 1) {
                FillColumn12(column + offset, step, pixel);
            } else {
                FillColumn(column + offset, step, static_cast<int>(count), pixel);
            }
        }
    }
    for (const int x : m_switchedColumns) {
        QRgb* const column = reinterpret_cast<QRgb*>(bits) + x;
        // The pieces of the stages that cover column x, in stage order.
        const int from =
            std::max(0, FloorDiv(x - kSegmentWidth - firstLeft + kScrollStep - 1, kScrollStep));
        const int to = std::min(lastStage, FloorDiv(x - firstLeft, kScrollStep));
        for (int k = from; k <= to; ++k) {
            if (x >= StageClipRight(k)) {
                continue;
            }
            const Stage& stage = StageAt(k);
            const auto c = static_cast<std::size_t>(x - firstLeft - kScrollStep * k);
            const HistogramColumnRun run1 = stage.runs1[c];
            FillColumn(column + run1.top * step, step, run1.count, pixel1);
            const HistogramColumnRun run2 = stage.runs2[c];
            FillColumn(column + run2.top * step, step, run2.count, pixel2);
        }
    }
    for (const auto& [left, right] : m_redrawRuns) {
        const auto bytes = static_cast<std::size_t>(right - left) * sizeof(QRgb);
        // Rows top - 1 + 13 j carry a horizontal grid line (IsGridRow).
        int gridRowPhase = 1;
        for (int y = m_client.top; y < m_client.bottom; ++y) {
            const QRgb* const row = gridRowPhase == 0 ? m_gridRow.data() : m_plainRow.data();
            if (++gridRowPhase == kGridSpacing) {
                gridRowPhase = 0;
            }
            std::memcpy(bits + y * stride + qsizetype{left} * qsizetype{sizeof(QRgb)}, row + left,
                        bytes);
        }
        DrawStagesIn(raster, left, right);
    }
}

void HistogramCore::DrawDirect() {
    PlanStages();
    const int width = m_client.right - m_client.left;
    const int height = m_client.bottom - m_client.top;
    const bool scroll = CanScrollLastFrame();
    if (m_canvas.isNull()) {
        m_canvas = QImage(width + kCanvasSlack, height, QImage::Format_RGB32);
        if (m_canvas.isNull()) {
            m_image = QImage();
            m_lastFrameValid = false;
            return;
        }
    }
    uchar* const bits = m_canvas.bits();
    const qsizetype stride = m_canvas.bytesPerLine();
    if (!scroll) {
        m_viewLeft = 0;
    } else {
        if (m_viewLeft + kScrollStep + width > m_canvas.width()) {
            for (int y = 0; y < height; ++y) {
                auto* line = reinterpret_cast<QRgb*>(bits + y * stride);
                std::memmove(line, line + m_viewLeft,
                             static_cast<std::size_t>(width) * sizeof(QRgb));
            }
            m_viewLeft = 0;
        }
        m_viewLeft += kScrollStep;
    }
    uchar* const view = bits + static_cast<qsizetype>(m_viewLeft) * 4;
    QImage target(view, width, height, stride, QImage::Format_RGB32);
    HistogramRaster raster(target);
    BuildGridRows();
    if (scroll) {
        ScrollLastFrame(target, raster);
    } else if (IsThin(m_pen1) && IsThin(m_pen2)) {
        DrawFullThin(target, raster);
    } else {
        DrawFullWide(raster);
    }
    // Read-only for whoever holds it: writing to a copy detaches it from the canvas.
    m_image = QImage(static_cast<const uchar*>(view), width, height, stride, QImage::Format_RGB32);
    std::swap(m_gridColumns, m_lastGridColumns);
    m_lastFrameValid = true;
    m_lastFrameRange = m_range;
    m_lastFramePen1 = m_pen1;
    m_lastFramePen2 = m_pen2;
}

} // namespace fb
