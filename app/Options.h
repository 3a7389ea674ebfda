// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace fb {

class IRegistry;
class IProcessInfo;

// The options the main window keeps under the option key.
struct StoredOptions {
    std::string checkPeriod; // "CheckPeriodNum" as decimal text
    std::string accelerateN; // "AccelerateN" as decimal text
    std::int32_t selectedAdapter = 0;
};

// Reads "CheckPeriodNum" (12), "AccelerateN" (7) and "Network" (0); a missing key or value
// leaves the default.
void LoadOptions(IRegistry& registry, StoredOptions& options);

// Writes "CheckPeriodNum", "CheckPeriodCombo" = 0 and "AccelerateN"; silent on failure.
void SaveOptions(IRegistry& registry, const StoredOptions& options);

// Writes "Network"; silent on failure.
void SaveSelectedAdapter(IRegistry& registry, std::int32_t position);

// The data of the start-up entry for a current directory: the quoted shortcut path, then -tray.
std::string StartupEntryData(const std::string& currentDirectory, char separator);

// True when the start-up entry exists.
bool QueryRunAtStartup(IRegistry& registry);

// Inverts `flag`, then writes the start-up entry from the current directory or deletes it.
void ToggleRunAtStartup(IRegistry& registry, IProcessInfo& process, bool& flag);

} // namespace fb
