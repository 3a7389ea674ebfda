// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/Watcher.h"
#include "platform/InterfaceTable.h"
#include "platform/PacketSocket.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace fb {

class CLocalAddresses;

// The throughput scale of accelerate mode: a sample's step on the fixed scale 10, 50, 100,
// 250, 500, 1000 (thousandths of the adapter's nominal speed).
int ScaleStep(int value);

// The in- and out-rates of one 500-ms sample, in rate units: one rate unit is the adapter's
// speed divisor of bytes (a thousandth of what the adapter moves in 500 ms at full speed).
struct RateSample {
    std::int32_t inRate = 1;
    std::int32_t outRate = 1;
};

// The ring of the last 110 scale steps and the held peak that tops the graph.
class CSampleRing {
public:
    static constexpr int kSlots = 110;

    // Writes one step at the cursor and moves the peak hold on. True when the peak was set
    // again (the graph's range and the scale labels must follow), even to the same value.
    bool Add(int step);

    int Peak() const { return m_peak; }

private:
    std::array<std::int32_t, kSlots> m_ring{};
    std::int32_t m_cursor = 0;
    std::int32_t m_peak = 10;
    std::int32_t m_countdown = 0;
};

// The texts of the three labels beside the graph's scale.
struct ScaleTexts {
    std::string top;
    std::string middle;
    std::string bottom;

    // What the labels show until the first sample sets a peak.
    static ScaleTexts BeforeFirstSample();
    // The top (peak / 10) and the middle (peak / 20), each with one decimal and "%", always with
    // a decimal point whatever the user's locale; the bottom is "0%".
    static ScaleTexts ForPeak(int peak);
};

// One sample as the window shows it: the rates the graph draws, and the peak when it was set
// again (the graph's range and the scale labels follow it then).
struct ThroughputSample {
    RateSample rates;
    std::optional<int> peak;
};

// Turns the selected adapter's counters, read every 500 ms, into rates and the peak of the
// recent samples. Counters wrap at 2^32; a rate is the difference of the divided counters.
class CThroughputSampler {
public:
    // Starts over from `row`: its counters are the last readings and its nominal speed sets the
    // rate unit. Done at start-up and whenever another adapter is chosen; the peak stays.
    void Restart(const IfCounters& row);

    ThroughputSample Take(const IfCounters& row);

private:
    std::uint32_t m_lastInOctets = 0;
    std::uint32_t m_lastOutOctets = 0;
    std::uint32_t m_bytesPerRateUnit = 1;
    CSampleRing m_ring;
};

// Accelerate mode: the flag shared with the watcher thread, the watcher that runs while the mode
// is on, and whether the mode's sampling runs. The run group suspends the mode while there is no
// client to accelerate; a suspended mode stays on and keeps its socket, so that a resume never
// opens a second one.
class CAccelerateMode {
public:
    CAccelerateMode(IPacketSocketFactory& sockets, std::atomic<std::int32_t>& flag);
    // The flag goes to 0 first, so that the watcher finds the mode off and closes its socket.
    ~CAccelerateMode();

    // The user's push: switches the mode on (watching the traffic of `addresses`) or off.
    void Toggle(const CLocalAddresses& addresses);
    void Suspend();
    void Resume();

    bool IsOn() const { return m_flag.load() == 1; }
    // Whether samples are taken and the accelerate duration counts.
    bool IsSampling() const { return m_sampling; }

private:
    std::atomic<std::int32_t>& m_flag;
    CRawWatcher m_watcher;
    bool m_sampling = false;
};

} // namespace fb
