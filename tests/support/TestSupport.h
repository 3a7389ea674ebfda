// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the tests and benchmarks: a temporary directory, an environment variable
// guard, whole-file reads and writes, running a program without a shell, running a piece of a
// test in a forked child (to install a syscall filter or enter a mount namespace of its own),
// syscall filters that make one kind of call fail, and the Qt application object that
// event-driven and widget tests need. Header-only; the Qt parts are there only for targets that
// link Qt (QtCore for the event pump, QtWidgets and GoogleTest for the widget application).

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <optional>
#include <set>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#if __has_include(<QCoreApplication>)
#include <QCoreApplication>
#include <QElapsedTimer>
#endif
#if __has_include(<QApplication>) && __has_include(<gtest/gtest.h>)
#include <QApplication>
#include <gtest/gtest.h>
#include <memory>
#endif

extern char** environ;

namespace fb::testing_support {

// The names of a directory's entries, to catch leftover files; empty when it cannot be read.
inline std::set<std::string> Entries(const std::filesystem::path& dir) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        names.insert(entry.path().filename().string());
    return names;
}

// A fresh directory under the system's temporary directory, named fb-<name>-XXXXXX after the test
// that made it, removed with everything in it when the object goes. Throws when none can be made,
// so that no test ever works on a path that is not its own.
class TempDir {
public:
    explicit TempDir(std::string_view name = "test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("fb-" + std::string(name) + "-XXXXXX"))
                .string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
        m_path = pattern;
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        // A test may have taken away the write permission of any folder to see a write fail.
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(m_path, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The path of `relative` (which may have several components) inside the directory.
    std::string File(const std::string& relative) const { return (m_path / relative).string(); }
    // The names of the directory's entries, to catch leftover files.
    std::set<std::string> Entries() const { return testing_support::Entries(m_path); }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable, or unsets it (a null pointer or std::nullopt), for the guard's
// life; the variable's old state comes back when the guard goes, also when the test fails.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value)
        : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    EnvGuard(const char* name, const std::string& value)
        : EnvGuard(name, value.c_str()) {}
    EnvGuard(const char* name, const std::optional<std::string>& value)
        : EnvGuard(name, value ? value->c_str() : nullptr) {}
    ~EnvGuard() {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces a file's content with `text`, byte for byte, making the folders above it first. With
// `mode`, the file gets exactly those permissions afterwards.
inline void WriteFile(const std::filesystem::path& path, std::string_view text,
                      std::optional<std::filesystem::perms> mode = std::nullopt) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    if (mode)
        std::filesystem::permissions(path, *mode);
}

// The fields of a file written as NUL-terminated strings (as `printf '%s\0' "$@"` writes a
// program's arguments).
inline std::vector<std::string> ReadNulSeparated(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> fields;
    std::string field;
    while (std::getline(in, field, '\0'))
        fields.push_back(field);
    return fields;
}

// A file of the source tree (relative to its root), found through FB_SOURCE_DIR, which CTest sets;
// relative to the working directory without it.
inline std::string SourcePath(const std::string& relative) {
    const char* source = std::getenv("FB_SOURCE_DIR");
    return std::string(source != nullptr ? source : ".") + "/" + relative;
}

enum class ProgramOutput {
    kDiscard, // standard output and error go to /dev/null
    kInherit, // both go where the test's own go
};

// Runs a program (searched in PATH unless the name has a slash) with an argument vector, never
// through a shell, and waits for it. Returns its exit status, or -1 when it could not be started
// or did not exit normally.
inline int RunProgram(const std::vector<std::string>& arguments,
                      ProgramOutput output = ProgramOutput::kDiscard) {
    if (arguments.empty())
        return -1;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == ProgramOutput::kDiscard) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a piece of a test run in a child process found: nothing when all went well.
class Findings {
public:
    void Check(bool ok, const std::string& what) {
        if (!ok)
            m_text += what + "\n";
    }
    template <typename A, typename B>
    void Equal(const A& actual, const B& expected, const std::string& what) {
        if (!(actual == expected)) {
            std::ostringstream out;
            out << what << ": got \"" << actual << "\", expected \"" << expected << "\"";
            m_text += out.str() + "\n";
        }
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
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

#if __has_include(<QCoreApplication>)
// The event loop's application object of a non-widget test program, made on first use and kept
// until the program ends. It is named after the program.
inline QCoreApplication& CoreApp() {
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds or `ms` milliseconds pass; returns `done()`.
template <typename F> bool PumpUntil(F done, int ms = 5000) {
    CoreApp();
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
#endif

#if __has_include(<QApplication>) && __has_include(<gtest/gtest.h>)
// The QApplication of a widget test program, named after the program: made before the first test
// and destroyed after the last, with the environment variables given here set for its whole life.
// Register it once per program:
//   const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApp);
class QtApp : public ::testing::Environment {
public:
    using Variables = std::vector<std::pair<std::string, std::string>>;

    explicit QtApp(Variables environment = {})
        : m_environment(std::move(environment)) {}

    void SetUp() override {
        for (const auto& [name, value] : m_environment)
            m_guards.push_back(std::make_unique<EnvGuard>(name.c_str(), value));
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override {
        m_app.reset();
        while (!m_guards.empty())
            m_guards.pop_back(); // the last one set is the first one restored
    }

private:
    Variables m_environment;
    std::vector<std::unique_ptr<EnvGuard>> m_guards;
    int m_argc = 1;
    char* m_argv[2] = {program_invocation_short_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};
#endif

} // namespace fb::testing_support
