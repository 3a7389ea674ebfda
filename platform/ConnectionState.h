// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace fb {

// Connection flags with their Windows numbers (InternetGetConnectedState).
inline constexpr std::uint32_t kConnectionModem = 0x01;
inline constexpr std::uint32_t kConnectionLan = 0x02;
inline constexpr std::uint32_t kConnectionProxy = 0x04;
inline constexpr std::uint32_t kConnectionOffline = 0x20;

class IConnectionState {
public:
    virtual ~IConnectionState() = default;

    // True when the machine is connected; `flags` receives the kind of connection.
    virtual bool GetConnectedState(std::uint32_t& flags) = 0;
};

} // namespace fb
