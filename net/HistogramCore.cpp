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
    m_lastFrameValid = false;
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

void HistogramCore::AdvanceGridPhase() {
    m_gridPhase -= kScrollStep;
    if (m_gridPhase < 0) {
        m_gridPhase += kGridSpacing;
    }
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
    const Segment segment = NextSegment(value, value != 0 ? PointY(value) : 0, y);
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
        m_historyY1.push_back(PointY(point1));
        m_historyY2.push_back(PointY(point2));
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
// With thin pens no grid piece ever lands on a line piece drawn before it, and the horizontal
// grid pieces join into whole rows; so the picture is the grid (background, grid rows, the
// surviving vertical grid columns) under the line pieces drawn in stage order. From one tick to
// the next every stage moves 3 pixels left, but the vertical grid columns do not move with them
// (each scroll step also moves the grid phase), the newest stages are new and dropping the oldest
// point changes the oldest stages. So a tick moves the last picture once, switches the grid
// columns that changed, and redraws only the columns of stages that changed.

void HistogramCore::PlanStages() {
    if (m_historyYRange != m_range || m_historyY1.size() != m_history1.size()) {
        m_historyY1.clear();
        m_historyY2.clear();
        for (std::size_t i = 0; i < m_history1.size(); ++i) {
            m_historyY1.push_back(PointY(m_history1[i]));
            m_historyY2.push_back(PointY(m_history2[i]));
        }
        m_historyYRange = m_range;
    }
    const int scrolls = m_historyCount + 1;
    const int width = m_client.right - m_client.left;
    const auto count = static_cast<int>(m_history1.size());
    m_stages.resize(static_cast<std::size_t>(scrolls) + 1);
    m_gridColumns.assign(static_cast<std::size_t>(width), 0);
    const auto markColumn = [&](int x) {
        if (x >= 0 && x < width) {
            m_gridColumns[static_cast<std::size_t>(x)] = 1;
        }
    };
    for (int x = m_client.left - 1; x < m_client.right - kScrollStep; x += kGridSpacing) {
        markColumn(x - StageShift(0));
    }
    ResetSeries();
    auto point1 = m_history1.cbegin();
    auto point2 = m_history2.cbegin();
    auto y1 = m_historyY1.cbegin();
    auto y2 = m_historyY2.cbegin();
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
        stage.series1 = NextSegment(*point1, *y1, m_y1);
        stage.series2 = NextSegment(*point2, *y2, m_y2);
        if (k >= 1 && k < count) {
            ++point1;
            ++y1;
            ++point2;
            ++y2;
        }
    }
}

void HistogramCore::DrawStageSegments(HistogramRaster& raster, const Stage& stage, int index,
                                      int clipLeft, int clipRight) const {
    raster.SetOrigin(-StageShift(index));
    raster.SetClipColumns(clipLeft, std::min(clipRight, StageClipRight(index)));
    const int from = m_client.right - kSegmentStart;
    const int to = m_client.right - kSegmentEnd;
    raster.Line(from, stage.series1.from, to, stage.series1.to, m_pen1);
    raster.Line(from, stage.series2.from, to, stage.series2.to, m_pen2);
}

void HistogramCore::BuildGridRows() {
    const auto width = static_cast<std::size_t>(m_client.right - m_client.left);
    const QRgb background = m_backgroundColour | 0xFF000000U;
    const QRgb grid = m_gridColour | 0xFF000000U;
    m_plainRow.resize(width);
    if (m_gridRow.size() != width) {
        m_gridRow.assign(width, grid);
    }
    for (std::size_t x = 0; x < width; ++x) {
        m_plainRow[x] = m_gridColumns[x] != 0 ? grid : background;
    }
}

const QRgb* HistogramCore::GridRow(int y) const {
    return (IsGridRow(y) ? m_gridRow : m_plainRow).data();
}

void HistogramCore::DrawSegmentsIn(HistogramRaster& raster, int left, int right) const {
    // Stage k's pieces cover columns StageLeft(k) ... StageLeft(k) + 3, and StageLeft grows by 3
    // per stage.
    const int firstLeft = StageLeft(0);
    const int last = static_cast<int>(m_stages.size()) - 1;
    const int from =
        std::max(0, FloorDiv(left - (kSegmentStart - kSegmentEnd) - firstLeft + kScrollStep - 1,
                             kScrollStep));
    const int to = std::min(last, FloorDiv(right - 1 - firstLeft, kScrollStep));
    for (int k = from; k <= to; ++k) {
        DrawStageSegments(raster, m_stages[static_cast<std::size_t>(k)], k, left, right);
    }
}

void HistogramCore::DrawFullThin(QImage& target) {
    BuildGridRows();
    const auto width = static_cast<std::size_t>(m_client.right - m_client.left);
    for (int y = m_client.top; y < m_client.bottom; ++y) {
        std::memcpy(target.scanLine(y), GridRow(y), width * sizeof(QRgb));
    }
    HistogramRaster raster(target);
    DrawSegmentsIn(raster, m_client.left, m_client.right);
}

