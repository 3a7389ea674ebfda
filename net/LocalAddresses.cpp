// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LocalAddresses.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fb {

int CLocalAddresses::LoadLocalAddresses(IAddressTable& table, int capacity) {
    m_texts.clear();
    m_addresses.clear();
    capacity = std::clamp(capacity, 0, kCapacity);

    std::vector<std::uint32_t> rows;
    if (!table.ReadIpv4Addresses(rows) || rows.size() > RowsThatFit(capacity))
        return 0;

    const std::size_t count = std::min(rows.size(), static_cast<std::size_t>(capacity));
    m_texts.reserve(count);
    m_addresses.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        m_texts.push_back(AddressText(rows[i]));
        m_addresses.push_back(rows[i]);
    }
    return static_cast<int>(count);
}

std::optional<std::uint32_t> CLocalAddresses::WatcherAddress() const {
    if (m_texts.empty())
        return std::nullopt;
    for (std::size_t i = 0; i < m_texts.size(); ++i) {
        if (m_texts[i] != "127.0.0.1" && m_texts[i] != "0.0.0.0")
            return m_addresses[i];
    }
    return m_addresses.front();
}

std::string CLocalAddresses::AddressText(std::uint32_t networkOrder) {
    // The bytes in memory order are the address's bytes from the most significant on.
    std::array<unsigned char, 4> bytes{};
    std::memcpy(bytes.data(), &networkOrder, bytes.size());
    std::string text;
    text.reserve(kMaxTextLength);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

} // namespace fb
