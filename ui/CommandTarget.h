// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"

#include <cstdint>
#include <vector>

namespace fb {

// The state of one menu item while it is offered to a command-update handler. A handler may
// set the check mark or the enable state, or remove the item from its menu.
class CCmdUI {
public:
    int id = 0;
    bool enabled = true;
    bool checked = false;
    bool removed = false;
};

// A window that receives menu commands and answers command-update requests for its items.
class ICommandTarget {
public:
    virtual ~ICommandTarget() = default;

    // A command chosen from a menu (WM_COMMAND).
    virtual void OnCommand(int id) = 0;

    // Offers one menu item to the target's update handler for its id. False when the target
    // has no handler for it; the item is then left as it is.
    virtual bool OnUpdateCommand(CCmdUI& item) = 0;
};

// Offers every item of a pop-up menu that is about to open to the target's command-update
// handlers: separators are skipped, an entry that opens a submenu is offered with the id of
// that submenu's first item, a plain item with its own id, and an item without a handler is
// left enabled. Items a handler removes leave the menu; the walk then goes on after them.
void RouteCommandUpdates(std::vector<TrayMenuEntry>& menu, ICommandTarget& target);

} // namespace fb
