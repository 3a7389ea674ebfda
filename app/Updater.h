// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace fb {

class IShell;

// Starts the updater with its five quoted arguments; its result is ignored.
void LaunchUpdater(IShell& shell);

} // namespace fb
