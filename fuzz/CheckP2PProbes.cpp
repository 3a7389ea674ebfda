// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"

#include "p2p/FindP2PDlg.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryText.h"

#include <cstring>
#include <filesystem>

namespace fb::fuzz {

namespace {

namespace fs = std::filesystem;
using linux_impl::FileRegistry;
using linux_impl::ParseRegistryText;
using linux_impl::RegHive;
using linux_impl::RegParseMode;

// Separates the parts of one input: our store, the prefix's user.reg and its system.reg.
constexpr std::string_view kSeparator = "\x1e";

// The longest executable name a probe appends.
constexpr std::size_t kLongestExecutable = sizeof("\\WinMX Music.exe") - 1;

// Files beside the store whose name starts with `prefix`.
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            found.push_back(entry.path().string());
    }
    return found;
}

bool IsChoiceValue(const std::string& keyPath, const std::string& valueName) {
    return linux_impl::FoldRegistryName(keyPath) == "software\\flowbright" &&
           (linux_impl::FoldRegistryName(valueName) == "app_name" ||
            linux_impl::FoldRegistryName(valueName) == "app_path");
}

} // namespace

std::string CheckP2PProbes(std::string_view data) {
    static ScratchDir scratch;
    const auto parts = SplitInput(data, kSeparator, 3);
    const std::string dir = scratch.Fresh("p2p");
    FileRegistry::Paths paths;
    paths.store = dir + "/config/flowbright/registry.reg";
    paths.lock = paths.store + ".lock";
    paths.winePrefix = dir + "/wine";
    paths.autostartDir = dir + "/config/autostart";
    fs::create_directories(dir + "/config/flowbright");
    fs::create_directories(paths.winePrefix);
    const std::string store(parts[0]);
    if (!store.empty())
        WriteWhole(paths.store, store);
    WriteWhole(paths.winePrefix + "/user.reg", parts[1]);
    WriteWhole(paths.winePrefix + "/system.reg", parts[2]);

    FileRegistry registry(paths);
    CFindP2PDlg find(registry);
    for (const auto& client : CFindP2PDlg::Clients()) {
        const int found = (find.*client.probe)();
        const std::string& slot = find.*client.path;
        if (found != 0 && found != 1)
            return std::string(client.displayName) + ": probe result " + std::to_string(found);
        if (found == 0 && !slot.empty())
            return std::string(client.displayName) + ": not found, yet a path was left";
        if (slot.size() > CFindP2PDlg::kValueBufferSize - 1 + kLongestExecutable)
            return std::string(client.displayName) + ": path longer than a value can give";
        if (slot.find('\0') != std::string::npos)
            return std::string(client.displayName) + ": path holds a zero byte";
    }
    if (find.ReadAppName().size() >= CFindP2PDlg::kAppNameBufferSize)
        return "stored name longer than its buffer";
    if (find.ReadAppPath().size() >= CFindP2PDlg::kAppPathBufferSize)
        return "stored path longer than its buffer";

    // Reading never changes the Wine prefix, and never loses our store: a store that parses is
    // left byte for byte, one that does not is set aside whole.
    if (ReadWhole(paths.winePrefix + "/user.reg") != parts[1] ||
        ReadWhole(paths.winePrefix + "/system.reg") != parts[2])
        return "reading changed a hive of the Wine prefix";
    RegHive original;
    const bool storeParses =
        !store.empty() && !ParseRegistryText(store, original, RegParseMode::Strict);
    const auto aside = FilesStartingWith(dir + "/config/flowbright", "registry.reg.corrupt-");
    if (storeParses) {
        if (ReadWhole(paths.store) != store || !aside.empty())
            return "reading changed a sound store";
    } else if (!store.empty()) {
        if (fs::exists(paths.store) || aside.size() != 1 || ReadWhole(aside[0]) != store)
            return "a damaged store was not set aside whole";
    }

    // The choice is stored and read back, and every other value of a sound store survives.
    const std::string name = "Emule";
    const std::string path = "C:\\Program Files\\eMule\\eMule.exe";
    find.WriteChoice(name, path);
    if (find.ReadAppName() != name || find.ReadAppPath() != path)
        return "the stored choice does not read back";
    RegHive now;
    if (const auto error = ParseRegistryText(ReadWhole(paths.store), now, RegParseMode::Strict))
        return "the store written after the choice does not parse: " + error->message;
    if (storeParses) {
        for (const auto& [folded, key] : original.Keys()) {
            const auto* kept = now.FindKey(key.path);
            if (kept == nullptr)
                return "key [" + Printable(key.path) + "] lost by storing the choice";
            for (const auto& value : key.values) {
                if (IsChoiceValue(key.path, value.name))
                    continue;
                const auto* same = kept->Find(value.name);
                if (same == nullptr || !(*same == value))
                    return "value \"" + Printable(value.name) + "\" of [" + Printable(key.path) +
                           "] lost by storing the choice";
            }
        }
    }
    return {};
}

} // namespace fb::fuzz
