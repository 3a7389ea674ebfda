// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AddressTable.h"

namespace fb::linux_impl {

// The machine's IPv4 addresses, by interface, in the order getifaddrs would list them.
class AddressTable : public IAddressTable {
public:
    bool ReadIpv4Addresses(std::vector<std::uint32_t>& addresses) override;
};

} // namespace fb::linux_impl
