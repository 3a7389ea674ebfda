// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The registry on Linux: the current user's keys in a file of our own, with the Wine prefix's
// hives read beneath it, and the start-up entry kept as an XDG autostart entry.

#include "platform/Registry.h"
#include "platform/linux/registry/RegistryFiles.h"

#include <memory>
#include <string>

namespace fb::linux_impl {

class FileRegistry : public IRegistry {
public:
    struct Paths {
        std::string store;        // HKCU, e.g. ~/.config/flowbright/registry.reg
        std::string lock;         // flock'ed around every write, e.g. registry.reg.lock
        std::string winePrefix;   // read only: user.reg (HKCU) and system.reg (HKLM)
        std::string autostartDir; // holds Flowbright.desktop, e.g. ~/.config/autostart
    };

    // `ops` carries out the steps of a write; null means the system's calls.
    explicit FileRegistry(Paths paths, std::shared_ptr<FileOps> ops = nullptr);
    ~FileRegistry() override;
    FileRegistry(const FileRegistry&) = delete;
    FileRegistry& operator=(const FileRegistry&) = delete;

    // The paths of the current user, from XDG_CONFIG_HOME (default $HOME/.config) and
    // WINEPREFIX (default $HOME/.wine).
    static Paths DefaultPaths();

    std::unique_ptr<IRegKey> OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                     long* error = nullptr) override;
    std::unique_ptr<IRegKey> CreateKey(RegRoot root, const std::string& path,
                                       long* error = nullptr) override;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace fb::linux_impl
