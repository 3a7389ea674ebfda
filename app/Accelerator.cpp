// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accelerator.h"

#include <charconv>
#include <cstdlib>

int ScaleStep(int value) {
    if (value < 10)
        return 10;
    if (value < 50)
        return 50;
    if (value < 100)
        return 100;
    if (value < 250)
        return 250;
    if (value < 500)
        return 500;
    return 1000;
}

namespace {

std::int32_t RateBetween(std::uint32_t now, std::uint32_t last, std::uint32_t divisor) {
    const std::uint32_t difference = now / divisor - last / divisor; // modulo 2^32
    const auto signedDifference = static_cast<std::int32_t>(difference);
    // The absolute value of INT32_MIN does not fit; it stays the largest possible sample.
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(signedDifference));
    const auto rate = static_cast<std::int32_t>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
    return rate == 0 ? 1 : rate;
}

std::string Percent(double value) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, result.ptr) + "%";
}

} // namespace

RateSample TakeRates(std::uint32_t inOctets, std::uint32_t outOctets, std::uint32_t& lastIn,
                     std::uint32_t& lastOut, std::uint32_t divisor) {
    if (divisor == 0)
        divisor = 1;
    RateSample sample;
    sample.inRate = RateBetween(inOctets, lastIn, divisor);
    lastIn = inOctets;
    sample.outRate = RateBetween(outOctets, lastOut, divisor);
    lastOut = outOctets;
    return sample;
}

bool CSampleRing::Add(int step) {
    if (m_cursor == kSlots)
        m_cursor = 0;
    m_ring[static_cast<std::size_t>(m_cursor)] = step;

    bool peakSet = false;
    if (step >= m_peak) {
        m_countdown = kSlots;
        m_peak = step;
        peakSet = true;
    } else if (m_countdown < 1) {
        // Among equal highest steps the slot with the highest number wins.
        int index = 0;
        int best = 1;
        for (int slot = 0; slot < kSlots; ++slot) {
            if (m_ring[static_cast<std::size_t>(slot)] >= best) {
                index = slot;
                best = m_ring[static_cast<std::size_t>(slot)];
            }
        }
        m_peak = m_ring[static_cast<std::size_t>(index)];
        m_countdown = index > m_cursor ? index - m_cursor : kSlots - m_cursor + index;
        peakSet = true;
    } else {
        --m_countdown;
    }
    ++m_cursor;
    return peakSet;
}

std::string TopScaleLabel(int peak) {
    return Percent(peak / 10.0);
}

std::string MiddleScaleLabel(int peak) {
    return Percent(peak / 20.0);
}
