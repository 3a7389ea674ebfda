// SPDX-License-Identifier: GPL-3.0-or-later
// Direct drawing against the replay: long random runs, pixel-identical after every tick, and the
// change each tick reports leads from the last picture to the new one.
#include "net/HistogramCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>

namespace {

using fb::HistogramCore;
using fb::HistogramDrawing;

struct RunCase {
    unsigned seed = 0;
    int width = 0;
    int height = 0;
    int ticks = 0;
    // Also change the pens now and then: wide pens, and colours equal to the grid or the
    // background.
    bool changePens = false;
    // When the range changes: at random (4 % of the ticks), rarely (long stretches of steady
    // ticks with a full history), or in bursts of changes on every tick between steady stretches.
    enum class Ranges { Random, Rare, Bursts };
    Ranges ranges = Ranges::Random;
    // Share of the values that are 0 (a 0 continues at the height before).
    int zeroPercent = 15;
};

std::ostream& operator<<(std::ostream& out, const RunCase& run) {
    constexpr std::array<const char*, 3> kRanges{"", ", rare range changes",
                                                 ", bursts of range changes"};
    return out << "seed " << run.seed << ", " << run.width << " x " << run.height << ", "
               << run.ticks << " ticks" << (run.changePens ? ", pens change" : "")
               << kRanges[static_cast<std::size_t>(run.ranges)] << ", " << run.zeroPercent
               << " % zeros";
}

// Where the two pictures differ first, or an empty string.
std::string FirstDifference(const QImage& expected, const QImage& actual) {
    if (expected.size() != actual.size() || expected.format() != actual.format()) {
        return "size or format differs";
    }
    if (expected == actual) {
        return {};
    }
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixel(x, y) != actual.pixel(x, y)) {
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + "): replay " +
                       std::to_string(expected.pixel(x, y)) + ", direct " +
                       std::to_string(actual.pixel(x, y));
            }
        }
    }
    return {};
}

void ExpectSamePicture(const HistogramCore& replay, const HistogramCore& direct, int tick) {
    ASSERT_EQ(FirstDifference(replay.Image(), direct.Image()), "") << "tick " << tick;
}

// The last picture moved as the change says, the columns it lists taken from the new picture;
// a column neither moved nor listed keeps a colour no picture has.
QImage Changed(const QImage& last, const QImage& next, const fb::HistogramChange& change) {
    QImage changed(next.size(), QImage::Format_RGB32);
    changed.fill(qRgb(1, 2, 3));
    const int from = std::min(change.scrolledLeft, next.width());
    const int kept = next.width() - from;
    for (int y = 0; y < next.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(changed.scanLine(y));
        const auto* lastRow = reinterpret_cast<const QRgb*>(last.constScanLine(y));
        const auto* nextRow = reinterpret_cast<const QRgb*>(next.constScanLine(y));
        std::copy(lastRow + from, lastRow + from + kept, row);
        for (const int x : change.columns) {
            row[x] = nextRow[x];
        }
    }
    return changed;
}

// Returns whether the picture only moved, with some columns drawn anew.
bool ExpectChangeHolds(const QImage& last, const HistogramCore& direct, int tick) {
    const fb::HistogramChange& change = direct.Change();
    if (change.whole) {
        return false;
    }
    EXPECT_TRUE(std::is_sorted(change.columns.begin(), change.columns.end())) << "tick " << tick;
    EXPECT_EQ(FirstDifference(direct.Image(), Changed(last, direct.Image(), change)), "")
        << "tick " << tick;
    return true;
}

class DirectDrawing : public ::testing::TestWithParam<RunCase> {};

