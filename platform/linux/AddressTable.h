#pragma once

#include "platform/AddressTable.h"

namespace fb::linux_impl {

// The machine's IPv4 addresses from getifaddrs, in the order it lists them (by interface).
class AddressTable : public IAddressTable {
public:
    bool ReadIpv4Addresses(std::vector<std::uint32_t>& addresses) override;
};

} // namespace fb::linux_impl
