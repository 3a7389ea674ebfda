// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CommandTarget.h"

#include <cstddef>

namespace fb {

namespace {

// The id a menu reports for the entry at a position: 0 for a separator, -1 for an entry
// that opens a submenu, else the entry's command id.
int ItemId(const TrayMenuEntry& entry) {
    if (entry.separator)
        return 0;
    if (!entry.submenu.empty())
        return -1;
    return entry.id;
}

} // namespace

void RouteCommandUpdates(std::vector<TrayMenuEntry>& menu, ICommandTarget& target) {
    auto indexMax = static_cast<std::ptrdiff_t>(menu.size());
    for (std::ptrdiff_t index = 0; index < indexMax; ++index) {
        const auto position = static_cast<std::size_t>(index);
        int id = ItemId(menu[position]);
        if (id == 0)
            continue;
        if (id == -1) {
            // An entry that opens a submenu is offered with the id of the submenu's first
            // item; a submenu that starts with a separator or another submenu is skipped.
            id = ItemId(menu[position].submenu.front());
            if (id == 0 || id == -1)
                continue;
        }

        CCmdUI item;
        item.id = id;
        item.enabled = menu[position].enabled;
        item.checked = menu[position].checked;
        if (target.OnUpdateCommand(item)) {
            if (item.removed) {
                menu.erase(menu.begin() + index);
            } else {
                menu[position].enabled = item.enabled;
                menu[position].checked = item.checked;
            }
        }

        // Items the handler removed: step back by their number, then past every following
        // item with the same id, so that no item is offered twice and none is skipped.
        const auto count = static_cast<std::ptrdiff_t>(menu.size());
        if (count < indexMax) {
            index -= indexMax - count;
            while (index >= 0 && index < count &&
                   ItemId(menu[static_cast<std::size_t>(index)]) == id) {
                ++index;
            }
        }
        indexMax = count;
    }
}

} // namespace fb
