// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"

#include "platform/linux/shell/WineFileSystem.h"
#include "platform/linux/shell/WinePaths.h"

#include <sys/stat.h>

#include <filesystem>

namespace fb::fuzz {

namespace {

namespace fs = std::filesystem;

// A small prefix with the cases that matter: drives as links, names in odd letter cases,
// blanks and shell characters in names, non-ASCII names, a link loop and dangling links.
struct Prefix {
    ScratchDir scratch;
    std::string root;
    std::string canonical;

    Prefix() {
        root = scratch.Path() + "/prefix";
        const fs::path p(root);
        fs::create_directories(p / "dosdevices");
        fs::create_directories(p / "drive_c" / "Program Files" / "eMule");
        fs::create_directories(p / "drive_c" / "Program Files (x86)" / "Ares");
        fs::create_directories(p / "drive_c" / "windows" / "system32");
        fs::create_directories(p / "drive_c" / "a b;c$(id)`x`");
        fs::create_directories(p / "drive_c" /
                               "\xc3\x9c"
                               "ber" /
                               "\xc3\xa9t\xc3\xa9");
        fs::create_directories(p / "drive_d" / "Games");
        for (const char* file :
             {"drive_c/Program Files/eMule/eMule.exe", "drive_c/Program Files (x86)/Ares/Ares.exe",
              "drive_c/windows/system32/KERNEL32.DLL", "drive_c/a b;c$(id)`x`/-rf.exe",
              "drive_c/\xc3\x9c"
              "ber/\xc3\xa9t\xc3\xa9/\xc3\xbc.exe",
              "drive_c/MiXeD.TxT", "drive_c/mixed.txt", "drive_d/Games/game.exe"})
            WriteWhole((p / file).string(), "MZ");
        fs::create_directory_symlink("../drive_c", p / "dosdevices" / "c:");
        fs::create_directory_symlink("../drive_d", p / "dosdevices" / "D:");
        fs::create_symlink("../nowhere", p / "dosdevices" / "e:");
        fs::create_symlink("loop", p / "drive_c" / "loop");
        fs::create_symlink("missing", p / "drive_c" / "dangling");
        canonical = fs::canonical(p).string();
    }
};

bool Inside(const std::string& path, const std::string& dir) {
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

} // namespace

std::string CheckWinePaths(std::string_view data) {
    static Prefix prefix;
    const std::string path(data);
    const linux_impl::WinePaths paths(prefix.root);
    const auto unix = paths.ToUnix(path);

    const bool drive = linux_impl::WinePaths::HasDriveLetter(path);
    const bool wildcard =
        path.size() > 2 && path.find_first_of(std::string("*?\"<>|:\0", 8), 2) != std::string::npos;
    if (unix && (!drive || wildcard))
        return "\"" + Printable(path) + "\" maps to a file although it cannot name one";
    if (unix) {
        if (!Inside(*unix, prefix.root + "/dosdevices"))
            return "\"" + Printable(path) + "\" maps outside the drives: " + Printable(*unix);
        struct stat info {};
        if (::lstat(unix->c_str(), &info) != 0)
            return "\"" + Printable(path) + "\" maps to something missing: " + Printable(*unix);
        for (const char* step : {"/../", "/./", "//"}) {
            if (unix->find(step) != std::string::npos)
                return "\"" + Printable(path) +
                       "\" maps to an unresolved path: " + Printable(*unix);
        }
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(*unix, error);
        if (!error && !Inside(resolved.string(), prefix.canonical))
            return "\"" + Printable(path) +
                   "\" leads out of the prefix: " + Printable(resolved.string());
    }

    linux_impl::FileSystem files(paths);
    const bool exists = files.Exists(path);
    if (drive && path.find('\0') == std::string::npos &&
        linux_impl::FileSystem::Utf16Length(path) <= linux_impl::FileSystem::kMaxPathChars &&
        exists != unix.has_value())
        return "the existence check and the mapping disagree on \"" + Printable(path) + "\"";
    if (exists && linux_impl::FileSystem::Utf16Length(path) > linux_impl::FileSystem::kMaxPathChars)
        return "a path longer than any Windows path exists";
    return {};
}

} // namespace fb::fuzz
