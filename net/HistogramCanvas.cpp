// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramCanvas.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace fb {

namespace {

constexpr int kGridSpacing = HistogramPlan::kGridSpacing;
constexpr int kScrollStep = HistogramPlan::kScrollStep;
constexpr QRgb kOpaque = 0xFF000000U;

// a / b rounded down, for b > 0.
int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((b - 1 - a) / b);
}

// Rows -1 + 13 j carry a horizontal grid line.
bool IsGridRow(int y) {
    return (y + 1) % kGridSpacing == 0;
}

} // namespace

void HistogramCanvas::DrawFirstGrid(HistogramRaster& raster, int width, int height) {
    const HistogramPen gridPen{1, kGridColour};
    for (int x = -1; x < width; x += kGridSpacing) {
        raster.Line(x, 0, x, height, gridPen);
    }
    for (int y = -1; y < height; y += kGridSpacing) {
        raster.Line(0, y, width, y, gridPen);
    }
}

void HistogramCanvas::DrawScrollGrid(HistogramRaster& raster, int x, int width, int height) {
    const HistogramPen gridPen{1, kGridColour};
    raster.Line(x, 0, x, height, gridPen);
    for (int y = -1; y < height; y += kGridSpacing) {
        raster.Line(width - 2 * kScrollStep, y, width, y, gridPen);
    }
}

bool HistogramCanvas::Draw(const HistogramPlan& plan, const HistogramPen& pen1,
                           const HistogramPen& pen2) {
    const bool thin = pen1.width <= 1 && pen2.width <= 1;
    const bool moveLast =
        m_lastValid && thin && plan.ContinuesLast() && pen1 == m_pen1 && pen2 == m_pen2;
    m_lastValid = false;
    m_image = QImage();
    m_change.whole = true;
    m_change.scrolledLeft = 0;
    m_change.columns.clear();
    if (m_canvas.isNull() || m_width != plan.Width() || m_height != plan.Height()) {
        m_width = plan.Width();
        m_height = plan.Height();
        m_canvas = QImage(m_width + kSlack, m_height, QImage::Format_RGB32);
        if (m_canvas.isNull()) {
            return false;
        }
        m_step = m_canvas.bytesPerLine() / qsizetype{sizeof(QRgb)};
    }
    m_pen1 = pen1;
    m_pen2 = pen2;
    QRgb* const view = View(moveLast);
    BuildBareRows(plan);
    if (moveLast) {
        MarkChangedColumns(plan);
        RepaintChanged(view, plan);
        m_change.whole = false;
        m_change.scrolledLeft = kScrollStep;
    } else if (thin) {
        DrawThin(view, plan);
    } else {
        DrawWide(view, plan);
    }
    // Read-only for whoever holds it: writing to a copy detaches it from the canvas.
    m_image = QImage(reinterpret_cast<const uchar*>(view), m_width, m_height,
                     m_canvas.bytesPerLine(), QImage::Format_RGB32);
    m_lastValid = true;
    return true;
}

QRgb* HistogramCanvas::View(bool moveLeft) {
    auto* const bits = reinterpret_cast<QRgb*>(m_canvas.bits());
    if (!moveLeft) {
        m_viewLeft = 0;
        return bits;
    }
    if (m_viewLeft + kScrollStep + m_width > m_canvas.width()) {
        for (int y = 0; y < m_height; ++y) {
            QRgb* const line = bits + y * m_step;
            std::memmove(line, line + m_viewLeft, static_cast<std::size_t>(m_width) * sizeof(QRgb));
        }
        m_viewLeft = 0;
    }
    m_viewLeft += kScrollStep;
    return bits + m_viewLeft;
}

void HistogramCanvas::BuildBareRows(const HistogramPlan& plan) {
    const auto width = static_cast<std::size_t>(m_width);
    std::swap(m_plainRow, m_lastPlainRow);
    m_plainRow.resize(width);
    if (m_gridRow.size() != width) {
        m_gridRow.assign(width, kGridColour | kOpaque);
    }
    const std::vector<std::uint8_t>& gridColumns = plan.GridColumns();
    for (std::size_t x = 0; x < width; ++x) {
        m_plainRow[x] = (gridColumns[x] != 0 ? kGridColour : kBackgroundColour) | kOpaque;
    }
}

const QRgb* HistogramCanvas::BareRow(int y) const {
    return IsGridRow(y) ? m_gridRow.data() : m_plainRow.data();
}

void HistogramCanvas::DrawThin(QRgb* view, const HistogramPlan& plan) const {
    for (int y = 0; y < m_height; ++y) {
        std::memcpy(view + y * m_step, BareRow(y),
                    static_cast<std::size_t>(m_width) * sizeof(QRgb));
    }
    for (int x = 0; x < m_width; ++x) {
        PaintPieces(view, x, plan);
    }
}

