// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Options.h"

#include "platform/ProcessInfo.h"
#include "platform/Registry.h"
#include "res/Product.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace fb {

namespace {

const std::string kOptionKey(product::kOptionKey);

// Reads a 4-byte number into a buffer preset to the default, without looking at the type.
std::int32_t ReadDword(IRegKey* key, const std::string& name, std::int32_t fallback) {
    std::uint8_t buffer[4];
    std::memcpy(buffer, &fallback, sizeof buffer);
    if (key != nullptr) {
        std::uint32_t size = sizeof buffer;
        key->QueryValue(name, nullptr, buffer, &size);
    }
    std::int32_t value = 0;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

void WriteDword(IRegKey& key, const std::string& name, std::int32_t value) {
    std::uint8_t buffer[4];
    std::memcpy(buffer, &value, sizeof buffer);
    key.SetValue(name, reg::kDword, buffer, sizeof buffer);
}

} // namespace

void LoadOptions(IRegistry& registry, StoredOptions& options) {
    auto key = registry.OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    options.checkPeriod = std::to_string(ReadDword(key.get(), "CheckPeriodNum", 12));
    options.accelerateN = std::to_string(ReadDword(key.get(), "AccelerateN", 7));
    options.selectedAdapter = ReadDword(key.get(), "Network", 0);
}

void SaveOptions(IRegistry& registry, const StoredOptions& options) {
    auto key = registry.CreateKey(RegRoot::CurrentUser, kOptionKey);
    if (!key)
        return;
    WriteDword(*key, "CheckPeriodNum", std::atoi(options.checkPeriod.c_str()));
    WriteDword(*key, "CheckPeriodCombo", 0);
    WriteDword(*key, "AccelerateN", std::atoi(options.accelerateN.c_str()));
}

void SaveSelectedAdapter(IRegistry& registry, std::int32_t position) {
    if (auto key = registry.CreateKey(RegRoot::CurrentUser, kOptionKey))
        WriteDword(*key, "Network", position);
}

std::string StartupEntryData(const std::string& currentDirectory, char separator) {
    std::string path = currentDirectory;
    // The root directory already ends with its separator.
    if (path.empty() || path.back() != separator)
        path += separator;
    path += product::kShortcutName;
    return "\"" + path + "\" -tray";
}

bool QueryRunAtStartup(IRegistry& registry) {
    auto key = registry.OpenKey(RegRoot::CurrentUser, std::string(product::kRunKey), false);
    return key && key->QueryValue(std::string(product::kRunValue), nullptr, nullptr, nullptr) ==
                      reg::kSuccess;
}

void ToggleRunAtStartup(IRegistry& registry, IProcessInfo& process, bool& flag) {
    flag = !flag;
    // The Run key belongs to every user's registry; a store that has not seen it yet creates it.
    auto key = registry.CreateKey(RegRoot::CurrentUser, std::string(product::kRunKey));
    if (!key)
        return;
    if (flag) {
        const std::string data =
            StartupEntryData(process.CurrentDirectory(), process.PathSeparator());
        key->SetValue(std::string(product::kRunValue), reg::kSz,
                      reinterpret_cast<const std::uint8_t*>(data.c_str()),
                      static_cast<std::uint32_t>(data.size() + 1));
    } else {
        key->DeleteValue(std::string(product::kRunValue));
    }
}

} // namespace fb
