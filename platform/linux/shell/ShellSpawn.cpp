// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/ShellSpawn.h"

#include "platform/linux/files/UniqueFd.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace fb::linux_impl {

namespace {

// Everything the child needs, built before fork: after it, only async-signal-safe calls.
struct ChildPlan {
    std::vector<std::string> argvStore;
    std::vector<char*> argv;
    std::vector<std::string> envStore;
    std::vector<char*> envp;
    int maxFd = 1024;
};

ChildPlan MakePlan(const SpawnRequest& request) {
    ChildPlan plan;
    plan.argvStore = request.argv;
    if (plan.argvStore.empty())
        plan.argvStore.push_back(request.program);
    for (auto& argument : plan.argvStore)
        plan.argv.push_back(argument.data());
    plan.argv.push_back(nullptr);

    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        const bool replaced =
            std::any_of(request.environment.begin(), request.environment.end(),
                        [&](const auto& setting) { return setting.first == name; });
        if (!replaced)
            plan.envStore.push_back(variable);
    }
    for (const auto& [name, value] : request.environment)
        plan.envStore.push_back(name + '=' + value);
    for (auto& variable : plan.envStore)
        plan.envp.push_back(variable.data());
    plan.envp.push_back(nullptr);

    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        plan.maxFd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    return plan;
}

[[noreturn]] void ChildFail(int reportFd, int error) {
    [[maybe_unused]] const auto written = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

// Runs in the grandchild: prepares the process and replaces it with the program.
[[noreturn]] void RunChild(const SpawnRequest& request, const ChildPlan& plan, int reportFd,
                           int nullFd) {
    ::setsid();
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &defaultAction, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (nullFd >= 0 && ::dup2(nullFd, STDIN_FILENO) < 0)
        ChildFail(reportFd, errno);
    if (!request.directory.empty() && ::chdir(request.directory.c_str()) != 0)
        ChildFail(reportFd, errno);
    // Nothing of ours beyond the standard streams reaches the program; the report pipe is
    // already close-on-exec, so it closes exactly when the program starts.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < plan.maxFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::execve(request.program.c_str(), plan.argv.data(), plan.envp.data());
    ChildFail(reportFd, errno);
}

} // namespace

int SpawnDetached(const SpawnRequest& request) {
    if (request.program.empty())
        return ENOENT;
    ChildPlan plan = MakePlan(request);

    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return errno;
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    UniqueFd nullFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));

    const pid_t middle = ::fork();
    if (middle < 0)
        return errno;
    if (middle == 0) {
        // The middle process only forks the program and leaves, so that the program is
        // reparented and reaped by the system, never by us.
        const pid_t program = ::fork();
        if (program < 0)
            ChildFail(writeEnd.Get(), errno);
        if (program > 0)
            ::_exit(0);
        RunChild(request, plan, writeEnd.Get(), nullFd.Get());
    }

    writeEnd.Reset();
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(readEnd.Get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error))
        return error != 0 ? error : EIO;
    return 0;
}

std::string FindInSearchPath(const std::string& name, const std::string& searchPath) {
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name == "." || name == "..")
        return {};
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        if (end == std::string::npos)
            end = searchPath.size();
        const std::string directory = searchPath.substr(start, end - start);
        start = end + 1;
        if (directory.empty() || directory[0] != '/')
            continue;
        std::string candidate = directory;
        if (candidate.back() != '/')
            candidate += '/';
        candidate += name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::string FindInPath(const std::string& name) {
    if (const char* path = std::getenv("PATH"); path != nullptr)
        return FindInSearchPath(name, path);
    const std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
    std::string fallback(size, '\0');
    if (size > 0)
        ::confstr(_CS_PATH, fallback.data(), size);
    return FindInSearchPath(name, fallback.c_str());
}

} // namespace fb::linux_impl
