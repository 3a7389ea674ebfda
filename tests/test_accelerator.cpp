// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accelerator.h"

#include "fakes/FakeAddressTable.h"
#include "fakes/FakePacketSocket.h"
#include "net/LocalAddresses.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <filesystem>

using namespace fb;

namespace {

// 100 Mbit/s: one rate unit is 6250 bytes, a thousandth of what it moves in 500 ms.
constexpr std::uint32_t kFastEthernet = 100000000;
// Below 32 kbit/s one rate unit is one byte.
constexpr std::uint32_t kSlowLink = 0;

// How many samples of `step` the ring takes without setting its peak again; the sample that
// sets it is taken too.
int HeldFor(CSampleRing& ring, int step) {
    for (int held = 0; held < 1000; ++held)
        if (ring.Add(step))
            return held;
    return -1;
}

} // namespace

TEST(ScaleStep, StepsAtEachBoundary) {
    const std::pair<int, int> cases[] = {
        {-2147483647 - 1, 10},
        {9, 10},
        {10, 50},
        {49, 50},
        {50, 100},
        {99, 100},
        {100, 250},
        {249, 250},
        {250, 500},
        {499, 500},
        {500, 1000},
        {2147483647, 1000},
    };
    for (const auto& [value, step] : cases)
        EXPECT_EQ(ScaleStep(value), step) << value;
}

TEST(ThroughputSampler, IdleCountersGiveOneAndOne) {
    CThroughputSampler sampler;
    sampler.Restart({kFastEthernet, 5000, 7000});
    const ThroughputSample sample = sampler.Take({kFastEthernet, 5000, 7000});
    EXPECT_EQ(sample.rates.inRate, 1);
    EXPECT_EQ(sample.rates.outRate, 1);
    EXPECT_EQ(sample.peak, 10); // the first sample sets the lowest scale
}

TEST(ThroughputSampler, DividesEachCounterBeforeTheDifferenceAndReportsANewPeak) {
    CThroughputSampler sampler;
    sampler.Restart({kFastEthernet, 6249, 0});
    // 6249 / 6250 = 0 and 12500 / 6250 = 2: the rate is 2, not 6251 / 6250 = 1.
    ThroughputSample sample = sampler.Take({kFastEthernet, 12500, 6250 * 1000});
    EXPECT_EQ(sample.rates.inRate, 2);
    EXPECT_EQ(sample.rates.outRate, 1000);
    EXPECT_EQ(sample.peak, 1000);
    // The readings taken are the next starting point.
    sample = sampler.Take({kFastEthernet, 12500, 6250 * 1000});
    EXPECT_EQ(sample.rates.outRate, 1);
    EXPECT_FALSE(sample.peak.has_value());
}

TEST(ThroughputSampler, CounterWrapAtTwoToThe32) {
    CThroughputSampler sampler;
    // A counter that wraps between two samples gives the small real difference.
    sampler.Restart({kSlowLink, 0xFFFFFF00U, 0});
    EXPECT_EQ(sampler.Take({kSlowLink, 0x100, 0}).rates.inRate, 0x200);
    // A counter that went backwards counts by its absolute difference.
    sampler.Restart({kSlowLink, 1000, 0});
    EXPECT_EQ(sampler.Take({kSlowLink, 400, 0}).rates.inRate, 600);
    // A jump of exactly 2^31 has no positive signed value; it stays the largest sample.
    sampler.Restart({kSlowLink, 0, 0});
    EXPECT_EQ(sampler.Take({kSlowLink, 0x80000000U, 0}).rates.inRate, 2147483647);
}

TEST(SampleRing, SingleHighSampleIsHeldFor110MoreSamples) {
    CSampleRing ring;
    EXPECT_TRUE(ring.Add(10));
    EXPECT_EQ(ring.Peak(), 10);
    EXPECT_TRUE(ring.Add(1000));
    EXPECT_EQ(ring.Peak(), 1000);
    // The 111th idle sample searches again: the 1000 has been written over.
    EXPECT_EQ(HeldFor(ring, 10), 110);
    EXPECT_EQ(ring.Peak(), 10);
}

TEST(SampleRing, EqualPeaksTheHigherSlotWinsThoughItHoldsTheOlderSample) {
    CSampleRing ring;
    // Slot 0 holds 1000; slot 100 an older 500.
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 0 ? 1000 : slot == 100 ? 500 : 10);
    ASSERT_FALSE(ring.Add(10)); // slot 0 written over: the 1000 is gone, the hold has run out
    // Slot 1 takes a new 500, equal to the older one in slot 100: the hold runs until slot 100
    // is written over (99 samples), not until slot 1 is (109).
    EXPECT_TRUE(ring.Add(500));
    EXPECT_EQ(ring.Peak(), 500);
    EXPECT_EQ(HeldFor(ring, 10), 99);
    EXPECT_EQ(ring.Peak(), 500); // the new 500 in slot 1 is still there
}

