// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/InterfaceTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fb {

// The adapter list of the main window without its widgets: the interface table as it was read,
// the texts of the adapter combo box, and the mapping from each entry to the adapter it shows.
// The list is built once and never rebuilt. An entry stays bound to its adapter's identity (the
// interface index), so adapters that come and go elsewhere in the table never make an entry read
// another adapter's counters.
class CAdapterList {
public:
    enum class LoadResult {
        Loaded,         // the table was read; Entries() holds the listed adapters (maybe none)
        NoTable,        // the table could not be read; no entries
        FacilityMissing // the interface table facility itself is missing; nothing was read
    };

    static constexpr std::size_t kMaxEntries = 256;       // room of the selected-adapter mapping
    static constexpr std::size_t kDescriptionChars = 38;  // characters of a description shown
    static constexpr std::size_t kDescriptionBytes = 255; // longest description a row can hold

    explicit CAdapterList(IInterfaceTable& table);

    // Reads the table and builds the entries: the rows that pass the filter, in table order,
    // at most kMaxEntries of them.
    LoadResult LoadInterfaceTable();

    // The texts of the entries, in list order.
    const std::vector<std::string>& Entries() const { return m_entries; }

    // The entry to select for a stored position: that position when it is a listed entry, else
    // the first entry; -1 when nothing is listed.
    int SelectionFor(int storedNetwork) const;

    // Refreshes the adapter shown at `selected` (a position that is not listed means the first
    // entry) and returns its counters. An adapter that can no longer be read keeps its last
    // values; with no entries at all the counters are zero. Allocates nothing.
    IfCounters ReadSelectedRow(int selected);

    // " <description cut to 38 characters> <speed >> 20> Mb"
    static std::string EntryText(const std::string& description, std::uint32_t speed);

    // The adapter filter: false for entry texts of wide-area, ISATAP and loopback rows
    // (case-sensitive). Interface tables only describe their links; this alone decides which
    // of them are listed.
    static bool IsListed(const std::string& entryText);

    // speed / 16000, at least 1: turns a byte count over 500 ms into thousandths of the speed.
    static std::uint32_t SpeedDivisor(std::uint32_t speed);

private:
    struct Entry {
        std::uint32_t index = 0; // the adapter's identity
        IfCounters last;         // its last good counters
    };

    IInterfaceTable& m_table;
    std::vector<std::string> m_entries;
    std::vector<Entry> m_mapping; // parallel to m_entries
};

} // namespace fb
