// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fb::linux_impl {

// A program to start: the file to execute, its whole argument vector (argv[0] first), the
// working directory (empty: ours) and environment variables to set or replace for it.
struct SpawnRequest {
    std::string program;
    std::vector<std::string> argv;
    std::string directory;
    std::vector<std::pair<std::string, std::string>> environment;

    bool operator==(const SpawnRequest&) const = default;
};

// Starts the program without a shell and without waiting for it: in a session of its own,
// with standard input from /dev/null, no descriptor of ours but 0 to 2, default signal
// handling, and reparented at once so that no zombie is left behind. Returns 0 once the
// program image is running, else the errno that stopped it (a missing working directory, a
// file that cannot be executed, no process to spare).
int SpawnDetached(const SpawnRequest& request);

// The first executable regular file called `name` in the directories of `searchPath` (a
// colon-separated list), or an empty string. Empty and relative entries are skipped: a
// program is never picked up from whatever the current directory happens to be. A name with
// a slash is never searched.
std::string FindInSearchPath(const std::string& name, const std::string& searchPath);

// FindInSearchPath over $PATH as it is now (the system's default list when it is unset).
std::string FindInPath(const std::string& name);

} // namespace fb::linux_impl
