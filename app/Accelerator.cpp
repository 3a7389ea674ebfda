// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accelerator.h"

#include "net/AdapterList.h"
#include "net/LocalAddresses.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fb {

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

// One decimal, rounded as printf rounds the stored value. The locale's decimal separator, which
// printf writes, is replaced by a point: the labels read the same on every desktop.
std::string Percent(double value) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.1f", value);
    if (length < 3 || static_cast<std::size_t>(length) >= sizeof text)
        return "0.0%";
    const std::string_view printed(text, static_cast<std::size_t>(length));
    const std::size_t whole = printed.find_first_not_of("-0123456789");
    return std::string(printed.substr(0, whole)) + "." + printed.back() + "%";
}

} // namespace

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

ScaleTexts ScaleTexts::BeforeFirstSample() {
    // Until a sample sets the scale the labels show the template's texts, written with a
    // decimal comma; every scale after the first sample uses a point.
    return {"1,0%", "0,5%", "0%"};
}

ScaleTexts ScaleTexts::ForPeak(int peak) {
    return {Percent(peak / 10.0), Percent(peak / 20.0), "0%"};
}

void CThroughputSampler::Restart(const IfCounters& row) {
    m_lastInOctets = row.inOctets;
    m_lastOutOctets = row.outOctets;
    m_bytesPerRateUnit = CAdapterList::SpeedDivisor(row.speed);
}

ThroughputSample CThroughputSampler::Take(const IfCounters& row) {
    ThroughputSample sample;
    sample.rates.inRate = RateBetween(row.inOctets, m_lastInOctets, m_bytesPerRateUnit);
    sample.rates.outRate = RateBetween(row.outOctets, m_lastOutOctets, m_bytesPerRateUnit);
    m_lastInOctets = row.inOctets;
    m_lastOutOctets = row.outOctets;
    const int step = std::max(ScaleStep(sample.rates.inRate), ScaleStep(sample.rates.outRate));
    if (m_ring.Add(step))
        sample.peak = m_ring.Peak();
    return sample;
}

CAccelerateMode::CAccelerateMode(IPacketSocketFactory& sockets, std::atomic<std::int32_t>& flag)
    : m_flag(flag)
    , m_watcher(sockets, flag) {}

CAccelerateMode::~CAccelerateMode() {
    m_flag.store(0);
}

void CAccelerateMode::Toggle(const CLocalAddresses& addresses) {
    if (!IsOn()) {
        m_flag.store(1);
        m_watcher.OpenWatcherSocket(addresses);
        m_watcher.StartWatcher();
        m_sampling = true;
    } else {
        m_flag.store(0);
        m_watcher.StopWatcher();
        m_sampling = false;
    }
}

void CAccelerateMode::Suspend() {
    if (IsOn())
        m_watcher.StopWatcher();
    m_sampling = false;
}

void CAccelerateMode::Resume() {
    if (!IsOn()) {
        m_sampling = false;
        return;
    }
    // The watcher starts again on the socket the mode kept while suspended.
    m_watcher.StartWatcher();
    m_sampling = true;
}

} // namespace fb
