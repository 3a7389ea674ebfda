// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/InterfaceTable.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fb::fakes {

// An interface table held in memory. Rows are kept in interface-index order, as the system
// reports them; tests add, remove and change rows between reads.
class FakeInterfaceTable : public IInterfaceTable {
public:
    bool available = true;     // false: the facility cannot be had
    bool tableFails = false;   // ReadTable reports failure
    bool countersFail = false; // ReadCounters reports failure for every index
    std::vector<IfRow> rows;

    void AddRow(std::uint32_t index, std::string description, std::uint32_t speed = 0,
                std::uint32_t inOctets = 0, std::uint32_t outOctets = 0) {
        IfRow row;
        row.index = index;
        row.description = std::move(description);
        row.speed = speed;
        row.inOctets = inOctets;
        row.outOctets = outOctets;
        auto at = std::lower_bound(rows.begin(), rows.end(), index,
                                   [](const IfRow& r, std::uint32_t i) { return r.index < i; });
        rows.insert(at, std::move(row));
    }

    void RemoveRow(std::uint32_t index) {
        std::erase_if(rows, [index](const IfRow& r) { return r.index == index; });
    }

    void SetCounters(std::uint32_t index, std::uint32_t inOctets, std::uint32_t outOctets) {
        if (IfRow* row = Find(index)) {
            row->inOctets = inOctets;
            row->outOctets = outOctets;
        }
    }

    void SetSpeed(std::uint32_t index, std::uint32_t speed) {
        if (IfRow* row = Find(index)) {
            row->speed = speed;
        }
    }

    bool Available() override { return available; }

    bool ReadTable(std::vector<IfRow>& out) override {
        if (tableFails) {
            return false;
        }
        out = rows;
        return true;
    }

    bool ReadCounters(std::uint32_t index, IfCounters& counters) override {
        if (countersFail) {
            return false;
        }
        const IfRow* row = Find(index);
        if (row == nullptr) {
            return false;
        }
        counters.speed = row->speed;
        counters.inOctets = row->inOctets;
        counters.outOctets = row->outOctets;
        return true;
    }

private:
    IfRow* Find(std::uint32_t index) {
        for (IfRow& row : rows) {
            if (row.index == index) {
                return &row;
            }
        }
        return nullptr;
    }
};

} // namespace fb::fakes
