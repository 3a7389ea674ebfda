// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AddressTable.h"

#include <cstdint>
#include <vector>

namespace fb::fakes {

// An address table with given rows (network byte order) that can be made to fail.
class FakeAddressTable : public IAddressTable {
public:
    std::vector<std::uint32_t> addresses;
    bool fail = false;
    int reads = 0;

    bool ReadIpv4Addresses(std::vector<std::uint32_t>& out) override {
        ++reads;
        out.clear();
        if (fail)
            return false;
        out = addresses;
        return true;
    }
};

} // namespace fb::fakes
