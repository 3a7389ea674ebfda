// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fb {

// The fields of one interface row (MIB_IFROW) that the program reads, plus the interface's
// identity. Counters are cut to 32 bits and wrap at 2^32.
struct IfRow {
    std::uint32_t index = 0;     // the system's interface index: the adapter's identity
    std::string description;     // bDescr: what a person recognises the adapter by
    std::uint32_t speed = 0;     // dwSpeed, bits per second; 0 when unknown
    std::uint32_t inOctets = 0;  // dwInOctets
    std::uint32_t outOctets = 0; // dwOutOctets
};

// The counters of one interface, as a refresh reads them.
struct IfCounters {
    std::uint32_t speed = 0;
    std::uint32_t inOctets = 0;
    std::uint32_t outOctets = 0;
};

// The system's interface table (GetIfTable).
class IInterfaceTable {
public:
    virtual ~IInterfaceTable() = default;

    // False when the facility itself cannot be had (the program then ends with its message).
    virtual bool Available() = 0;

    // Every interface, in interface-index order. False when the table cannot be read.
    virtual bool ReadTable(std::vector<IfRow>& rows) = 0;

    // Refreshes one interface's counters by its index. Allocates nothing. False when the
    // interface is gone or cannot be read; `counters` is then left as it was.
    virtual bool ReadCounters(std::uint32_t index, IfCounters& counters) = 0;
};

} // namespace fb
