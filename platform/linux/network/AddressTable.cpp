// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/AddressTable.h"

#include "platform/linux/network/Ipv4AddressDump.h"

namespace fb::linux_impl {

bool AddressTable::ReadIpv4Addresses(std::vector<std::uint32_t>& addresses) {
    addresses.clear();
    std::vector<Ipv4Entry> entries;
    if (!DumpIpv4Addresses(entries))
        return false;
    addresses.reserve(entries.size());
    for (const Ipv4Entry& entry : entries)
        addresses.push_back(entry.address);
    return true;
}

} // namespace fb::linux_impl
