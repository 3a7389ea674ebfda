// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/Shell.h"

#include "platform/Text.h"

#include "platform/linux/shell/ShellCommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace fb::linux_impl {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithExe(const std::string& file) {
    return file.size() >= 4 && StartsWithIgnoringCase(file.substr(file.size() - 4), ".exe");
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1U << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::intptr_t ResultOf(int error) {
    switch (error) {
    case 0:
        return Shell::kStarted;
    case ENOENT:
        return Shell::kFileNotFound;
    case ENOTDIR:
        return Shell::kPathNotFound;
    case EACCES:
    case EPERM:
        return Shell::kAccessDenied;
    case ENOMEM:
    case EAGAIN:
        return Shell::kOutOfMemory;
    case ENOEXEC:
        return Shell::kBadFormat;
    default:
        return Shell::kNoAssociation;
    }
}

} // namespace

Shell::Shell(WinePaths paths)
    : Shell(std::move(paths), &FindInPath, &SpawnDetached) {}

Shell::Shell(WinePaths paths, FindProgram findProgram, Spawn spawn)
    : m_paths(std::move(paths))
    , m_findProgram(std::move(findProgram))
    , m_spawn(std::move(spawn)) {}

bool Shell::IsUrl(const std::string& file) {
    for (const char* scheme : {"http:", "https:", "mailto:", "file:"}) {
        if (StartsWithIgnoringCase(file, scheme))
            return true;
    }
    return false;
}

std::intptr_t Shell::Start(SpawnRequest request) {
    return ResultOf(m_spawn(request));
}

std::intptr_t Shell::OpenWithDesktop(const std::string& target, const std::string& directory) {
    const std::string opener = m_findProgram("xdg-open");
    if (opener.empty())
        return kNoAssociation;
    return Start({opener, {"xdg-open", target}, directory, {}});
}

std::intptr_t Shell::StartWithWine(const std::string& target, const std::vector<std::string>& args,
                                   const std::string& directory) {
    const std::string wine = m_findProgram("wine");
    if (wine.empty())
        return kNoAssociation;
    SpawnRequest request{wine, {"wine", target}, directory, {{"WINEPREFIX", m_paths.Prefix()}}};
    request.argv.insert(request.argv.end(), args.begin(), args.end());
    return Start(std::move(request));
}

std::intptr_t Shell::Execute(const std::string& verb, const std::string& file,
                             const std::string& parameters, const std::string& directory,
                             int /*show: windows of started programs are the desktop's matter*/) {
    if (!verb.empty() && !(verb.size() == 4 && StartsWithIgnoringCase(verb, "open")))
        return kNoAssociation;
    // Texts the C library would cut short at a zero byte are refused, not truncated.
    for (const std::string* text : {&file, &parameters, &directory}) {
        if (text->find('\0') != std::string::npos)
            return kFileNotFound;
    }
    if (file.empty())
        return kFileNotFound;

    std::string workingDirectory = directory;
    if (!directory.empty()) {
        if (WinePaths::HasDriveLetter(directory)) {
            const auto mapped = m_paths.ToUnix(directory);
            if (!mapped)
                return kPathNotFound;
            workingDirectory = *mapped;
        }
        struct stat info {};
        if (::stat(workingDirectory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return kPathNotFound;
    }

    if (IsUrl(file))
        return OpenWithDesktop(file, workingDirectory);

    const std::vector<std::string> args = SplitWindowsCommandLine(parameters);

    if (WinePaths::HasDriveLetter(file)) {
        if (!m_paths.ToUnix(file))
            return kFileNotFound;
        return StartWithWine(file, args, workingDirectory);
    }
    if (WinePaths::IsRootedWithoutDrive(file))
        return kFileNotFound; // UNC paths and paths on no particular drive

    if (file.find('/') == std::string::npos && file.find('\\') == std::string::npos) {
        const std::string program = m_findProgram(file);
        if (program.empty())
            return kFileNotFound;
        SpawnRequest request{program, {file}, workingDirectory, {}};
        request.argv.insert(request.argv.end(), args.begin(), args.end());
        return Start(std::move(request));
    }

    // A Unix path, made absolute so that it can neither be read as an option nor depend on
    // the child's working directory.
    std::string path = file;
    if (path[0] != '/') {
        const std::string here = CurrentDirectory();
        if (here.empty())
            return kPathNotFound;
        path = here + (here.back() == '/' ? "" : "/") + path;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return ResultOf(errno);
    if (EndsWithExe(path) && S_ISREG(info.st_mode))
        return StartWithWine(path, args, workingDirectory);
    if (S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0) {
        SpawnRequest request{path, {path}, workingDirectory, {}};
        request.argv.insert(request.argv.end(), args.begin(), args.end());
        return Start(std::move(request));
    }
    if (S_ISDIR(info.st_mode) || S_ISREG(info.st_mode))
        return OpenWithDesktop(path, workingDirectory);
    return kAccessDenied;
}

} // namespace fb::linux_impl
