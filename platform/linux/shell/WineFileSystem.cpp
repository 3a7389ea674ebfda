// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/WineFileSystem.h"

#include "platform/linux/shell/ShellSpawn.h"

#include <sys/stat.h>

namespace fb::linux_impl {

FileSystem::FileSystem(WinePaths paths)
    : m_paths(std::move(paths)) {}

std::size_t FileSystem::Utf16Length(const std::string& text) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::size_t seen = 1;
        while (seen < length && i + seen < text.size() &&
               (static_cast<unsigned char>(text[i + seen]) & 0xC0) == 0x80)
            ++seen;
        if (seen != length)
            length = 1; // malformed: this byte alone
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

bool FileSystem::Exists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos || Utf16Length(path) > kMaxPathChars)
        return false;
    if (WinePaths::HasDriveLetter(path))
        return m_paths.ToUnix(path).has_value();
    if (WinePaths::IsRootedWithoutDrive(path))
        return false;
    // A bare name is started from PATH, never from the current directory: the file it names
    // is the one found there, so that the file checked is the file that would run.
    if (path.find_first_of("/\\") == std::string::npos)
        return !FindInPath(path).empty();
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace fb::linux_impl
