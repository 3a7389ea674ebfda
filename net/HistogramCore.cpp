// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramCore.h"

namespace fb {

namespace {

constexpr int kScrollStep = HistogramPlan::kScrollStep;

const HistogramChange kWholeChange;

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
    m_width = width;
    m_height = height;
    return MakeImage();
}

bool HistogramCore::MakeImage() {
    m_image = QImage(m_width, m_height, QImage::Format_RGB32);
    if (m_image.isNull()) {
        return false;
    }
    HistogramRaster raster(m_image);
    raster.FillRect(0, 0, m_width, m_height, kBackgroundColour);
    HistogramCanvas::DrawFirstGrid(raster, m_width, m_height);
    return true;
}

int HistogramCore::PointY(std::uint32_t value) const {
    const auto bottom = static_cast<std::uint32_t>(m_height);
    // Unsigned 32-bit, product first: a value above the range lands above the top edge.
    return static_cast<int>(bottom - value * bottom / m_range);
}

void HistogramCore::AddPoint(std::deque<HistogramPoint>& history, std::uint32_t value) const {
    if (history.size() >= static_cast<std::size_t>(kHistoryLength)) {
        history.pop_front();
    }
    history.push_back(HistogramPoint{value, PointY(value)});
}

// A new range moves every stored point. Returns whether it did.
bool HistogramCore::FollowRange() {
    if (m_historyRange == m_range) {
        return false;
    }
    m_historyRange = m_range;
    for (auto* history : {&m_history1, &m_history2}) {
        for (HistogramPoint& point : *history) {
            point.y = PointY(point.value);
        }
    }
    return true;
}

const HistogramChange& HistogramCore::Change() const {
    return m_canvasPicture ? m_canvas.Change() : kWholeChange;
}

void HistogramCore::Tick() {
    if (!HasImage()) {
        return;
    }
    m_canvasPicture = false;
    // The picture of this moment is replaced below; only the phase change of a scroll remains.
    m_gridPhase = HistogramPlan::NextGridPhase(m_gridPhase);
    const bool pointsMoved = FollowRange();
    AddPoint(m_history1, m_pending1.Take());
    AddPoint(m_history2, m_pending2.Take());
    if (m_drawing == HistogramDrawing::Replay) {
        Replay();
    } else {
        DrawDirect(pointsMoved);
    }
}

// The picture as it comes about: the first image, then every stored pair drawn at the right edge
// and scrolled 3 pixels left. Direct drawing must give exactly these pixels.
void HistogramCore::Replay() {
    m_image = QImage();
    if (!MakeImage()) {
        return; // no image any more: the ticks do nothing from now on
    }
    HistogramRaster raster(m_image);
    // Both series wait below the image until their first point.
    HistogramPlan::SeriesY y1{m_height + 1, m_height + 1};
    HistogramPlan::SeriesY y2 = y1;
    const auto drawPair = [&](const HistogramPoint& p, const HistogramPoint& q) {
        DrawSeries(raster, p.value, y1, m_pen1);
        DrawSeries(raster, q.value, y2, m_pen2);
    };
    drawPair(m_history1.front(), m_history2.front());
    ScrollStep(raster);
    for (std::size_t i = 0; i < m_history1.size(); ++i) {
        drawPair(m_history1[i], m_history2[i]);
        ScrollStep(raster);
    }
    drawPair(m_history1.back(), m_history2.back());
}

void HistogramCore::ScrollStep(HistogramRaster& raster) {
    raster.FillRect(m_width - kScrollStep, 0, m_width, m_height, kBackgroundColour);
    raster.ScrollLeft(kScrollStep);
    m_gridPhase = HistogramPlan::NextGridPhase(m_gridPhase);
    HistogramCanvas::DrawScrollGrid(raster, HistogramPlan::ScrollGridX(m_width, m_gridPhase),
                                    m_width, m_height);
}

void HistogramCore::DrawSeries(HistogramRaster& raster, std::uint32_t value,
                               HistogramPlan::SeriesY& y, const HistogramPen& pen) const {
    const HistogramPlan::Segment segment =
        HistogramPlan::NextSegment(HistogramPoint{value, PointY(value)}, y, m_height);
    raster.Line(m_width - HistogramPlan::kSegmentStart, segment.from,
                m_width - HistogramPlan::kSegmentEnd, segment.to, pen);
}

void HistogramCore::DrawDirect(bool pointsMoved) {
    m_gridPhase = m_plan.Plan(m_width, m_height, m_gridPhase, m_history1, m_history2, pointsMoved);
    if (!m_canvas.Draw(m_plan, m_pen1, m_pen2)) {
        m_image = QImage();
        return;
    }
    m_image = m_canvas.Image();
    m_canvasPicture = true;
}

} // namespace fb