TEST(SampleRing, SearchPrefersTheHigherNumberedSlotEvenWhenOlder) {
    CSampleRing ring;
    // Slot 5 and slot 100 hold 250, the rest 10: the hold is renewed at slot 100.
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 5 || slot == 100 ? 250 : 10);
    ASSERT_EQ(ring.Peak(), 250);
    EXPECT_EQ(HeldFor(ring, 10), 101);
    EXPECT_EQ(ring.Peak(), 10);
}

TEST(SampleRing, SearchFindingTheSlotJustWrittenHoldsFor110) {
    CSampleRing ring;
    ring.Add(500); // slot 0
    for (int sample = 0; sample < 110; ++sample)
        ASSERT_FALSE(ring.Add(10)); // slots 1..109, then slot 0 again
    // The search finds the 100 in the slot just written, and holds it for a whole round.
    EXPECT_TRUE(ring.Add(100));
    EXPECT_EQ(ring.Peak(), 100);
    EXPECT_EQ(HeldFor(ring, 10), 110);
}

TEST(SampleRing, OlderHigherSlotAfterTheCursorShortensTheHold) {
    CSampleRing ring;
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 80 ? 1000 : 10);
    EXPECT_FALSE(ring.Add(500)); // slot 0
    // Slot 80's 1000 is held until it is written over; the search then finds the 500 in slot 0,
    // which is held until slot 0 comes round again.
    EXPECT_EQ(HeldFor(ring, 10), 80);
    EXPECT_EQ(ring.Peak(), 500);
    EXPECT_EQ(HeldFor(ring, 10), 29);
}

TEST(SampleRing, SampleEqualToThePeakRenewsTheHold) {
    CSampleRing ring;
    ring.Add(100);
    ring.Add(10);
    ring.Add(10);
    EXPECT_TRUE(ring.Add(100));
    EXPECT_EQ(HeldFor(ring, 10), 110);
}

TEST(ScaleTexts, OneDecimalWithAPoint) {
    const ScaleTexts first = ScaleTexts::BeforeFirstSample();
    EXPECT_EQ(first.top + " " + first.middle + " " + first.bottom, "1,0% 0,5% 0%");
    const std::pair<int, std::string> cases[] = {
        {10, "1.0% 0.5% 0%"},
        {50, "5.0% 2.5% 0%"},
        {250, "25.0% 12.5% 0%"},
        {1000, "100.0% 50.0% 0%"},
    };
    for (const auto& [peak, texts] : cases) {
        const ScaleTexts scale = ScaleTexts::ForPeak(peak);
        EXPECT_EQ(scale.top + " " + scale.middle + " " + scale.bottom, texts);
    }
}

TEST(ScaleTexts, StayWithAPointUnderALocaleWithADecimalComma) {
    // A German locale compiled into a folder of the test's own, so that nothing is installed.
    fb::testing_support::TempDir locales{"locale"};
    if (!std::filesystem::exists("/usr/share/i18n/locales/de_DE"))
        GTEST_SKIP() << "no locale sources (Debian package 'locales') to compile a comma locale";
    ASSERT_EQ(fb::testing_support::RunProgram(
                  {"localedef", "-i", "de_DE", "-f", "UTF-8", locales.File("de_DE.UTF-8")}),
              0);
    fb::testing_support::EnvGuard path{"LOCPATH", locales.Path().string()};
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 2.5);
    const ScaleTexts scale = ScaleTexts::ForPeak(50);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_STREQ(probe, "2,5"); // the locale really writes a comma
    EXPECT_EQ(scale.top, "5.0%");
    EXPECT_EQ(scale.middle, "2.5%");
}

TEST(AccelerateMode, SuspendKeepsTheSocketAndOffClosesIt) {
    fb::fakes::FakePacketSocketFactory sockets;
    fb::fakes::FakeAddressTable table;
    table.addresses = {0x0501A8C0U}; // 192.168.1.5
    CLocalAddresses addresses;
    addresses.LoadLocalAddresses(table);
    std::atomic<std::int32_t> flag{0};
    CAccelerateMode mode(sockets, flag);
    mode.Toggle(addresses);
    mode.Suspend();
    EXPECT_EQ(flag.load(), 1);
    EXPECT_FALSE(mode.IsSampling());
    mode.Resume();
    EXPECT_TRUE(mode.IsSampling());
    EXPECT_EQ(sockets.SocketsOpened(), 1);
    mode.Toggle(addresses);
    EXPECT_EQ(flag.load(), 0);
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    mode.Resume(); // off stays off
    EXPECT_FALSE(mode.IsSampling());
}
