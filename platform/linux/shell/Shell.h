// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Shell.h"
#include "platform/linux/shell/ShellSpawn.h"
#include "platform/linux/shell/WinePaths.h"

#include <cstdint>
#include <functional>
#include <string>

namespace fb::linux_impl {

// Starts pages, documents and programs the way the desktop expects, never through a command
// shell:
// - a URL ("http:", "https:", "mailto:", "file:") goes to `xdg-open <url>`;
// - a Windows path (with a drive letter) that exists in the Wine prefix, and any other path
//   ending in ".exe", is started as `wine <path> <arguments...>`;
// - a bare program name (no slash, no backslash) is searched in PATH and started from there,
//   or not at all;
// - any other path is started directly when it is an executable file, and handed to
//   `xdg-open` when it is a document or a folder.
// The parameter string is split into arguments by Windows' rules (SplitWindowsCommandLine).
class Shell : public IShell {
public:
    // Result codes, with the numbers Windows uses for them.
    static constexpr std::intptr_t kStarted = 42;
    static constexpr std::intptr_t kFileNotFound = 2;
    static constexpr std::intptr_t kPathNotFound = 3;
    static constexpr std::intptr_t kAccessDenied = 5;
    static constexpr std::intptr_t kOutOfMemory = 8;
    static constexpr std::intptr_t kBadFormat = 11;
    static constexpr std::intptr_t kNoAssociation = 31;

    // Looks a bare program name up; the full path, or empty when there is none.
    using FindProgram = std::function<std::string(const std::string& name)>;
    // Starts a program detached; 0 once it runs, else an errno.
    using Spawn = std::function<int(const SpawnRequest& request)>;

    // The real thing: PATH as it is at each call, and SpawnDetached.
    explicit Shell(WinePaths paths);
    Shell(WinePaths paths, FindProgram findProgram, Spawn spawn);

    std::intptr_t Execute(const std::string& verb, const std::string& file,
                          const std::string& parameters, const std::string& directory,
                          int show) override;

    // True for the URL schemes handed to xdg-open (letter case ignored).
    static bool IsUrl(const std::string& file);

private:
    std::intptr_t Start(SpawnRequest request);
    std::intptr_t OpenWithDesktop(const std::string& target, const std::string& directory);
    std::intptr_t StartWithWine(const std::string& target, const std::vector<std::string>& args,
                                const std::string& directory);

    WinePaths m_paths;
    FindProgram m_findProgram;
    Spawn m_spawn;
};

} // namespace fb::linux_impl
