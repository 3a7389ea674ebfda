// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace fb {

// Show commands that callers pass along, with their Windows numbers.
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShow = 5;

// Starting documents, pages and programs (ShellExecuteA).
class IShell {
public:
    virtual ~IShell() = default;

    // Starts `file` with the verb ("open", or empty for the default action), a Windows-style
    // parameter string, a working directory (empty for none) and a show command. The result is
    // greater than 32 on success and 32 or less on failure, as Windows reports it. Never waits
    // for the started program and never runs anything through a command shell.
    virtual std::intptr_t Execute(const std::string& verb, const std::string& file,
                                  const std::string& parameters, const std::string& directory,
                                  int show) = 0;
};

} // namespace fb
