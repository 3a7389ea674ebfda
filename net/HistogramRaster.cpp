// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramRaster.h"

#include <algorithm>
#include <cstring>

namespace fb {

namespace {

// 128-bit integers keep the start of a line's stepping exact for any pair of 32-bit points.
__extension__ using Int128 = __int128;

constexpr QRgb kOpaque = 0xFF000000U;

} // namespace

HistogramRaster::HistogramRaster(QImage& image)
    : m_bits(image.bits())
    , m_stride(image.bytesPerLine())
    , m_width(image.width())
    , m_height(image.height())
    , m_clipRight(m_width) {}

void HistogramRaster::FillRect(int left, int top, int right, int bottom, QRgb colour) {
    const std::int64_t x0 = std::max<std::int64_t>(std::int64_t{left} + m_origin, m_clipLeft);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{right} + m_origin, m_clipRight);
    const int y0 = std::max(top, 0);
    const int y1 = std::min(bottom, m_height);
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
    const int width = m_width;
    if (pixels <= 0 || pixels >= width) {
        return; // every source pixel lies outside the image: nothing changes
    }
    const auto count = static_cast<std::size_t>(width - pixels);
    for (int y = 0; y < m_height; ++y) {
        auto* row = Row(y);
        std::memmove(row, row + pixels, count * sizeof(QRgb));
    }
}

// A round dot of the pen's diameter around the point (centred between pixels for even widths).
void HistogramRaster::SetDotWidth(int width) {
    if (width == m_dotWidth) {
        return;
    }
    m_dot.clear();
    const int low = -(width - 1) / 2;
    const double centre = low + (width - 1) / 2.0;
    const double radius2 = (width / 2.0) * (width / 2.0);
    for (int dy = low; dy < low + width; ++dy) {
        for (int dx = low; dx < low + width; ++dx) {
            if ((dx - centre) * (dx - centre) + (dy - centre) * (dy - centre) <= radius2) {
                m_dot.emplace_back(dx, dy);
            }
        }
    }
    m_dotWidth = width;
}

void HistogramRaster::Line(int x0, int y0, int x1, int y1, const HistogramPen& requested) {
    HistogramPen pen = requested;
    pen.width = std::clamp(pen.width, 1, kMaxPenWidth);
    const QRgb colour = pen.colour | kOpaque;
    if (pen.width > 1) {
        SetDotWidth(pen.width);
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
    const std::int64_t low = (xMajor ? m_clipLeft : 0) - reach;
    const std::int64_t high = (xMajor ? m_clipRight : m_height) - 1 + reach;
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

} // namespace fb
