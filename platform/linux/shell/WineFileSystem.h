// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"
#include "platform/linux/shell/WinePaths.h"

#include <cstddef>
#include <string>

namespace fb::linux_impl {

// Existence checks as FindFirstFileA answers them, for Windows paths inside a Wine prefix and
// for Unix paths.
class FileSystem : public IFileSystem {
public:
    // The longest path that can exist, in UTF-16 code units as Windows counts them.
    static constexpr std::size_t kMaxPathChars = 259;

    explicit FileSystem(WinePaths paths);

    // A Windows path is resolved through the prefix (see WinePaths::ToUnix); a bare name (no
    // slash, no backslash) is searched in PATH, as the launcher searches it; any other path is
    // looked up as it is, finding files, directories and dangling symbolic links alike. Wildcards
    // are never expanded. Longer than kMaxPathChars, empty, or holding a zero byte: not found.
    bool Exists(const std::string& path) override;

    // The number of UTF-16 code units of a UTF-8 text (each byte of a malformed sequence is one).
    static std::size_t Utf16Length(const std::string& text);

private:
    WinePaths m_paths;
};

} // namespace fb::linux_impl
