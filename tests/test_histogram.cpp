// SPDX-License-Identifier: GPL-3.0-or-later
// The graph's behaviour: points from the added values, the history, the range, and the pixels
// of hand-worked pictures. Every case runs with both ways of drawing a tick.
#include "net/HistogramCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <vector>

namespace {

using fb::HistogramCore;
using fb::HistogramDrawing;

constexpr QRgb kGreen = HistogramCore::kSeries1Colour;
constexpr QRgb kRed = HistogramCore::kSeries2Colour;
constexpr QRgb kBlack = HistogramCore::kBackgroundColour;
constexpr QRgb kGrid = HistogramCore::kGridColour;

// The size of the real control's client area.
constexpr int kWidth = 383;
constexpr int kHeight = 78;

std::set<int> ColumnsOfColourInRow(const QImage& image, int y, QRgb colour) {
    std::set<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) == colour) {
            columns.insert(x);
        }
    }
    return columns;
}

std::set<int> RowsOfColour(const QImage& image, QRgb colour) {
    std::set<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) {
                rows.insert(y);
                break;
            }
        }
    }
    return rows;
}

std::set<int> Range(int from, int to) {
    std::set<int> values;
    for (int v = from; v <= to; ++v) {
        values.insert(v);
    }
    return values;
}

class HistogramTest : public ::testing::TestWithParam<HistogramDrawing> {
protected:
    HistogramTest()
        : core(GetParam()) {}
    void SetUp() override { ASSERT_TRUE(core.BuildImage(kWidth, kHeight)); }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            core.Tick();
        }
    }

    HistogramCore core;
};

INSTANTIATE_TEST_SUITE_P(BothDrawings, HistogramTest,
                         ::testing::Values(HistogramDrawing::Replay, HistogramDrawing::Direct),
                         [](const auto& info) {
                             return info.param == HistogramDrawing::Replay ? "Replay" : "Direct";
                         });

TEST(HistogramBuild, FirstImageIsTheBackgroundWithTheGrid) {
    HistogramCore core;
    ASSERT_TRUE(core.BuildImage(40, 30));
    const QImage& image = core.Image();
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(40, 30));
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool grid = x == 12 || x == 25 || x == 38 || y == 12 || y == 25;
            ASSERT_EQ(image.pixel(x, y), grid ? kGrid : kBlack) << x << ", " << y;
        }
    }
}

TEST(HistogramBuild, FailsTwiceOrWithoutAnArea) {
    HistogramCore core;
    ASSERT_TRUE(core.BuildImage(10, 10));
    EXPECT_FALSE(core.BuildImage(10, 10));
    EXPECT_EQ(core.Image().size(), QSize(10, 10));

    for (const QSize size : {QSize(0, 10), QSize(10, 0), QSize(-4, -4)}) {
        HistogramCore empty;
        EXPECT_FALSE(empty.BuildImage(size.width(), size.height()));
        EXPECT_FALSE(empty.HasImage());
        empty.AddValues(5, 5);
        empty.Tick(); // no image: nothing happens
        EXPECT_TRUE(empty.Image().isNull());
    }
}

TEST_P(HistogramTest, PensOfTheWidthWithRedForTheSecondSeries) {
    core.SetPens(3, qRgb(1, 2, 3));
    core.AddValues(50, 25); // rows 39 and 59
    core.Tick();
    EXPECT_EQ(RowsOfColour(core.Image(), qRgb(1, 2, 3)), Range(38, 40));
    EXPECT_EQ(RowsOfColour(core.Image(), kRed), Range(58, 60));
}

TEST_P(HistogramTest, RangeAndOffsetFromTheBounds) {
    // Each bound pair puts the value halfway up its range, on row 39 of 78, but for the range of
    // one value, which the value fills.
    const struct {
        int lower;
        int upper;
        std::uint32_t value;
        int row;
    } cases[] = {{1, 500, 250, 39},
                 {11, 20, 15, 39},
                 {0, 1, 0, 39},
                 // The offset INT_MIN - 1 wraps to INT_MAX: 2^31 is 1 above it.
                 {INT_MIN, INT_MIN, 0x80000000U, 0}};
    for (const auto& c : cases) {
        HistogramCore graph(GetParam());
        ASSERT_TRUE(graph.BuildImage(kWidth, kHeight));
        graph.SetRange(c.lower, c.upper);
        // Series 2 gets lower - 1, a 0 after the offset: no point to cover series 1.
        graph.AddValues(c.value, static_cast<std::uint32_t>(c.lower) - 1U);
        graph.Tick();
        EXPECT_EQ(RowsOfColour(graph.Image(), kGreen), std::set<int>{c.row}) << c.lower;
    }
}

