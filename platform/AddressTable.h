// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace fb {

// The machine's IPv4 address table (GetIpAddrTable).
class IAddressTable {
public:
    virtual ~IAddressTable() = default;

    // Every IPv4 address of the machine in network byte order, in interface order.
    // False when the table cannot be read.
    virtual bool ReadIpv4Addresses(std::vector<std::uint32_t>& addresses) = 0;
};

} // namespace fb
