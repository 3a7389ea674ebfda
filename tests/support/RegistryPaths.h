// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where a registry store keeps its files when a test runs it below a directory of its own: laid
// out as under a real home (the store and its lock in config/flowbright, the start-up entry in
// config/autostart, the Wine prefix in wine), so that the tests see the same neighbours and
// leftovers as the program does.

#include "platform/linux/registry/Registry.h"

#include <string>

namespace fb::testing_support {

inline linux_impl::FileRegistry::Paths RegistryPathsBelow(const std::string& root) {
    linux_impl::FileRegistry::Paths paths;
    paths.store = root + "/config/flowbright/registry.reg";
    paths.lock = paths.store + ".lock";
    paths.winePrefix = root + "/wine";
    paths.autostartDir = root + "/config/autostart";
    return paths;
}

} // namespace fb::testing_support