TEST(HistogramRange, EmptyRangeIsIgnored) {
    HistogramCore core;
    ASSERT_TRUE(core.BuildImage(50, 20));
    core.SetRange(1, 250);
    core.SetRange(5, 4);             // upper + 1 = lower: nothing to divide by
    core.SetRange(INT_MIN, INT_MAX); // 2^32 values wrap to 0 as well
    core.AddValues(100, 0);
    core.Tick(); // would divide by zero
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{20 - 100 * 20 / 250});
}

TEST_P(HistogramTest, ValuesAreAveragedIntoOnePointPerTick) {
    core.SetRange(1, 10);
    core.AddValues(2, 1);
    core.AddValues(4, 1);
    core.AddValues(7, 2);
    core.Tick();
    // 13 / 3 = 4 on row 78 - 312 / 10 = 47; 4 / 3 = 1 on row 78 - 78 / 10 = 71.
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{47});
    EXPECT_EQ(RowsOfColour(core.Image(), kRed), std::set<int>{71});
    core.Tick(); // the values were used up: a 0, which stays at the height before
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{47});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 47, kGreen), Range(kWidth - 23, kWidth - 12));
}

TEST_P(HistogramTest, SumOfValuesWrapsAtThirtyTwoBits) {
    core.AddValues(0xFFFFFFFFU, 0x80000000U);
    core.AddValues(0xFFFFFFFFU, 0x80000000U);
    core.AddValues(2, 6);
    core.SetRange(1, 10);
    core.Tick();
    // (2^33 - 2 + 2) mod 2^32 = 0: no point yet. (2^32 + 6) mod 2^32 = 6, / 3 = 2: row 63.
    EXPECT_TRUE(RowsOfColour(core.Image(), kGreen).empty());
    EXPECT_EQ(RowsOfColour(core.Image(), kRed), std::set<int>{63});
}

TEST_P(HistogramTest, OffsetIsSubtractedWhenValuesAreAdded) {
    core.SetRange(11, 20);
    core.AddValues(15, 5);
    core.SetRange(1, 20); // a later range does not change values already added
    core.Tick();
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{78 - 5 * 78 / 20});
    EXPECT_TRUE(RowsOfColour(core.Image(), kRed).empty()); // 5 - 10 wraps: far above
}

TEST_P(HistogramTest, WithoutValuesOnlyTheGridShows) {
    for (int tick = 1; tick <= 130; ++tick) {
        core.Tick();
        EXPECT_TRUE(RowsOfColour(core.Image(), kGreen).empty()) << tick;
        EXPECT_TRUE(RowsOfColour(core.Image(), kRed).empty()) << tick;
        for (const int row : {12, 25, 38, 51, 64, 77}) {
            ASSERT_EQ(ColumnsOfColourInRow(core.Image(), row, kGrid), Range(0, kWidth - 1))
                << "tick " << tick << ", row " << row;
        }
    }
}

TEST_P(HistogramTest, FirstTickGridColumnsAndPoints) {
    // One point: the first image, then 2 scroll steps. The first image's columns 12, 25, ...,
    // 376 move 6 left; the first step draws a column at 370 (phase 7) that moves 3 left, the
    // second one at 380 (phase 4).
    core.AddValues(50, 25);
    core.Tick();
    std::set<int> columns{367, 380};
    for (int x = 12; x < kWidth; x += 13) {
        columns.insert(x - 6);
    }
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 5, kGrid), columns);
    // Series 1 at 78 - 50 * 78 / 100 = 39, series 2 at 78 - 1950 / 100 = 59: the oldest pair
    // twice and the newest once more, 3 pixels each, ending at right - 12.
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{39});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 39, kGreen), Range(363, 371));
    EXPECT_EQ(RowsOfColour(core.Image(), kRed), std::set<int>{59});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 59, kRed), Range(363, 371));
}

TEST_P(HistogramTest, GridColumnsOfTheFirstImageAndOfTheScrollSteps) {
    // With S scroll steps the first image's columns 12, 25, ... (those left of the strip the
    // first step clears) lie 3 S further left; every step's column lands on one lattice: the
    // phase p after the tick's own step, minus 1, minus 3 S (mod 13), from the first step's
    // reach to the right edge. The lattice moves against the plot from tick to tick.
    int before = 13;
    for (int tick = 1; tick <= 200; ++tick) {
        core.Tick();
        const int scrolls = std::min(tick, HistogramCore::kHistoryLength) + 1;
        const int phase = before - 3 < 0 ? before + 10 : before - 3;
        const int lattice = ((phase - 1 - 3 * scrolls) % 13 + 13) % 13;
        std::set<int> columns;
        for (int x = std::max(0, kWidth - 13 - 3 * (scrolls - 1)); x < kWidth; ++x) {
            if (x % 13 == lattice) {
                columns.insert(x);
            }
        }
        for (int x = 12; x <= kWidth - 4; x += 13) {
            if (x - 3 * scrolls >= 0) {
                columns.insert(x - 3 * scrolls);
            }
        }
        ASSERT_EQ(ColumnsOfColourInRow(core.Image(), 5, kGrid), columns) << "tick " << tick;
        before = ((phase - 3 * scrolls) % 13 + 13) % 13;
    }
}

