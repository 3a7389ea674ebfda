// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accelerator.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>

TEST(ScaleStep, StepsAtEachBoundary) {
    EXPECT_EQ(ScaleStep(-2147483647 - 1), 10);
    EXPECT_EQ(ScaleStep(-1), 10);
    EXPECT_EQ(ScaleStep(9), 10);
    EXPECT_EQ(ScaleStep(10), 50);
    EXPECT_EQ(ScaleStep(49), 50);
    EXPECT_EQ(ScaleStep(50), 100);
    EXPECT_EQ(ScaleStep(99), 100);
    EXPECT_EQ(ScaleStep(100), 250);
    EXPECT_EQ(ScaleStep(249), 250);
    EXPECT_EQ(ScaleStep(250), 500);
    EXPECT_EQ(ScaleStep(499), 500);
    EXPECT_EQ(ScaleStep(500), 1000);
    EXPECT_EQ(ScaleStep(2147483647), 1000);
}

TEST(TakeRates, IdleCountersGiveOneAndOne) {
    std::uint32_t lastIn = 5000, lastOut = 7000;
    const RateSample sample = TakeRates(5000, 7000, lastIn, lastOut, 6250);
    EXPECT_EQ(sample.inRate, 1);
    EXPECT_EQ(sample.outRate, 1);
}

TEST(TakeRates, DividesEachCounterBeforeTheDifference) {
    std::uint32_t lastIn = 6249, lastOut = 0;
    // 6249 / 6250 = 0 and 12500 / 6250 = 2: the rate is 2, not 6251 / 6250 = 1.
    const RateSample sample = TakeRates(12500, 6250 * 1000, lastIn, lastOut, 6250);
    EXPECT_EQ(sample.inRate, 2);
    EXPECT_EQ(sample.outRate, 1000);
    EXPECT_EQ(lastIn, 12500U);
    EXPECT_EQ(lastOut, 6250U * 1000U);
}

TEST(TakeRates, CounterWrapAtTwoToThe32) {
    // A counter that wraps between two samples gives the small real difference.
    std::uint32_t lastIn = 0xFFFFFF00U, lastOut = 0;
    const RateSample sample = TakeRates(0x100, 0, lastIn, lastOut, 1);
    EXPECT_EQ(sample.inRate, 0x200);
    // A counter that went backwards counts by its absolute difference.
    lastIn = 1000;
    EXPECT_EQ(TakeRates(400, 0, lastIn, lastOut, 1).inRate, 600);
    // A jump of exactly 2^31 has no positive signed value; it stays the largest sample.
    lastIn = 0;
    EXPECT_EQ(TakeRates(0x80000000U, 0, lastIn, lastOut, 1).inRate, 2147483647);
}

TEST(TakeRates, ZeroDivisorIsTreatedAsOne) {
    std::uint32_t lastIn = 0, lastOut = 0;
    EXPECT_EQ(TakeRates(30, 40, lastIn, lastOut, 0).outRate, 40);
}

TEST(SampleRing, FirstSampleReachesTheInitialPeak) {
    CSampleRing ring;
    EXPECT_TRUE(ring.Add(10));
    EXPECT_EQ(ring.Peak(), 10);
    EXPECT_EQ(ring.Countdown(), 110);
    EXPECT_EQ(ring.Cursor(), 1);
}

TEST(SampleRing, SingleHighSampleIsHeldFor110MoreSamples) {
    CSampleRing ring;
    ring.Add(10);
    EXPECT_TRUE(ring.Add(1000));
    EXPECT_EQ(ring.Peak(), 1000);
    for (int i = 0; i < 110; ++i) {
        EXPECT_FALSE(ring.Add(10)) << i;
        EXPECT_EQ(ring.Peak(), 1000) << i;
    }
    // The 111th idle sample searches again: the 1000 has been written over.
    EXPECT_TRUE(ring.Add(10));
    EXPECT_EQ(ring.Peak(), 10);
}

TEST(SampleRing, IdleFor111SamplesAfterAHigherStepFallsBackToTen) {
    CSampleRing ring;
    ring.Add(250);
    int changes = 0;
    for (int i = 0; i < 111; ++i)
        changes += ring.Add(10) ? 1 : 0;
    EXPECT_EQ(ring.Peak(), 10);
    EXPECT_GE(changes, 1);
}

