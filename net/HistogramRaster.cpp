// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramRaster.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fb {

namespace {

// 128-bit integers keep the start of a line's stepping exact for any pair of 32-bit points.
__extension__ using Int128 = __int128;

constexpr QRgb kOpaque = 0xFF000000U;

} // namespace

HistogramRaster::HistogramRaster(QImage& image)
    : m_image(image)
    , m_bits(image.bits())
    , m_stride(image.bytesPerLine())
    , m_width(image.width())
    , m_height(image.height()) {
    ResetClip();
}

void HistogramRaster::ResetClip() {
    m_clipLeft = 0;
    m_clipRight = m_image.width();
    m_clipTop = 0;
    m_clipBottom = m_image.height();
}

void HistogramRaster::FillRect(int left, int top, int right, int bottom, QRgb colour) {
    const std::int64_t x0 = std::max<std::int64_t>(std::int64_t{left} + m_origin, m_clipLeft);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{right} + m_origin, m_clipRight);
    const int y0 = std::max(top, m_clipTop);
    const int y1 = std::min(bottom, m_clipBottom);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const QRgb pixel = colour | kOpaque;
    for (int y = y0; y < y1; ++y) {
        auto* row = Row(y);
        std::fill(row + x0, row + x1, pixel);
    }
}

void HistogramRaster::ScrollLeft(int pixels) {
    const int width = m_image.width();
    if (pixels <= 0 || pixels >= width) {
        return; // every source pixel lies outside the image: nothing changes
    }
    const auto count = static_cast<std::size_t>(width - pixels);
    for (int y = 0; y < m_image.height(); ++y) {
        auto* row = Row(y);
        std::memmove(row, row + pixels, count * sizeof(QRgb));
    }
}

void HistogramRaster::Line(int x0, int y0, int x1, int y1, const HistogramPen& requested) {
    HistogramPen pen = requested;
    pen.width = std::clamp(pen.width, 1, kMaxPenWidth);
    const QRgb colour = pen.colour | kOpaque;
    if (pen.width > 1 && pen.width != m_dotWidth) {
        // A round dot of the pen's diameter around the point (centred between pixels for even
        // widths).
        m_dot.clear();
        const int low = -(pen.width - 1) / 2;
        const double centre = low + (pen.width - 1) / 2.0;
        const double radius2 = (pen.width / 2.0) * (pen.width / 2.0);
        for (int dy = low; dy < low + pen.width; ++dy) {
            for (int dx = low; dx < low + pen.width; ++dx) {
                if ((dx - centre) * (dx - centre) + (dy - centre) * (dy - centre) <= radius2) {
                    m_dot.emplace_back(dx, dy);
                }
            }
        }
        m_dotWidth = pen.width;
    }

    const std::int64_t sx = std::int64_t{x0} + m_origin;
    const std::int64_t ex = std::int64_t{x1} + m_origin;
    const std::int64_t sy = y0;
    const std::int64_t ey = y1;
    const std::int64_t adx = ex >= sx ? ex - sx : sx - ex;
    const std::int64_t ady = ey >= sy ? ey - sy : sy - ey;
    const std::int64_t steps = std::max(adx, ady);
    if (steps == 0) {
        if (pen.width > 1) {
            Plot(sx, sy, pen.width, colour);
        }
        return;
    }
    const std::int64_t lastStep = pen.width > 1 ? steps : steps - 1;

    const bool xMajor = adx >= ady;
    const std::int64_t majorStart = xMajor ? sx : sy;
    const std::int64_t majorSign = (xMajor ? ex >= sx : ey >= sy) ? 1 : -1;
    const std::int64_t minorStart = xMajor ? sy : sx;
    const std::int64_t minorSign = (xMajor ? ey >= sy : ex >= sx) ? 1 : -1;
    const std::int64_t minorDistance = xMajor ? ady : adx;

    // Only the steps whose major coordinate can reach the clip area are walked.
    const std::int64_t reach = pen.width > 1 ? pen.width : 0;
    const std::int64_t low = (xMajor ? m_clipLeft : m_clipTop) - reach;
    const std::int64_t high = (xMajor ? m_clipRight : m_clipBottom) - 1 + reach;
    std::int64_t first = majorSign > 0 ? low - majorStart : majorStart - high;
    std::int64_t last = majorSign > 0 ? high - majorStart : majorStart - low;
    first = std::max<std::int64_t>(first, 0);
    last = std::min(last, lastStep);
    if (first > last) {
        return;
    }

    // Minor offset at step i: floor((2 * i * d + n - 1) / (2 * n)), i.e. i * d / n rounded to
    // nearest with ties toward the start; kept as quotient and remainder while stepping.
    const std::int64_t denominator = 2 * steps;
    std::int64_t quotient = 0;
    std::int64_t remainder = 0;
    constexpr std::int64_t kSmall = std::int64_t{1} << 30;
    if (first < kSmall && minorDistance < kSmall) {
        const std::int64_t numerator = 2 * first * minorDistance + steps - 1;
        quotient = numerator / denominator;
        remainder = numerator % denominator;
    } else {
        const Int128 numerator = Int128{2} * first * minorDistance + steps - 1;
        quotient = static_cast<std::int64_t>(numerator / denominator);
        remainder = static_cast<std::int64_t>(numerator % denominator);
    }
    const std::int64_t increment = 2 * minorDistance;
    for (std::int64_t i = first; i <= last; ++i) {
        const std::int64_t major = majorStart + majorSign * i;
        const std::int64_t minor = minorStart + minorSign * quotient;
        if (xMajor) {
            Plot(major, minor, pen.width, colour);
        } else {
            Plot(minor, major, pen.width, colour);
        }
        remainder += increment;
        if (remainder >= denominator) {
            remainder -= denominator;
            ++quotient;
        }
    }
}