TEST_P(HistogramTest, NewestPointIsThreePixelsFromRightMinus14ToRightMinus12) {
    core.AddValues(50, 0);
    core.Tick();
    core.AddValues(100, 0); // the range: the top row
    core.Tick();
    // Row 0 holds only the newest point's flat piece; the rising piece before it ends
    // (without its last point) at row 1.
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 0, kGreen), Range(kWidth - 14, kWidth - 12));
    EXPECT_EQ(core.Image().pixel(kWidth - 11, 0), kBlack);
    EXPECT_EQ(core.Image().pixel(kWidth - 14, 1), kGreen);
    EXPECT_EQ(core.Image().pixel(kWidth - 17, 39), kGreen); // the rise starts at the 50
}

TEST_P(HistogramTest, ValuesAboveTheRangeAreClipped) {
    core.AddValues(101, 102); // 78 - 7878 / 100 = 0; 78 - 7956 / 100 = -1
    core.Tick();
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{0});
    EXPECT_TRUE(RowsOfColour(core.Image(), kRed).empty());
}

TEST_P(HistogramTest, HugeValuesWrapInTheProductAndLandFarAbove) {
    core.AddValues(0xFFFFFFFFU, 0x80000000U + 50);
    core.Tick();
    // (2^32 - 1) * 78 mod 2^32 = 2^32 - 78; / 100 = 42949672: row 78 - that, far above.
    EXPECT_TRUE(RowsOfColour(core.Image(), kGreen).empty());
    // (2^31 + 50) * 78 mod 2^32 = 3900: the product wraps, the point lands where 50 would.
    EXPECT_EQ(RowsOfColour(core.Image(), kRed), std::set<int>{39});
}

TEST_P(HistogramTest, ZeroContinuesAtTheHeightOfThePointBefore) {
    core.AddValues(50, 0);
    core.Tick();
    core.Tick();          // no values: 0
    core.AddValues(0, 0); // an explicit 0
    core.Tick();
    // 4 scroll steps: stages 0 ... 4 from 371 - 14 to 371, all at the 50's row 39; nothing at
    // the bottom edge.
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{39});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 39, kGreen), Range(357, 371));
}

TEST_P(HistogramTest, LeadingZerosStayHiddenUntilTheFirstPoint) {
    core.Tick();
    core.Tick();
    core.AddValues(50, 0);
    core.Tick();
    // Stages 0 ... 2 draw below the image; stage 3 (the 50) and stage 4 (its repeat) at row 39.
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{39});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 39, kGreen), Range(366, 371));
}

TEST_P(HistogramTest, DroppingTheOldestPointCanHideTheZerosAfterIt) {
    core.AddValues(50, 0);
    core.Tick();
    Ticks(109);
    // 110 points, only the first not 0: a flat line over 111 + 1 stages of 3 pixels.
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 39, kGreen), Range(kWidth - 14 - 333, 371));
    core.Tick(); // the 50 is dropped: nothing left to continue from
    EXPECT_TRUE(RowsOfColour(core.Image(), kGreen).empty());
}

TEST_P(HistogramTest, RangeChangeRedrawsEveryStoredPoint) {
    for (int i = 0; i < 10; ++i) {
        core.AddValues(100, 0);
        core.Tick();
    }
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{0});
    core.SetRange(1, 500);
    core.Tick();
    // 100 * 78 / 500 = 15: every point moves to row 63, and 12 scroll steps put stage 0 at
    // 369 - 36.
    EXPECT_EQ(RowsOfColour(core.Image(), kGreen), std::set<int>{63});
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 63, kGreen), Range(333, 371));

    core.AddValues(500, 0); // the new range reaches the top edge
    core.Tick();
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 0, kGreen), Range(kWidth - 14, kWidth - 12));
}

TEST_P(HistogramTest, StoppedTimerValuesBecomeOnePointAtTheNextTick) {
    core.AddValues(10, 20);
    core.Tick();
    // While the timer is stopped many values arrive; the next tick averages all of them.
    for (int i = 0; i < 100000; ++i) {
        core.AddValues(i % 2 == 0 ? 30 : 50, 7);
    }
    core.Tick();
    // The newest piece: 40 on row 78 - 3120 / 100 = 47, 7 on row 73.
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 47, kGreen), Range(kWidth - 14, kWidth - 12));
    EXPECT_EQ(ColumnsOfColourInRow(core.Image(), 73, kRed), Range(kWidth - 14, kWidth - 12));
}

} // namespace
