// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRgb>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fb {

// A solid pen. Width 1 is the thin pen of line drawing: the end point of a line is not drawn.
// A wider pen stamps a round dot of that diameter on every point of the line, end point
// included, the way a wide pen paints its round caps.
struct HistogramPen {
    int width = 1;
    QRgb colour = qRgb(0, 0, 0);

    friend bool operator==(const HistogramPen&, const HistogramPen&) = default;
};

// Pixel drawing into a 32-bit image (QImage::Format_RGB32, which the widget can paint without
// conversion), with the rules of the classic Windows device context:
//  - FillRect covers [left, right) x [top, bottom): the right and bottom edges are excluded.
//  - Line from (x0, y0) to (x1, y1) steps one pixel along the major axis (the one with the larger
//    distance; x on a tie) from the start. At major step i of n the minor coordinate is the start's
//    plus i * dminor / n rounded to the nearest integer, a tie rounding toward the start. The end
//    point (step n) is not drawn with a thin pen. Coordinates are full 32-bit integers; only the
//    visible part is walked, so a line from far outside the image costs no more than its visible
//    part.
//  - ScrollLeft copies the image onto itself like a block transfer from x = pixels to x = 0:
//    overlap-safe, and destination pixels whose source lies outside the image keep their value.
//  - Everything is clipped to the image and to the clip columns.
// A translation (origin) moves every drawing horizontally; with a clip it lets a caller draw a
// picture element directly at the place it would reach after later scrolls.
class HistogramRaster {
public:
    // Draws into image, which must stay alive and unshared while the raster is used.
    explicit HistogramRaster(QImage& image);

    // Adds dx to the x coordinate of every later FillRect and Line.
    void SetOrigin(int dx) { m_origin = dx; }
    // Later drawings touch only image columns in [left, right); the image bounds always apply.
    void SetClipColumns(int left, int right) {
        m_clipLeft = std::max(left, 0);
        m_clipRight = std::min(right, m_width);
    }
    void FillRect(int left, int top, int right, int bottom, QRgb colour);
    void Line(int x0, int y0, int x1, int y1, const HistogramPen& pen);
    void ScrollLeft(int pixels);

    // Largest pen width drawn; wider requests are drawn at this width.
    static constexpr int kMaxPenWidth = 32;

private:
    void PlotThin(std::int64_t x, std::int64_t y, QRgb colour) {
        if (x >= m_clipLeft && x < m_clipRight && y >= 0 && y < m_height) {
            Row(y)[x] = colour;
        }
    }
    void Plot(std::int64_t x, std::int64_t y, int width, QRgb colour) {
        if (width <= 1) {
            PlotThin(x, y, colour);
            return;
        }
        for (const auto& [dx, dy] : m_dot) {
            PlotThin(x + dx, y + dy, colour);
        }
    }
    void SetDotWidth(int width);
    QRgb* Row(std::int64_t y) { return reinterpret_cast<QRgb*>(m_bits + y * m_stride); }

    uchar* m_bits = nullptr;
    qsizetype m_stride = 0;
    int m_width = 0;
    int m_height = 0;
    int m_origin = 0;
    int m_clipLeft = 0;
    int m_clipRight = 0;
    // The dot of the current wide pen: offsets from the centre.
    int m_dotWidth = 0;
    std::vector<std::pair<int, int>> m_dot;
};

} // namespace fb
