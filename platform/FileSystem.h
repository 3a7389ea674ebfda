// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace fb {

// Questions about files named by paths the program stored or read from the registry.
class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // True when a file-system search for exactly this path finds an entry (FindFirstFileA).
    // Windows paths ("C:\...") are resolved as Wine resolves them; a path of more than 259
    // characters does not exist.
    virtual bool Exists(const std::string& path) = 0;
};

} // namespace fb