void HistogramRaster::NarrowLine(int x0, int y0, int x1, int y1, QRgb colour) {
    const std::int64_t width = std::int64_t{x1} - x0;
    if (width < 0 || width > kNarrowLineWidth) {
        Line(x0, y0, x1, y1, HistogramPen{1, colour});
        return;
    }
    std::array<HistogramColumnRun, kNarrowLineWidth + 1> runs{};
    NarrowLineRuns(y0, y1, static_cast<int>(width), m_clipTop, m_clipBottom, runs.data());
    DrawColumnRuns(x0, runs.data(), static_cast<int>(width) + 1, colour);
}

void HistogramRaster::NarrowLineRuns(int y0, int y1, int width, int top, int bottom,
                                     HistogramColumnRun* runs) {
    // The graph's line pieces are 3 columns wide: a constant width turns the divisions into
    // multiplications.
    if (width == 3) {
        NarrowLineRunsOf<3>(y0, y1, 3, top, bottom, runs);
    } else {
        NarrowLineRunsOf<0>(y0, y1, width, top, bottom, runs);
    }
}

template <int kWidth>
void HistogramRaster::NarrowLineRunsOf(int y0, int y1, int anyWidth, int top, int bottom,
                                       HistogramColumnRun* runs) {
    const std::int64_t width = kWidth > 0 ? kWidth : anyWidth;
    const std::int64_t sy = y0;
    const std::int64_t height = y1 >= y0 ? std::int64_t{y1} - y0 : std::int64_t{y0} - y1;
    const bool down = y1 >= y0;
    if (width >= height) {
        // x is the major axis (also on a tie): one pixel in each column but the last.
        for (std::int64_t i = 0; i < width; ++i) {
            const std::int64_t offset = (2 * i * height + width - 1) / (2 * width);
            const std::int64_t y = down ? sy + offset : sy - offset;
            runs[i] = y >= top && y < bottom ? HistogramColumnRun{static_cast<int>(y), 1}
                                             : HistogramColumnRun{};
        }
        runs[width] = HistogramColumnRun{};
        return;
    }
    // y is the major axis: step i (0 <= i < height) lies in row sy +- i and in column
    // floor((2 * i * width + height - 1) / (2 * height)), the rule of Line. Column c therefore
    // holds the steps from first(c) = ceil((height * (2c - 1) + 1) / (2 * width)) on
    // (first(0) = 0): one vertical run per column. Only the steps in rows [top, bottom) count.
    std::int64_t visibleFirst = down ? top - sy : sy - (bottom - 1);
    std::int64_t visibleEnd = down ? bottom - sy : sy - top + 1;
    visibleFirst = std::max<std::int64_t>(visibleFirst, 0);
    visibleEnd = std::min(visibleEnd, height);
    std::int64_t first = 0;
    for (std::int64_t c = 0; c <= width; ++c) {
        const std::int64_t end =
            c == width ? height
                       : std::min(height, (height * (2 * c + 1) + 2 * width) / (2 * width));
        const std::int64_t from = std::max(first, visibleFirst);
        const std::int64_t to = std::min(end, visibleEnd);
        first = end;
        if (from >= to) {
            runs[c] = HistogramColumnRun{};
        } else {
            const std::int64_t row = down ? sy + from : sy - (to - 1);
            runs[c] = HistogramColumnRun{static_cast<int>(row), static_cast<int>(to - from)};
        }
    }
}

void HistogramRaster::DrawColumnRuns(int x0, const HistogramColumnRun* runs, int columns,
                                     QRgb colour) {
    const QRgb pixel = colour | kOpaque;
    const std::int64_t sx = std::int64_t{x0} + m_origin;
    const qsizetype step = m_stride / qsizetype{sizeof(QRgb)};
    for (int c = 0; c < columns; ++c) {
        const std::int64_t x = sx + c;
        const int from = std::max(runs[c].top, m_clipTop);
        const int to = std::min(runs[c].top + runs[c].count, m_clipBottom);
        if (from >= to || x < m_clipLeft || x >= m_clipRight) {
            continue;
        }
        QRgb* out = Row(from) + x;
        int count = to - from;
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
}

} // namespace fb
