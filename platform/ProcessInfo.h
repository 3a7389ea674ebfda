// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace fb {

// Facts about the running process.
class IProcessInfo {
public:
    virtual ~IProcessInfo() = default;

    // Full path of the program's own executable file (GetModuleFileNameA).
    virtual std::string ModuleFileName() = 0;

    // The process's current directory (GetCurrentDirectoryA), without a trailing separator.
    virtual std::string CurrentDirectory() = 0;

    // The separator of the platform's own paths: '/' on Linux.
    virtual char PathSeparator() const { return '/'; }
};

} // namespace fb
