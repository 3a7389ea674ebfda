// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel rules of the graph's drawing: filled rectangles, lines, the self-copy and clipping.
#include "net/HistogramPlan.h"
#include "net/HistogramRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>

namespace {

using fb::HistogramPen;
using fb::HistogramRaster;

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kInk = qRgb(10, 200, 30);

QImage BlankImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kBlack);
    return image;
}

using Pixels = std::set<std::pair<int, int>>;

Pixels InkedPixels(const QImage& image) {
    Pixels inked;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == kInk) {
                inked.emplace(x, y);
            }
        }
    }
    return inked;
}

// The stepping rule written the other way round: at major step i of n, the minor offset m is
// the integer with (2m - 1) n < 2 i d <= (2m + 1) n, i.e. i d / n rounded to nearest with a tie
// going to the smaller offset. Every step but the last is drawn; only visible pixels are kept.
Pixels ExpectedLine(int x0, int y0, int x1, int y1, int width, int height) {
    Pixels pixels;
    const std::int64_t dx = std::int64_t{x1} - x0;
    const std::int64_t dy = std::int64_t{y1} - y0;
    const std::int64_t adx = dx < 0 ? -dx : dx;
    const std::int64_t ady = dy < 0 ? -dy : dy;
    const std::int64_t n = std::max(adx, ady);
    const bool xMajor = adx >= ady;
    const std::int64_t d = xMajor ? ady : adx;
    for (std::int64_t i = 0; i < n; ++i) {
        std::int64_t m = 0;
        while (!((2 * m - 1) * n < 2 * i * d && 2 * i * d <= (2 * m + 1) * n)) {
            ++m;
        }
        const std::int64_t majorStep = i;
        std::int64_t x = 0;
        std::int64_t y = 0;
        if (xMajor) {
            x = x0 + (dx < 0 ? -majorStep : majorStep);
            y = y0 + (dy < 0 ? -m : m);
        } else {
            y = y0 + (dy < 0 ? -majorStep : majorStep);
            x = x0 + (dx < 0 ? -m : m);
        }
        if (x >= 0 && x < width && y >= 0 && y < height) {
            pixels.emplace(static_cast<int>(x), static_cast<int>(y));
        }
    }
    return pixels;
}

TEST(HistogramRasterFill, ExcludesTheRightAndBottomEdges) {
    QImage image = BlankImage(10, 8);
    HistogramRaster raster(image);
    raster.FillRect(2, 3, 5, 6, kInk);
    Pixels expected;
    for (int y = 3; y < 6; ++y) {
        for (int x = 2; x < 5; ++x) {
            expected.emplace(x, y);
        }
    }
    EXPECT_EQ(InkedPixels(image), expected);
}

TEST(HistogramRasterFill, ClipsToTheImageAndDrawsNothingWhenEmpty) {
    QImage image = BlankImage(6, 4);
    HistogramRaster raster(image);
    raster.FillRect(4, 2, 2, 3, kInk); // right < left
    raster.FillRect(1, 3, 3, 3, kInk); // no height
    EXPECT_TRUE(InkedPixels(image).empty());
    raster.FillRect(-100, -100, INT_MAX, INT_MAX, kInk);
    EXPECT_EQ(InkedPixels(image).size(), 24U);
}

TEST(HistogramRasterFill, WritesOpaquePixels) {
    QImage image = BlankImage(2, 2);
    HistogramRaster raster(image);
    raster.FillRect(0, 0, 1, 1, 0x00123456U); // a colour without alpha, as a colour reference has
    EXPECT_EQ(image.pixel(0, 0), 0xFF123456U);
}

TEST(HistogramRasterLine, LeavesOutTheLastPoint) {
    QImage image = BlankImage(10, 10);
    HistogramRaster raster(image);
    raster.Line(2, 5, 5, 5, HistogramPen{1, kInk});
    EXPECT_EQ(InkedPixels(image), (Pixels{{2, 5}, {3, 5}, {4, 5}}));
    image.fill(kBlack);
    raster.Line(7, 1, 7, 4, HistogramPen{1, kInk});
    EXPECT_EQ(InkedPixels(image), (Pixels{{7, 1}, {7, 2}, {7, 3}}));
}

