// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers of the hardening tests: throwaway directories, environment guards, whole-file reads,
// running a piece of a test in a child process (to install a syscall filter or to enter a
// mount namespace of its own), and syscall filters that make one kind of system call fail or
// kill the process at that call.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fb::hardening {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "fb-hardening-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // A test may have left a directory without write permission.
        for (auto it = fs::recursive_directory_iterator(path_, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Sets an environment variable (or unsets it for a null value) and restores it when it goes.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value)
        : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvGuard() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What a piece of a test run in a child process found: nothing when all went well.
class Findings {
public:
    void Check(bool ok, const std::string& what) {
        if (!ok)
            text_ += what + "\n";
    }
    template <typename A, typename B>
    void Equal(const A& actual, const B& expected, const std::string& what) {
        if (!(actual == expected)) {
            std::ostringstream out;
            out << what << ": got \"" << actual << "\", expected \"" << expected << "\"";
            text_ += out.str() + "\n";
        }
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

struct ChildResult {
    std::string findings; // what the child reported
    bool exited = false;  // ended by _exit
    int exitCode = -1;    // when exited
    int signal = 0;       // when killed
};

// The exit code of a child that could not set up what the test needs (and so skips).
inline constexpr int kChildSkipped = 77;

// A child started by StartChild, to be collected by FinishChild.
struct RunningChild {
    pid_t pid = -1;
    int reportFd = -1; // read end of the findings pipe
    std::string error; // set when the child could not be started
};

// Starts `body` in a forked child. `body` runs with `reportFd` open (the write end of the pipe
// that carries its findings back) and returns the child's exit code (kChildSkipped when it
// cannot set up what the test needs).
inline RunningChild StartChild(const std::function<int(Findings&, int reportFd)>& body) {
    RunningChild running;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        running.error = "pipe failed";
        return running;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        running.error = "fork failed";
        return running;
    }
    if (child == 0) {
        ::close(fds[0]);
        Findings findings;
        int code = 0;
        try {
            code = body(findings, fds[1]);
        } catch (const std::exception& error) {
            findings.Check(false, std::string("exception: ") + error.what());
        }
        const std::string& text = findings.Text();
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t wrote = ::write(fds[1], text.data() + done, text.size() - done);
            if (wrote <= 0)
                break;
            done += static_cast<std::size_t>(wrote);
        }
        ::_exit(code);
    }
    ::close(fds[1]);
    running.pid = child;
    running.reportFd = fds[0];
    return running;
}

// Reads the child's findings and waits for it to end.
inline ChildResult FinishChild(RunningChild& running) {
    ChildResult result;
    if (running.pid < 0) {
        result.findings = running.error;
        return result;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(running.reportFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        result.findings.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(running.reportFd);
    int status = 0;
    while (::waitpid(running.pid, &status, 0) < 0 && errno == EINTR) {
    }
    running.pid = -1;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

// Runs `body` in a forked child (see StartChild) and reports what it found.
inline ChildResult RunInChild(const std::function<int(Findings&, int reportFd)>& body) {
    RunningChild running = StartChild(body);
    return FinishChild(running);
}

// ---- Syscall filters --------------------------------------------------------------------------

#if defined(__x86_64__)
inline constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
inline constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
inline constexpr std::uint32_t kAuditArch = 0;
#endif

// True where FilterSyscalls can work.
inline bool SyscallFiltersAvailable() {
    return kAuditArch != 0;
}

// What a filtered system call does.
struct SyscallFault {
    std::vector<long> calls;      // syscall numbers
    int error = 0;                // fail with this errno; 0: kill the process at the call
    int sparedFd = -1;            // calls on this descriptor (first argument) pass: the report pipe
    bool onlyFilesAbove2 = false; // calls on descriptors 0 to 2 pass (writes to stderr)
};

// Installs the filter in this process for the rest of its life (children only).
inline bool FilterSyscalls(const SyscallFault& fault) {
    if (kAuditArch == 0)
        return false;
    const std::uint32_t action =
        fault.error == 0
            ? SECCOMP_RET_KILL_PROCESS
            : SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(fault.error) & SECCOMP_RET_DATA);
    std::vector<sock_filter> program;
    const auto add = [&](std::uint16_t code, std::uint32_t k, std::uint8_t jt, std::uint8_t jf) {
        program.push_back(sock_filter{code, jt, jf, k});
    };
    const auto load = [&](std::size_t offset) {
        add(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offset), 0, 0);
    };
    const std::uint32_t allow = SECCOMP_RET_ALLOW;
    load(offsetof(seccomp_data, arch));
    add(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    add(BPF_RET | BPF_K, allow, 0, 0);
    load(offsetof(seccomp_data, nr));
    // One comparison per call: a match jumps to the argument checks, the end allows.
    const std::size_t count = fault.calls.size();
    for (std::size_t i = 0; i < count; ++i)
        add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fault.calls[i]),
            static_cast<std::uint8_t>(count - i), 0);
    add(BPF_RET | BPF_K, allow, 0, 0);
    load(offsetof(seccomp_data, args)); // low half of the first argument
    if (fault.sparedFd >= 0) {
        add(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fault.sparedFd), 0, 1);
        add(BPF_RET | BPF_K, allow, 0, 0);
    }
    if (fault.onlyFilesAbove2) {
        add(BPF_JMP | BPF_JGE | BPF_K, 3, 1, 0);
        add(BPF_RET | BPF_K, allow, 0, 0);
    }
    add(BPF_RET | BPF_K, action, 0, 0);
    sock_fprog prog{static_cast<unsigned short>(program.size()), program.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog) == 0;
}

inline std::vector<long> RenameCalls() {
    return {
#ifdef SYS_rename
        SYS_rename,
#endif
        SYS_renameat, SYS_renameat2};
}

inline std::vector<long> WriteCalls() {
    return {SYS_write, SYS_pwrite64, SYS_writev, SYS_pwritev, SYS_pwritev2};
}

inline std::vector<long> SyncCalls() {
    return {SYS_fsync, SYS_fdatasync, SYS_syncfs};
}

} // namespace fb::hardening
