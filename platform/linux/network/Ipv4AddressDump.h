// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace fb::linux_impl {

// One IPv4 address of the machine.
struct Ipv4Entry {
    std::uint32_t address = 0; // network byte order; the local end of a point-to-point link
    std::uint32_t index = 0;   // the interface that carries it
};

// Every IPv4 address of the calling thread's network namespace, in the kernel's order: by
// interface, and on each interface in the order the addresses were added. That is the order
// getifaddrs gives them in, read without the dump of every link (statistics and all) that
// getifaddrs also asks for, which on a machine with a thousand links costs far more than the
// addresses. False when the routing netlink cannot be read.
bool DumpIpv4Addresses(std::vector<Ipv4Entry>& entries);

} // namespace fb::linux_impl