void HistogramCore::DrawFullWide(QImage& target) {
    HistogramRaster raster(target);
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
        DrawStageSegments(raster, stage, k, m_client.left, m_client.right);
    }
}

bool HistogramCore::IsThin(const HistogramPen& pen) const {
    const QRgb colour = pen.colour | 0xFF000000U;
    // Line pieces are told from the grid by their colour when the last picture is moved.
    return pen.width <= 1 && colour != (m_gridColour | 0xFF000000U) &&
           colour != (m_backgroundColour | 0xFF000000U);
}

bool HistogramCore::CanScrollLastFrame() const {
    if (!m_lastFrameValid || m_lastFrameRange != m_range || !(m_lastFramePen1 == m_pen1) ||
        !(m_lastFramePen2 == m_pen2) || !IsThin(m_pen1) || !IsThin(m_pen2)) {
        return false;
    }
    const auto growth = static_cast<int>(m_stages.size()) - static_cast<int>(m_lastStages.size());
    return growth == 0 || growth == 1;
}

void HistogramCore::ScrollLastFrame(QImage& target) {
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
    const int segmentWidth = kSegmentStart - kSegmentEnd;
    // Stages whose pieces are new or differ from what the moved picture shows there. The last
    // stage of either picture is never clipped by a later scroll, so it never matches.
    for (int k = 0; k <= scrolls; ++k) {
        const int old = k + 1 - growth;
        const bool same =
            old >= 0 && old < lastScrolls && k < scrolls &&
            m_lastStages[static_cast<std::size_t>(old)] == m_stages[static_cast<std::size_t>(k)];
        if (!same) {
            markColumns(StageLeft(k), StageLeft(k) + segmentWidth);
        }
    }
    // Old stages left of the new stage 0: the dropped oldest point.
    for (int old = 0; old - 1 + growth < 0; ++old) {
        const int moved = StageLeft(old - 1 + growth);
        markColumns(moved, moved + segmentWidth);
    }
    // The columns that entered at the right edge.
    markColumns(width - kScrollStep, width - 1);

    // Vertical grid columns that appear or vanish elsewhere (the grid columns do not move with
    // the line pieces). Only grid or background pixels switch: line pieces stay on top.
    m_appearing.clear();
    m_vanishing.clear();
    m_redrawRuns.clear();
    for (int x = 0; x < width; ++x) {
        const auto index = static_cast<std::size_t>(x);
        if (m_redraw[index] != 0) {
            if (m_redrawRuns.empty() || m_redrawRuns.back().second != x) {
                m_redrawRuns.emplace_back(x, x + 1);
            } else {
                ++m_redrawRuns.back().second;
            }
            continue;
        }
        const bool was = m_lastGridColumns[index + kScrollStep] != 0; // x + 3 < width here
        const bool is = m_gridColumns[index] != 0;
        if (was != is) {
            (is ? m_appearing : m_vanishing).push_back(x);
        }
    }
    BuildGridRows();
    const QRgb background = m_backgroundColour | 0xFF000000U;
    const QRgb grid = m_gridColour | 0xFF000000U;
    uchar* const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const int* const appearing = m_appearing.data();
    const int* const appearingEnd = appearing + m_appearing.size();
    const int* const vanishing = m_vanishing.data();
    const int* const vanishingEnd = vanishing + m_vanishing.size();
    for (int y = m_client.top; y < m_client.bottom; ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(bits + y * stride);
        const bool gridRow = IsGridRow(y);
        if (!gridRow) {
            for (const int* x = appearing; x != appearingEnd; ++x) {
                const QRgb pixel = line[*x];
                line[*x] = pixel == background ? grid : pixel;
            }
            for (const int* x = vanishing; x != vanishingEnd; ++x) {
                const QRgb pixel = line[*x];
                line[*x] = pixel == grid ? background : pixel;
            }
        }
        const QRgb* const base = gridRow ? m_gridRow.data() : m_plainRow.data();
        for (const auto& [left, right] : m_redrawRuns) {
            std::copy(base + left, base + right, line + left);
        }
    }
    HistogramRaster raster(target);
    for (const auto& [left, right] : m_redrawRuns) {
        DrawSegmentsIn(raster, left, right);
    }
}

// The picture lives in a canvas wider than the image, and the image is a window onto it: moving
// the picture 3 pixels left is moving the window 3 columns right. Only when the window reaches
// the canvas's right end is the picture copied back to its left end.
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
    if (scroll) {
        ScrollLastFrame(target);
    } else if (IsThin(m_pen1) && IsThin(m_pen2)) {
        DrawFullThin(target);
    } else {
        DrawFullWide(target);
    }
    // Read-only for whoever holds it: writing to a copy detaches it from the canvas.
    m_image = QImage(static_cast<const uchar*>(view), width, height, stride, QImage::Format_RGB32);
    std::swap(m_stages, m_lastStages);
    std::swap(m_gridColumns, m_lastGridColumns);
    m_lastFrameValid = true;
    m_lastFrameRange = m_range;
    m_lastFramePen1 = m_pen1;
    m_lastFramePen2 = m_pen2;
}

} // namespace fb
