// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/WinePaths.h"

#include "platform/Text.h"

#include <QString>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace fb::linux_impl {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Names compare as Wine compares them: without regard to letter case, Unicode included.
bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (IsAscii(a) && IsAscii(b))
        return EqualsIgnoringAsciiCase(a, b);
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                        Qt::CaseInsensitive) == 0;
}

bool EntryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The name under which `directory` holds `name`: the exact name when it exists, else the
// byte-wise smallest entry whose name differs only in letter case.
std::optional<std::string> LookUp(const std::string& directory, const std::string& name) {
    if (EntryExists(directory + '/' + name))
        return name;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir)
        return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        if (SameNameIgnoringCase(candidate, name) && (!best || candidate < *best))
            best = candidate;
    }
    return best;
}

} // namespace

WinePaths::WinePaths(std::string prefix)
    : m_prefix(std::move(prefix)) {}

std::string WinePaths::DefaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr)
            home = found->pw_dir;
    }
    return home + "/.wine";
}

bool WinePaths::HasDriveLetter(const std::string& path) {
    return path.size() >= 2 &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':';
}

bool WinePaths::IsRootedWithoutDrive(const std::string& path) {
    return !path.empty() && path[0] == '\\';
}

std::optional<std::string> WinePaths::ToUnix(const std::string& windowsPath) const {
    if (!HasDriveLetter(windowsPath))
        return std::nullopt;
    if (windowsPath.size() > 2 && !IsSeparator(windowsPath[2]))
        return std::nullopt; // relative to a per-drive directory this process does not have
    const std::string rest = windowsPath.substr(2);
    if (rest.find_first_of(std::string("*?\"<>|:\0", 8)) != std::string::npos)
        return std::nullopt;

    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        const std::string component = rest.substr(start, end - start);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        start = end + 1;
    }

    const std::string devices = m_prefix + "/dosdevices";
    const std::string drive = std::string(1, FoldAscii(windowsPath[0])) + ':';
    const auto driveName = LookUp(devices, drive);
    if (!driveName)
        return std::nullopt;
    std::string current = devices + '/' + *driveName;
    if (!IsDirectory(current))
        return std::nullopt;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const auto name = LookUp(current, components[i]);
        if (!name)
            return std::nullopt;
        current += '/' + *name;
        if (i + 1 < components.size() && !IsDirectory(current))
            return std::nullopt;
    }
    return current;
}

} // namespace fb::linux_impl