TEST(HistogramRasterLine, ZeroLengthDrawsNothingWithAThinPen) {
    QImage image = BlankImage(5, 5);
    HistogramRaster raster(image);
    raster.Line(2, 2, 2, 2, HistogramPen{1, kInk});
    EXPECT_TRUE(InkedPixels(image).empty());
}

TEST(HistogramRasterLine, RoundsTiesTowardTheStart) {
    // From (0, 0) to (3, 10): x offsets 0.0 0.3 0.6 0.9 1.2 1.5 1.8 2.1 2.4 2.7; the tie at
    // 1.5 rounds to 1.
    QImage image = BlankImage(6, 12);
    HistogramRaster raster(image);
    raster.Line(0, 0, 3, 10, HistogramPen{1, kInk});
    EXPECT_EQ(
        InkedPixels(image),
        (Pixels{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 6}, {2, 7}, {2, 8}, {3, 9}}));
    // The same line drawn the other way: the tie now rounds toward (3, 10).
    image.fill(kBlack);
    raster.Line(3, 10, 0, 0, HistogramPen{1, kInk});
    EXPECT_EQ(
        InkedPixels(image),
        (Pixels{{3, 10}, {3, 9}, {2, 8}, {2, 7}, {2, 6}, {2, 5}, {1, 4}, {1, 3}, {1, 2}, {0, 1}}));
}

TEST(HistogramRasterLine, MatchesTheSteppingRuleForRandomLinesPartlyOutside) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> coordinate(-30, 60);
    for (int i = 0; i < 3000; ++i) {
        const int x0 = coordinate(random);
        const int y0 = coordinate(random);
        const int x1 = coordinate(random);
        const int y1 = coordinate(random);
        QImage image = BlankImage(31, 23);
        HistogramRaster raster(image);
        raster.Line(x0, y0, x1, y1, HistogramPen{1, kInk});
        ASSERT_EQ(InkedPixels(image), ExpectedLine(x0, y0, x1, y1, 31, 23))
            << "(" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1 << ")";
    }
}

TEST(HistogramRasterLine, HandlesEndsAtTheLimitsOfThirtyTwoBits) {
    // The graph's line pieces are 3 pixels wide and may reach far above and below the image.
    const std::pair<int, int> ends[] = {
        {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}, {-42949594, 39}, {5, INT_MIN}, {INT_MAX, 40}};
    for (const auto& [from, to] : ends) {
        QImage image = BlankImage(12, 80);
        HistogramRaster raster(image);
        raster.Line(4, from, 7, to, HistogramPen{1, kInk});
        const Pixels inked = InkedPixels(image);
        // One pixel per visible row, within the piece's columns; the same rule in 64 bits.
        Pixels expected;
        const std::int64_t n =
            std::int64_t{to} > from ? std::int64_t{to} - from : std::int64_t{from} - to;
        for (int y = 0; y < 80; ++y) {
            const std::int64_t i = to > from ? y - std::int64_t{from} : std::int64_t{from} - y;
            if (i < 0 || i >= n) {
                continue;
            }
            // Round i * 3 / n to nearest, ties down; i * 3 < 2^34 fits.
            const std::int64_t m = (2 * i * 3 + n - 1) / (2 * n);
            expected.emplace(4 + static_cast<int>(m), y);
        }
        EXPECT_EQ(inked, expected) << from << " to " << to;
    }
}

TEST(HistogramRasterLine, WidePenStampsRoundDotsIncludingTheEndPoint) {
    QImage image = BlankImage(12, 12);
    HistogramRaster raster(image);
    raster.Line(3, 5, 6, 5, HistogramPen{3, kInk});
    Pixels expected;
    for (int x = 2; x <= 7; ++x) {
        for (int y = 4; y <= 6; ++y) {
            expected.emplace(x, y);
        }
    }
    EXPECT_EQ(InkedPixels(image), expected);
    image.fill(kBlack);
    raster.Line(5, 5, 5, 5, HistogramPen{2, kInk});
    EXPECT_EQ(InkedPixels(image), (Pixels{{5, 5}, {6, 5}, {5, 6}, {6, 6}}));
}