TEST(SampleRing, EqualPeaksTheHigherSlotWinsThoughItHoldsTheOlderSample) {
    CSampleRing ring;
    // Slot 0 holds 1000; slot 100 an older 500.
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 0 ? 1000 : slot == 100 ? 500 : 10);
    ring.Add(10); // slot 0 written over: the 1000 is gone, the hold has run out
    ASSERT_EQ(ring.Countdown(), 0);
    // Slot 1 takes a new 500, equal to the older one in slot 100: the search takes slot 100.
    EXPECT_TRUE(ring.Add(500));
    EXPECT_EQ(ring.Peak(), 500);
    EXPECT_EQ(ring.Countdown(), 99); // until slot 100 is written over, not slot 1
}

TEST(SampleRing, SearchPrefersTheHigherNumberedSlotEvenWhenOlder) {
    CSampleRing ring;
    // Fill slots 0..109: slot 5 and slot 100 hold 250, the rest 10. The first sample sets the
    // peak to 10 with a hold of 110, so the 250 at slot 5 becomes the peak at once.
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 5 || slot == 100 ? 250 : 10);
    ASSERT_EQ(ring.Peak(), 250);
    // Slot 100's 250 renewed the hold: countdown 110 at cursor 101, minus 9 more samples.
    EXPECT_EQ(ring.Countdown(), 101);
    // Now overwrite slot 0..: push the countdown to zero with idle samples.
    for (int i = 0; i < 101; ++i)
        ring.Add(10);
    // Cursor wrapped: slots 0..100 now idle (slot 100 written over at the 101st sample).
    EXPECT_EQ(ring.Countdown(), 0);
    EXPECT_EQ(ring.Peak(), 250);
    // The next sample searches: slots 0..100 hold 10, slots 101..109 hold 10 too.
    EXPECT_TRUE(ring.Add(10));
    EXPECT_EQ(ring.Peak(), 10);
}

TEST(SampleRing, SearchFindingTheSlotJustWrittenHoldsFor110) {
    CSampleRing ring;
    ring.Add(500); // slot 0, peak 500, hold 110
    for (int i = 0; i < 110; ++i)
        ring.Add(10); // slots 1..109, then slot 0 again at the 110th
    // Hold ran down to 0 on the last of these; slot 0 now holds 10.
    EXPECT_EQ(ring.Countdown(), 0);
    // Slot 1 takes a 100: it is below the held 500, and the search finds 100 in slot 1, the
    // slot just written.
    EXPECT_TRUE(ring.Add(100));
    EXPECT_EQ(ring.Peak(), 100);
    EXPECT_EQ(ring.Countdown(), 110);
}

TEST(SampleRing, OlderHigherSlotAfterTheCursorShortensTheHold) {
    CSampleRing ring;
    for (int slot = 0; slot < 110; ++slot)
        ring.Add(slot == 80 ? 1000 : 10);
    // Peak 1000 from slot 80; hold 110 renewed there, then 29 samples: 81.
    EXPECT_EQ(ring.Countdown(), 81);
    for (int i = 0; i < 81; ++i)
        ring.Add(i == 0 ? 500 : 10); // slot 0 gets 500, slots 1..80 get 10
    EXPECT_EQ(ring.Peak(), 1000);
    EXPECT_EQ(ring.Countdown(), 0);
    // Slot 81 is written with 10; the search finds the 500 in slot 0 (the only step above 10).
    EXPECT_TRUE(ring.Add(10));
    EXPECT_EQ(ring.Peak(), 500);
    // index 0 is not after cursor 81: countdown = 110 - 81 + 0.
    EXPECT_EQ(ring.Countdown(), 29);
}

TEST(SampleRing, SampleEqualToThePeakRenewsTheHold) {
    CSampleRing ring;
    ring.Add(100);
    ring.Add(10);
    ring.Add(10);
    EXPECT_EQ(ring.Countdown(), 108);
    EXPECT_TRUE(ring.Add(100));
    EXPECT_EQ(ring.Countdown(), 110);
}

TEST(ScaleLabels, UseAPointWhateverTheLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    // A comma locale, where available, must not change the labels.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(TopScaleLabel(10), "1.0%");
    EXPECT_EQ(MiddleScaleLabel(10), "0.5%");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(TopScaleLabel(50), "5.0%");
    EXPECT_EQ(MiddleScaleLabel(50), "2.5%");
    EXPECT_EQ(TopScaleLabel(250), "25.0%");
    EXPECT_EQ(MiddleScaleLabel(250), "12.5%");
    EXPECT_EQ(TopScaleLabel(1000), "100.0%");
    EXPECT_EQ(MiddleScaleLabel(1000), "50.0%");
}
