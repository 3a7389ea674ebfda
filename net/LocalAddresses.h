// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AddressTable.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fb {

// The machine's local IPv4 addresses, collected once at start-up, and the choice of the address
// the raw-socket watcher binds to.
class CLocalAddresses {
public:
    // Entries the list holds at most.
    static constexpr int kCapacity = 100;
    // The address table is read into capacity x 28 bytes: a 4-byte row count followed by rows of
    // 24 bytes. A table with more rows than fit makes the read fail and leaves the list empty.
    static constexpr std::size_t kBytesPerEntry = 28;
    static constexpr std::size_t kTableHeaderBytes = 4;
    static constexpr std::size_t kTableRowBytes = 24;
    // Longest dotted-decimal text ("255.255.255.255").
    static constexpr std::size_t kMaxTextLength = 15;

    // Rows of the address table that fit the buffer for `capacity` entries (116 for 100).
    static constexpr std::size_t RowsThatFit(int capacity) {
        return capacity <= 0
                   ? 0
                   : (static_cast<std::size_t>(capacity) * kBytesPerEntry - kTableHeaderBytes) /
                         kTableRowBytes;
    }

    // Reads the table and fills the list with at most `capacity` (clamped to 0 ... 100) entries,
    // in the table's order; returns the count. A table that cannot be read, or that is larger
    // than the buffer, leaves the list empty and returns 0.
    int LoadLocalAddresses(IAddressTable& table, int capacity = kCapacity);

    // Number of valid entries, 0 to 100.
    int Count() const { return static_cast<int>(m_texts.size()); }

    // Dotted-decimal text of entry `index` (0 <= index < Count()).
    const std::string& Text(int index) const { return m_texts.at(static_cast<std::size_t>(index)); }

    // Address of entry `index`, network byte order (0 <= index < Count()).
    std::uint32_t Address(int index) const {
        return m_addresses.at(static_cast<std::size_t>(index));
    }

    // The address the watcher socket binds to: the first entry whose text is neither "127.0.0.1"
    // nor "0.0.0.0", else entry 0; nothing when the list is empty.
    std::optional<std::uint32_t> WatcherAddress() const;

    // The text inet_ntoa gives for an address in network byte order.
    static std::string AddressText(std::uint32_t networkOrder);

private:
    std::vector<std::string> m_texts;
    std::vector<std::uint32_t> m_addresses;
};

} // namespace fb
