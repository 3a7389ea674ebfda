// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fb {

// A raw receive-all IPv4 socket. Destroying it closes it, exactly once.
class IPacketSocket {
public:
    virtual ~IPacketSocket() = default;

    // Outcome of one receive.
    enum class Result { Packet, Failed, Woken };

    // Blocks until a packet arrives, the receive fails, or Wake() is called (from any thread).
    // The packet is copied from its IPv4 header on. A packet longer than `size` fails, as the
    // receive-all socket does. `length` receives the packet's length on Packet. A pending wake
    // wins over a waiting packet.
    virtual Result Receive(std::uint8_t* buffer, std::size_t size, std::size_t& length) = 0;

    // Makes a pending Receive, and every later one, return Woken at once, until Rearm().
    // Thread-safe.
    virtual void Wake() = 0;

    // Clears a wake, so that Receive waits for packets again. Called only while no Receive is
    // pending (before a watcher starts on the socket).
    virtual void Rearm() = 0;
};

class IPacketSocketFactory {
public:
    virtual ~IPacketSocketFactory() = default;

    // Opens a receive-all socket bound to the interface owning `address` (network byte order).
    // Null when the socket cannot be created or bound (for instance without CAP_NET_RAW, or
    // when no interface owns the address).
    virtual std::unique_ptr<IPacketSocket> Open(std::uint32_t address) = 0;
};

} // namespace fb
