// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The throughput scale of accelerate mode: a sample's step on the fixed scale 10, 50, 100,
// 250, 500, 1000 (thousandths of the adapter's nominal speed).
int ScaleStep(int value);

// The in- and out-rates of one 500-ms sample, in units of one speed divisor of bytes.
struct RateSample {
    std::int32_t inRate = 1;
    std::int32_t outRate = 1;
};

// Turns two counter readings into rates: the difference of the divided counters taken modulo
// 2^32, read as signed and made absolute; a rate of 0 counts as 1. Updates the last readings.
RateSample TakeRates(std::uint32_t inOctets, std::uint32_t outOctets, std::uint32_t& lastIn,
                     std::uint32_t& lastOut, std::uint32_t divisor);

// The ring of the last 110 scale steps and the held peak that tops the graph.
class CSampleRing {
public:
    static constexpr int kSlots = 110;

    // Writes one step at the cursor and moves the peak hold on. True when the peak was set
    // again (the graph's range and the scale labels must follow), even to the same value.
    bool Add(int step);

    int Peak() const { return m_peak; }
    int Countdown() const { return m_countdown; }
    int Cursor() const { return m_cursor; }
    const std::array<std::int32_t, kSlots>& Slots() const { return m_ring; }

private:
    std::array<std::int32_t, kSlots> m_ring{};
    std::int32_t m_cursor = 0;
    std::int32_t m_peak = 10;
    std::int32_t m_countdown = 0;
};

// The scale label texts for a peak: the top (peak / 10) and the middle (peak / 20), each with
// one decimal and "%", always with a decimal point whatever the user's locale.
std::string TopScaleLabel(int peak);
std::string MiddleScaleLabel(int peak);