TEST_P(DirectDrawing, MatchesTheReplayAfterEveryTick) {
    const RunCase run = GetParam();
    HistogramCore replay(HistogramDrawing::Replay);
    HistogramCore direct(HistogramDrawing::Direct);
    ASSERT_TRUE(replay.BuildImage(run.width, run.height));
    ASSERT_TRUE(direct.BuildImage(run.width, run.height));
    ExpectSamePicture(replay, direct, 0);
    EXPECT_TRUE(direct.Change().whole);
    QImage last = direct.Image().copy();
    int moved = 0;

    std::mt19937 random(run.seed);
    const auto chance = [&](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    const auto pick = [&](auto const& choices) {
        return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random)];
    };
    constexpr std::array<int, 6> kUppers{10, 50, 100, 250, 500, 1000};
    constexpr std::array<int, 6> kLowers{1, 1, 1, 1, 0, 6};
    // Pens so wide that they reach the strip a scroll clears only on small images: the replay
    // stamps every dot of them.
    const std::array<int, 6> widths{1, 1, 2, 3, 5, run.width < 100 ? 19 : 4};
    constexpr std::array<QRgb, 5> kColours{HistogramCore::kSeries1Colour, qRgb(255, 255, 0),
                                           HistogramCore::kGridColour,
                                           HistogramCore::kBackgroundColour, qRgb(0, 0, 255)};
    std::uint32_t range = 100;
    const auto value = [&]() -> std::uint32_t {
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        if (kind < run.zeroPercent) {
            return 0;
        }
        if (kind < 65) {
            return std::uniform_int_distribution<std::uint32_t>(0, range + range / 5)(random);
        }
        if (kind < 75) {
            return range - 1 + std::uniform_int_distribution<std::uint32_t>(0, 2)(random);
        }
        if (kind < 90) {
            return std::uniform_int_distribution<std::uint32_t>(
                0, std::numeric_limits<std::uint32_t>::max())(random);
        }
        return std::numeric_limits<std::uint32_t>::max() -
               std::uniform_int_distribution<std::uint32_t>(0, 3)(random);
    };

    for (int tick = 1; tick <= run.ticks; ++tick) {
        bool changeRange = false;
        switch (run.ranges) {
        case RunCase::Ranges::Random:
            changeRange = chance(4);
            break;
        case RunCase::Ranges::Rare:
            changeRange = std::uniform_int_distribution<int>(0, 999)(random) < 2;
            break;
        case RunCase::Ranges::Bursts:
            // 8 ticks of changes, then 400 steady ticks (more than the history holds).
            changeRange = tick % 408 < 8;
            break;
        }
        if (changeRange) {
            const int lower = pick(kLowers);
            const int upper = pick(kUppers);
            replay.SetRange(lower, upper);
            direct.SetRange(lower, upper);
            range = static_cast<std::uint32_t>(upper - lower + 1);
        }
        if (run.changePens && chance(2)) {
            const int width = pick(widths);
            const QRgb colour = pick(kColours);
            replay.SetPens(width, colour);
            direct.SetPens(width, colour);
        }
        // Values per tick: mostly one, often none; now and then the timer has been stopped
        // for a while and many values wait.
        int values = 1;
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        if (kind < 25) {
            values = 0;
        } else if (kind < 40) {
            values = std::uniform_int_distribution<int>(2, 6)(random);
        } else if (kind < 43) {
            values = std::uniform_int_distribution<int>(20, 400)(random);
        }
        for (int i = 0; i < values; ++i) {
            const std::uint32_t first = value();
            const std::uint32_t second = value();
            replay.AddValues(first, second);
            direct.AddValues(first, second);
        }
        replay.Tick();
        direct.Tick();
        ExpectSamePicture(replay, direct, tick);
        EXPECT_TRUE(replay.Change().whole);
        moved += ExpectChangeHolds(last, direct, tick) ? 1 : 0;
        if (HasFailure()) {
            return;
        }
        last = direct.Image().copy();
    }
    EXPECT_GT(moved, 0) << "no tick only moved the picture";
}

// Sizes around the widths that matter: the real control (383), the full history's reach
// (333 + 14), narrower than that, and tiny images narrower than the grid spacing or the scroll
// strip.
INSTANTIATE_TEST_SUITE_P(
    LongRuns, DirectDrawing,
    ::testing::Values(RunCase{1, 383, 78, 3000, false}, RunCase{2, 383, 78, 3000, false},
                      RunCase{3, 383, 78, 2000, true}, RunCase{4, 347, 60, 2000, false},
                      RunCase{5, 333, 40, 2000, true}, RunCase{6, 200, 78, 3000, false},
                      RunCase{7, 520, 100, 1500, false}, RunCase{8, 40, 30, 3000, true},
                      RunCase{9, 13, 13, 3000, false}, RunCase{10, 14, 20, 3000, false},
                      RunCase{11, 5, 5, 3000, true}, RunCase{12, 3, 4, 3000, false},
                      RunCase{13, 1, 1, 2000, false}, RunCase{14, 7, 90, 2000, false},
                      RunCase{15, 384, 79, 2000, true}));

// Direct drawing keeps the last tick's stages and reuses them while the range stays: long steady
// stretches with a full history, bursts of range changes between them, many 0 values (which
// carry a height forward over many stages), images narrower and wider than the full history's
// reach and narrower than the grid spacing.
INSTANTIATE_TEST_SUITE_P(
    SteadyRuns, DirectDrawing,
    ::testing::Values(RunCase{21, 383, 78, 4000, false, RunCase::Ranges::Rare, 15},
                      RunCase{22, 383, 78, 4000, false, RunCase::Ranges::Bursts, 15},
                      RunCase{23, 383, 78, 3000, false, RunCase::Ranges::Rare, 80},
                      RunCase{24, 200, 60, 3000, false, RunCase::Ranges::Bursts, 60},
                      RunCase{25, 520, 100, 2500, true, RunCase::Ranges::Rare, 30},
                      RunCase{26, 332, 40, 3000, false, RunCase::Ranges::Bursts, 95},
                      RunCase{27, 12, 20, 3000, false, RunCase::Ranges::Rare, 40},
                      RunCase{28, 40, 30, 3000, true, RunCase::Ranges::Bursts, 15}));

} // namespace
