#include "net/HistogramCore.h"

#include "net/HistogramRaster.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace fb {

namespace {

int FloorDiv(int a, int b) {
    const int quotient = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? quotient - 1 : quotient;
}

// count pixels down a column from out, step pixels apart.
inline void FillColumn(QRgb* out, qsizetype step, int count, QRgb pixel) {
    for (; count >= 4; count -= 4) {
        out[0] = pixel;
        out[step] = pixel;
        out[2 * step] = pixel;
        out[3 * step] = pixel;
        out += 4 * step;
    }
    for (; count > 0; --count) {
        *out = pixel;
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
// each as a few vertical runs. Nothing of the last picture is kept or read: from one tick to the
// next every line piece moves 3 pixels left while every vertical grid column moves elsewhere,
// so almost every row changes anyway.

void HistogramCore::PlanStages() {
    if (m_historyYRange != m_range || m_historyY1.size() != m_history1.size()) {
        m_historyY1.clear();
        m_historyY2.clear();
        for (std::size_t i = 0; i < m_history1.size(); ++i) {
            m_historyY1.push_back(HistoryPoint{PointY(m_history1[i]), m_history1[i] == 0});
            m_historyY2.push_back(HistoryPoint{PointY(m_history2[i]), m_history2[i] == 0});
        }
        m_historyYRange = m_range;
    }
    const int scrolls = m_historyCount + 1;
    const int width = m_client.right - m_client.left;
    const auto count = static_cast<int>(m_historyY1.size());
    m_stages.resize(static_cast<std::size_t>(scrolls) + 1);
    m_gridColumns.clear();
    const auto markColumn = [&](int x) {
        if (x >= 0 && x < width) {
            m_gridColumns.push_back(x);
        }
    };
    for (int x = m_client.left - 1; x < m_client.right - kScrollStep; x += kGridSpacing) {
        markColumn(x - StageShift(0));
    }
    ResetSeries();
    const HistoryPoint* point1 = m_historyY1.data();
    const HistoryPoint* point2 = m_historyY2.data();
    for (int k = 0; k <= scrolls; ++k) {
        Stage& stage = m_stages[static_cast<std::size_t>(k)];
        if (k > 0) {
            AdvanceGridPhase();
            stage.gridX = ScrollGridX();
            if (k == scrolls || stage.gridX < m_client.right - kScrollStep) {
                markColumn(stage.gridX - StageShift(k));
            }
        }
        // Stage 0 and stage 1 draw the oldest pair, the last two stages the newest.
        stage.series1 = NextSegment(point1->zero, point1->y, m_y1);
        stage.series2 = NextSegment(point2->zero, point2->y, m_y2);
        if (k >= 1 && k < count) {
            ++point1;
            ++point2;
        }
    }
}

// The pixels of every stage's pieces. A piece with the same ends as one of the last tick's
// (which sat one stage later, or at the same stage while the history was still growing) has its
// pixels; the others are found anew.
void HistogramCore::FindRuns() {
    const int top = m_client.top;
    const int bottom = m_client.bottom;
    const auto last = static_cast<int>(m_lastStages.size());
    const int growth = static_cast<int>(m_stages.size()) - last;
    const auto find = [&](const Segment& segment, SegmentRuns& runs, const Segment* oldSegment,
                          const SegmentRuns* oldRuns) {
        if (oldSegment != nullptr && *oldSegment == segment) {
            runs = *oldRuns;
        } else {
            HistogramRaster::NarrowLineRuns(segment.from, segment.to, kSegmentWidth, top, bottom,
                                            runs.data());
        }
    };
    for (int k = 0; k < static_cast<int>(m_stages.size()); ++k) {
        Stage& stage = m_stages[static_cast<std::size_t>(k)];
        const int old = k + 1 - growth;
        const Stage* previous =
            old >= 0 && old < last ? &m_lastStages[static_cast<std::size_t>(old)] : nullptr;
        find(stage.series1, stage.runs1, previous != nullptr ? &previous->series1 : nullptr,
             previous != nullptr ? &previous->runs1 : nullptr);
        find(stage.series2, stage.runs2, previous != nullptr ? &previous->series2 : nullptr,
             previous != nullptr ? &previous->runs2 : nullptr);
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
    m_plainRow.assign(width, background);
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
    const int last = static_cast<int>(m_stages.size()) - 1;
    const int from =
        std::max(0, FloorDiv(left - kSegmentWidth - firstLeft + kScrollStep - 1, kScrollStep));
    const int to = std::min(last, FloorDiv(right - 1 - firstLeft, kScrollStep));
    for (int k = from; k <= to; ++k) {
        DrawStageSegments(raster, m_stages[static_cast<std::size_t>(k)], k, left, right);
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
    for (int k = 0; k < static_cast<int>(m_stages.size()); ++k) {
        const Stage& stage = m_stages[static_cast<std::size_t>(k)];
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
    const auto growth = static_cast<int>(m_stages.size()) - static_cast<int>(m_lastStages.size());
    return growth == 0 || growth == 1;
}

// The last picture, moved 3 pixels left, holds the new one but where a stage's pieces changed
// (the new stages at the right, the dropped oldest point at the left) and where a vertical grid
// line appears or vanishes (the grid columns do not move with the line pieces). The columns of
// changed stages are redrawn whole; a column whose grid line switches gets its bare grid back
// and then the line pieces that cross it, drawn again in stage order.
void HistogramCore::ScrollLastFrame(QImage& target, HistogramRaster& raster) {
    const int width = m_client.right - m_client.left;
    const int scrolls = static_cast<int>(m_stages.size()) - 1;
    const int lastScrolls = static_cast<int>(m_lastStages.size()) - 1;
    const int growth = scrolls - lastScrolls;
    m_redraw.assign(static_cast<std::size_t>(width), 0);
    const auto markColumns = [&](int from, int to) {
        for (int x = std::max(from, 0); x <= std::min(to, width - 1); ++x) {
            m_redraw[static_cast<std::size_t>(x)] = 1;
        }
    };
    // Stages whose pieces are new or differ from what the moved picture shows there. The last
    // stage of either picture is never clipped by a later scroll, so it never matches.
    for (int k = 0; k <= scrolls; ++k) {
        const int old = k + 1 - growth;
        const bool same = old >= 0 && old < lastScrolls && k < scrolls &&
                          m_lastStages[static_cast<std::size_t>(old)].series1 ==
                              m_stages[static_cast<std::size_t>(k)].series1 &&
                          m_lastStages[static_cast<std::size_t>(old)].series2 ==
                              m_stages[static_cast<std::size_t>(k)].series2;
        if (!same) {
            markColumns(StageLeft(k), StageLeft(k) + kSegmentWidth);
        }
    }
    // Old stages left of the new stage 0: the dropped oldest point.
    for (int old = 0; old - 1 + growth < 0; ++old) {
        const int moved = StageLeft(old - 1 + growth);
        markColumns(moved, moved + kSegmentWidth);
    }
    // The columns that entered at the right edge.
    markColumns(width - kScrollStep, width - 1);

    const QRgb grid = m_gridColour | 0xFF000000U;
    m_redrawRuns.clear();
    m_switchedColumns.clear();
    for (int x = 0; x < width; ++x) {
        const auto index = static_cast<std::size_t>(x);
        if (m_redraw[index] != 0) {
            if (m_redrawRuns.empty() || m_redrawRuns.back().second != x) {
                m_redrawRuns.emplace_back(x, x + 1);
            } else {
                ++m_redrawRuns.back().second;
            }
        } else if ((m_lastPlainRow[index + kScrollStep] == grid) != (m_plainRow[index] == grid)) {
            m_switchedColumns.push_back(x); // x + 3 < width here
        }
    }
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const qsizetype step = stride / qsizetype{sizeof(QRgb)};
    const QRgb pixel1 = m_pen1.colour | 0xFF000000U;
    const QRgb pixel2 = m_pen2.colour | 0xFF000000U;
    const int firstLeft = StageLeft(0);
    const int lastStage = static_cast<int>(m_stages.size()) - 1;
    for (const int x : m_switchedColumns) {
        QRgb* const column = reinterpret_cast<QRgb*>(bits) + x;
        // Rows with a horizontal grid line keep the grid colour in every column.
        const QRgb pixel = m_plainRow[static_cast<std::size_t>(x)];
        for (const auto& [top, count] : m_plainRowRuns) {
            FillColumn(column + top * step, step, count, pixel);
        }
        // The pieces of the stages that cover column x, in stage order.
        const int from =
            std::max(0, FloorDiv(x - kSegmentWidth - firstLeft + kScrollStep - 1, kScrollStep));
        const int to = std::min(lastStage, FloorDiv(x - firstLeft, kScrollStep));
        for (int k = from; k <= to; ++k) {
            if (x >= StageClipRight(k)) {
                continue;
            }
            const Stage& stage = m_stages[static_cast<std::size_t>(k)];
            const auto c = static_cast<std::size_t>(x - firstLeft - kScrollStep * k);
            const HistogramColumnRun run1 = stage.runs1[c];
            FillColumn(column + run1.top * step, step, run1.count, pixel1);
            const HistogramColumnRun run2 = stage.runs2[c];
            FillColumn(column + run2.top * step, step, run2.count, pixel2);
        }
    }
    for (const auto& [left, right] : m_redrawRuns) {
        const auto bytes = static_cast<std::size_t>(right - left) * sizeof(QRgb);
        for (int y = m_client.top; y < m_client.bottom; ++y) {
            const QRgb* const row = IsGridRow(y) ? m_gridRow.data() : m_plainRow.data();
            std::memcpy(bits + y * stride + qsizetype{left} * qsizetype{sizeof(QRgb)}, row + left,
                        bytes);
        }
        DrawStagesIn(raster, left, right);
    }
}

void HistogramCore::DrawDirect() {
    PlanStages();
    FindRuns();
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
    std::swap(m_stages, m_lastStages);
    std::swap(m_plainRow, m_lastPlainRow);
    m_lastFrameValid = true;
    m_lastFrameRange = m_range;
    m_lastFramePen1 = m_pen1;
    m_lastFramePen2 = m_pen2;
}

} // namespace fb
