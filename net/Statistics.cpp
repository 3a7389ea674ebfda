// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Statistics.h"

#include <cstdio>
#include <new>
#include <utility>

namespace fb {

std::string CDuration::Tick() {
    ++seconds;
    if (seconds == 60) {
        ++minutes;
        seconds = 0;
    }
    if (minutes == 60) {
        ++hours;
        minutes = 0;
    }
    return Text();
}

std::string CDuration::Text() const {
    char text[64];
    std::snprintf(text, sizeof text, " %2d hrs : %2d mins : %2d secs", hours, minutes, seconds);
    return text;
}

namespace {

// " <value> ": an unsigned counter between blanks.
std::string CounterText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, " %u ", static_cast<unsigned>(value));
    return text;
}

// The type words of `flags`, in the order LAN, Modem, Offline, Proxy.
std::string TypeText(std::uint32_t flags) {
    std::string text;
    if ((flags & kConnectionLan) != 0) {
        text += " LAN ";
    }
    if ((flags & kConnectionModem) != 0) {
        text += " Modem ";
    }
    if ((flags & kConnectionOffline) != 0) {
        text += " Offline ";
    }
    if ((flags & kConnectionProxy) != 0) {
        text += " Proxy ";
    }
    return text;
}

} // namespace

bool StatisticsTexts::Update(const IfCounters& counters, IConnectionState& connection) {
    try {
        std::string newSent = CounterText(counters.outOctets);
        std::string newReceived = CounterText(counters.inOctets);
        std::uint32_t flags = 0;
        const bool connected = connection.GetConnectedState(flags);
        std::string newType = connected ? TypeText(flags) : type;
        std::string newStatus = connected ? " Connected" : "N/A";
        sent = std::move(newSent);
        received = std::move(newReceived);
        type = std::move(newType);
        status = std::move(newStatus);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace fb
