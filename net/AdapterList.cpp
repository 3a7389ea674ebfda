// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/AdapterList.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace fb {

namespace {

// Length in bytes of the first `chars` characters of UTF-8 text. A lead byte with its
// continuation bytes is one character; any byte that does not fit that pattern counts alone,
// so malformed text is cut somewhere sensible as well and never beyond 4 bytes a character.
std::size_t PrefixBytes(std::string_view text, std::size_t chars) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < chars && pos < text.size(); ++n) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        std::size_t follow = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            follow = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            follow = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            follow = 3;
        }
        ++pos;
        for (std::size_t k = 0; k < follow && pos < text.size(); ++k) {
            const auto next = static_cast<unsigned char>(text[pos]);
            if ((next & 0xC0) != 0x80) {
                break;
            }
            ++pos;
        }
    }
    return pos;
}

// Cuts at most `limit` bytes off the front of `text` without splitting a character.
} // namespace

CAdapterList::CAdapterList(IInterfaceTable& table)
    : m_table(table) {}

CAdapterList::LoadResult CAdapterList::LoadInterfaceTable() {
    m_entries.clear();
    m_mapping.clear();
    if (!m_table.Available()) {
        return LoadResult::FacilityMissing;
    }
    std::vector<IfRow> rows;
    if (!m_table.ReadTable(rows)) {
        return LoadResult::NoTable;
    }
    for (const IfRow& row : rows) {
        if (m_entries.size() == kMaxEntries) {
            break;
        }
        std::string text = EntryText(row.description, row.speed);
        if (IsListed(text)) {
            m_entries.push_back(std::move(text));
            m_mapping.push_back({row.index, {row.speed, row.inOctets, row.outOctets}});
        }
    }
    return LoadResult::Loaded;
}

int CAdapterList::SelectionFor(int storedNetwork) const {
    if (m_entries.empty()) {
        return -1;
    }
    if (storedNetwork >= 0 && static_cast<std::size_t>(storedNetwork) < m_entries.size()) {
        return storedNetwork;
    }
    return 0;
}

IfCounters CAdapterList::ReadSelectedRow(int selected) {
    const int position = SelectionFor(selected);
    if (position < 0) {
        return {};
    }
    Entry& entry = m_mapping[static_cast<std::size_t>(position)];
    IfCounters fresh = entry.last;
    if (m_table.ReadCounters(entry.index, fresh)) {
        entry.last = fresh;
    }
    return entry.last;
}

std::string CAdapterList::EntryText(const std::string& description, std::uint32_t speed) {
    std::string_view text(description);
    text = text.substr(0, text.find('\0'));
    text = text.substr(0, Utf8CutBytes(text, kDescriptionBytes));
    text = text.substr(0, PrefixBytes(text, kDescriptionChars));

    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(speed >> 20));
    std::string entry;
    entry.reserve(text.size() + 20);
    entry += ' ';
    entry += text;
    entry += ' ';
    entry += number;
    entry += " Mb";
    return entry;
}

bool CAdapterList::IsListed(const std::string& entryText) {
    const std::string_view text(entryText);
    if (text.starts_with(" WAN ") || text.starts_with(" isatap.")) {
        return false;
    }
    return text.find("Loopback") == std::string_view::npos;
}

std::uint32_t CAdapterList::SpeedDivisor(std::uint32_t speed) {
    return std::max<std::uint32_t>(1, speed / 16000);
}

} // namespace fb
