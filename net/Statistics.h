// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ConnectionState.h"
#include "platform/InterfaceTable.h"

#include <cstdint>
#include <string>

namespace fb {

// A duration counted in ticks of one second, shown as " %2d hrs : %2d mins : %2d secs".
// The running duration and the accelerate duration are both of this type.
struct CDuration {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;

    // Advances by one second (seconds and minutes roll over at 60, hours are not limited)
    // and returns the new text.
    std::string Tick();

    // The text of the current value.
    std::string Text() const;

    // What the accelerate-duration display shows before its first tick (one blank before the
    // first 0, unlike the formatted text).
    static constexpr const char* kInitialAccelerateText = " 0 hrs :  0 mins :  0 secs";
};

// The once-a-second texts of the "Statistics" group.
struct StatisticsTexts {
    std::string sent;     // " <outOctets> "
    std::string received; // " <inOctets> "
    std::string type;     // " LAN ", " Modem ", " Offline ", " Proxy " as the flags say
    std::string status;   // " Connected" or "N/A"

    // Composes the texts from the selected adapter's counters and the connection state. When
    // not connected the type text keeps what it showed last. Returns false (and leaves every
    // text as it was) when the texts could not be composed for lack of memory.
    bool Update(const IfCounters& counters, IConnectionState& connection);
};

} // namespace fb