TEST(HistogramRasterLine, AbsurdPenWidthsAreBounded) {
    QImage image = BlankImage(200, 200);
    HistogramRaster raster(image);
    raster.Line(100, 100, 101, 100, HistogramPen{1'000'000, kInk});
    const Pixels inked = InkedPixels(image);
    EXPECT_FALSE(inked.empty());
    for (const auto& [x, y] : inked) {
        EXPECT_LE(std::abs(x - 100), HistogramRaster::kMaxPenWidth);
        EXPECT_LE(std::abs(y - 100), HistogramRaster::kMaxPenWidth);
    }
    image.fill(kBlack);
    raster.Line(10, 10, 13, 10, HistogramPen{-7, kInk}); // no width: the thin pen
    EXPECT_EQ(InkedPixels(image), (Pixels{{10, 10}, {11, 10}, {12, 10}}));
}

TEST(HistogramRasterClip, OriginAndClipColumnsLimitEveryDrawing) {
    QImage image = BlankImage(20, 5);
    HistogramRaster raster(image);
    raster.SetOrigin(-6);
    raster.SetClipColumns(3, 8);
    raster.FillRect(0, 0, 30, 1, kInk);               // columns -6 .. 23, kept 3 .. 7
    raster.Line(10, 2, 20, 2, HistogramPen{1, kInk}); // columns 4 .. 13, kept 4 .. 7
    Pixels expected;
    for (int x = 3; x < 8; ++x) {
        expected.emplace(x, 0);
    }
    for (int x = 4; x < 8; ++x) {
        expected.emplace(x, 2);
    }
    EXPECT_EQ(InkedPixels(image), expected);
    raster.SetClipColumns(INT_MIN, INT_MAX);
    raster.SetOrigin(0);
    raster.FillRect(19, 4, 25, 9, kInk);
    EXPECT_EQ(image.pixel(19, 4), kInk);
}

TEST(HistogramRasterScroll, CopiesLeftAndKeepsColumnsWithoutSource) {
    QImage image(8, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 8; ++x) {
            image.setPixel(x, y, qRgb(x, y, 0));
        }
    }
    HistogramRaster raster(image);
    raster.ScrollLeft(3);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(image.pixel(x, y), qRgb(x + 3, y, 0)) << x << ", " << y;
        }
        for (int x = 5; x < 8; ++x) {
            EXPECT_EQ(image.pixel(x, y), qRgb(x, y, 0)) << x << ", " << y;
        }
    }
}

TEST(HistogramRasterScroll, ImageNoWiderThanTheStepStaysAsItIs) {
    for (int width = 1; width <= 3; ++width) {
        QImage image(width, 1, QImage::Format_RGB32);
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, 0, qRgb(x + 1, 0, 0));
        }
        const QImage before = image.copy();
        HistogramRaster raster(image);
        raster.ScrollLeft(3);
        EXPECT_EQ(image, before) << width;
    }
}

// The column runs of the graph's line pieces give exactly the pixels of Line with a 1-pixel pen:
// steep and flat pieces, ends far outside the image (the graph's values above the range).
TEST(HistogramLineRuns, AreThePixelsOfLine) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> near(-40, 70);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int> percent(0, 99);
    constexpr int kColumns = fb::HistogramPlan::kSegmentColumns;
    for (int i = 0; i < 6000; ++i) {
        const int x0 = near(random) % 28;
        const int y0 = percent(random) < 10 ? any(random) : near(random);
        const int y1 = percent(random) < 10 ? any(random) : near(random);
        QImage expected = BlankImage(31, 23);
        HistogramRaster(expected).Line(x0, y0, x0 + kColumns - 1, y1, HistogramPen{1, kInk});
        QImage actual = BlankImage(31, 23);
        const fb::HistogramPlan::SegmentRuns runs = fb::HistogramPlan::LineRuns(y0, y1, 23);
        for (int c = 0; c < kColumns; ++c) {
            const fb::HistogramColumnRun run = runs[static_cast<std::size_t>(c)];
            for (int y = run.top; y < run.top + run.count; ++y) {
                if (x0 + c >= 0) {
                    actual.setPixel(x0 + c, y, kInk);
                }
            }
        }
        ASSERT_EQ(InkedPixels(actual), InkedPixels(expected))
            << "(" << x0 << ", " << y0 << ") to (" << x0 + kColumns - 1 << ", " << y1 << ")";
    }
}

} // namespace