void HistogramCanvas::DrawWide(QRgb* view, const HistogramPlan& plan) const {
    QImage target(reinterpret_cast<uchar*>(view), m_width, m_height, m_canvas.bytesPerLine(),
                  QImage::Format_RGB32);
    HistogramRaster raster(target);
    raster.FillRect(0, 0, m_width, m_height, kBackgroundColour);
    const int from = m_width - HistogramPlan::kSegmentStart;
    const int to = m_width - HistogramPlan::kSegmentEnd;
    for (int k = 0; k < plan.StageCount(); ++k) {
        // Each stage drawn where the replay draws it, moved by the scrolls that follow it.
        raster.SetOrigin(-plan.Shift(k));
        raster.SetClipColumns(0, plan.ClipRight(k));
        const HistogramPlan::Stage& stage = plan.StageAt(k);
        if (k == 0) {
            DrawFirstGrid(raster, m_width, m_height);
        } else {
            DrawScrollGrid(raster, stage.gridX, m_width, m_height);
        }
        raster.Line(from, stage.series1.from, to, stage.series1.to, m_pen1);
        raster.Line(from, stage.series2.from, to, stage.series2.to, m_pen2);
    }
}

// The moved picture differs from the new one where a stage's pieces changed (the new stages at
// the right, the dropped oldest point at the left), in the columns that came in at the right
// edge, and where a vertical grid line appears or vanishes: the grid columns do not move with the
// line pieces.
void HistogramCanvas::MarkChangedColumns(const HistogramPlan& plan) {
    m_changedMarks.assign(static_cast<std::size_t>(m_width), 0);
    const auto mark = [this](int from, int count) {
        for (int x = std::max(from, 0); x < std::min(from + count, m_width); ++x) {
            m_changedMarks[static_cast<std::size_t>(x)] = 1;
        }
    };
    if (plan.DroppedOldest()) {
        mark(plan.Left(-1), HistogramPlan::kSegmentColumns);
    }
    for (int k = 0; k < plan.StageCount(); ++k) {
        if (!plan.StageAt(k).repeated) {
            mark(plan.Left(k), HistogramPlan::kSegmentColumns);
        }
    }
    mark(m_width - kScrollStep, kScrollStep);
    std::vector<int>& changed = m_change.columns;
    for (int x = 0; x < m_width; ++x) {
        const auto column = static_cast<std::size_t>(x);
        const bool gridSwitched =
            x + kScrollStep < m_width && m_lastPlainRow[column + kScrollStep] != m_plainRow[column];
        if (m_changedMarks[column] != 0 || gridSwitched) {
            changed.push_back(x);
        }
    }
}

void HistogramCanvas::RepaintChanged(QRgb* view, const HistogramPlan& plan) const {
    for (const int x : m_change.columns) {
        PaintBareColumn(view, x);
        PaintPieces(view, x, plan);
    }
}

void HistogramCanvas::PaintBareColumn(QRgb* view, int x) const {
    // Locals: a pixel store could otherwise change the int members, as far as the compiler knows.
    const qsizetype step = m_step;
    const int height = m_height;
    const QRgb plain = m_plainRow[static_cast<std::size_t>(x)];
    QRgb* const column = view + x;
    for (int y = 0; y < height; ++y) {
        column[y * step] = plain;
    }
    for (int y = kGridSpacing - 1; y < height; y += kGridSpacing) {
        column[y * step] = kGridColour | kOpaque;
    }
}

// Draws the line pieces of the stages that cover column x, in stage order.
void HistogramCanvas::PaintPieces(QRgb* view, int x, const HistogramPlan& plan) const {
    // Stage k covers the columns Left(0) + 3k ... Left(0) + 3k + 3.
    const int offset = x - plan.Left(0);
    const int first =
        std::max(0, FloorDiv(offset - HistogramPlan::kSegmentColumns + kScrollStep, kScrollStep));
    const int last = std::min(plan.StageCount() - 1, FloorDiv(offset, kScrollStep));
    const QRgb pixel1 = m_pen1.colour | kOpaque;
    const QRgb pixel2 = m_pen2.colour | kOpaque;
    const qsizetype step = m_step;
    const auto paint = [view, step, x](HistogramColumnRun run, QRgb pixel) {
        QRgb* out = view + run.top * step + x;
        for (int r = 0; r < run.count; ++r, out += step) {
            *out = pixel;
        }
    };
    for (int k = first; k <= last; ++k) {
        if (x < plan.ClipRight(k)) {
            const HistogramPlan::Stage& stage = plan.StageAt(k);
            const auto c = static_cast<std::size_t>(offset - kScrollStep * k);
            paint(stage.runs1[c], pixel1);
            paint(stage.runs2[c], pixel2);
        }
    }
}

} // namespace fb
