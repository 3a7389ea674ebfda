// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the tests and benchmarks: a temporary directory, an environment variable
// guard, whole-file reads and writes, running a program without a shell, and the Qt application
// object that event-driven and widget tests need. Header-only; the Qt parts are there only for
// targets that link Qt (QtCore for the event pump, QtWidgets and GoogleTest for the widget
// application).

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
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

// A fresh directory under the system's temporary directory, named fb-<name>-XXXXXX after the test
// that made it, removed with everything in it when the object goes. Throws when none can be made,
// so that no test ever works on a path that is not its own.
class TempDir {
public:
    explicit TempDir(std::string_view name) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("fb-" + std::string(name) + "-XXXXXX"))
                .string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // A test may have taken away the write permission to see a write fail.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The path of `relative` (which may have several components) inside the directory.
    std::string File(const std::string& relative) const { return (m_path / relative).string(); }
    // The names of the directory's entries, to catch leftover files.
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            names.insert(entry.path().filename().string());
        return names;
    }

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
