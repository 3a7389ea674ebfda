// SPDX-License-Identifier: GPL-3.0-or-later
// Launching from hostile stored text, end to end and for real: a stored client path read back
// from the file-backed registry and started as the Run button starts it, a parameter string
// handed to a program found on PATH, and the start-up entry run the way a desktop runs it.
// Each time a recording script is what runs, and it shows that exactly the intended program got
// exactly the intended arguments, and that nothing else ran (no shell ever saw the text).

#include "support/RegistryPaths.h"
#include "support/TestSupport.h"

#include "fuzz/FuzzSupport.h"

#include "app/Options.h"
#include "p2p/FindP2PDlg.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/shell/Shell.h"
#include "platform/linux/shell/ShellSpawn.h"
#include "platform/linux/shell/WinePaths.h"

#include "fakes/FakeProcessInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace fb;
using namespace fb::testing_support;
namespace fs = std::filesystem;
using fb::fuzz::Printable;
using fb::linux_impl::FileRegistry;
using ::testing::ElementsAreArray;

namespace {

// Records "$0" and its arguments, NUL-separated, into "$FB_RECORD.args", then renames a marker
// into place. Quoted throughout, so that whatever it is handed stays data.
const char* const kRecorder =
    "#!/bin/sh\n"
    "printf '%s\\0' \"$0\" \"$@\" > \"$FB_RECORD.args\"\n"
    "printf '%s' \"${WINEPREFIX-unset}\" > \"$FB_RECORD.env\"\n"
    ": > \"$FB_RECORD.tmp\" && mv \"$FB_RECORD.tmp\" \"$FB_RECORD.done\"\n";

void InstallRecorder(const std::string& path) {
    WriteFile(path, kRecorder);
    fs::permissions(path, fs::perms::owner_all);
}

std::vector<std::string> ReadArgs(const std::string& file) {
    const std::string text = ReadFile(file);
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

class Launch : public ::testing::Test {
protected:
    Launch()
        : m_record(m_dir.File("record/out"))
        , m_recordEnv("FB_RECORD", m_record.c_str())
        , m_bin(m_dir.File("bin"))
        , m_path("PATH", (m_bin + ":/usr/bin:/bin").c_str()) {
        fs::create_directories(m_dir.File("record"));
        fs::create_directories(m_dir.File("prefix/dosdevices"));
        fs::create_directory_symlink("../drive_c", m_dir.File("prefix/dosdevices/c:"));
        fs::create_directories(m_dir.File("prefix/drive_c"));
        InstallRecorder(m_bin + "/wine");
        InstallRecorder(m_bin + "/xdg-open");
        m_paths = RegistryPathsBelow(m_dir.Path());
        m_paths.winePrefix = Prefix();
    }

    std::string Prefix() const { return m_dir.File("prefix"); }

    // Waits (bounded) for the started program to finish recording, and returns what it got
    // ($0 first); empty when nothing ran.
    std::vector<std::string> Recorded() {
        const std::string done = m_record + ".done";
        for (int i = 0; i < 500 && !fs::exists(done); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fs::exists(done))
            return {};
        auto args = ReadArgs(m_record + ".args");
        for (const char* suffix : {".done", ".args"})
            fs::remove(m_record + suffix);
        return args;
    }

    // Stores the path as the client choice, then does what the Run button does: reads the
    // stored path back and starts it.
    void StoreAndRun(const std::string& path) {
        FileRegistry registry(m_paths);
        CFindP2PDlg(registry).WriteChoice("Emule", path);
        linux_impl::Shell shell{linux_impl::WinePaths(Prefix())};
        const std::string stored = CFindP2PDlg(registry).ReadAppPath();
        if (!stored.empty())
            shell.Execute("", stored, "", "", kSwShow);
    }

    TempDir m_dir;
    std::string m_record;
    EnvGuard m_recordEnv;
    std::string m_bin;
    EnvGuard m_path;
    FileRegistry::Paths m_paths;
};

// Directory names that a shell would take apart.
const std::vector<std::string> kHostileNames = {
    "with blanks  and\ttab",
    "quote\"d and 'single'",
    "semi;colon && x || y",
    "$(touch pwned)",
    "`touch pwned`",
    "new\nline",
    "-rf",
    "--help",
    "star * and ? and [a]",
    "%f %u %% field codes",
    "back\\slash",
    "\xc3\xa9t\xc3\xa9 \xe2\x82\xac",
};

TEST_F(Launch, StoredUnixPathsStartExactlyThatProgramWithNoArguments) {
    for (const auto& name : kHostileNames) {
        SCOPED_TRACE(Printable(name));
        const std::string program = m_dir.Path().string() + "/clients/" + name + "/" + name;
        InstallRecorder(program);
        StoreAndRun(program);
        EXPECT_THAT(Recorded(), ElementsAreArray({program}));
    }
    EXPECT_FALSE(fs::exists(m_dir.File("pwned")));
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
}

TEST_F(Launch, StoredWindowsPathsStartWineWithThatPathAsOneArgument) {
    for (const auto& name : kHostileNames) {
        if (name.find_first_of("\"*?<>|") != std::string::npos)
            continue; // no Windows file name holds these
        SCOPED_TRACE(Printable(name));
        std::string unixDir = Prefix() + "/drive_c/" + name;
        std::string windows = "C:\\" + name + "\\client.exe";
        if (name.find('\\') != std::string::npos) {
            // A backslash separates Windows names: the path has two levels.
            fs::create_directories(Prefix() + "/drive_c/back/slash");
            unixDir = Prefix() + "/drive_c/back/slash";
        }
        WriteFile(unixDir + "/client.exe", "MZ");
        StoreAndRun(windows);
        EXPECT_THAT(Recorded(), ElementsAreArray({m_bin + "/wine", windows}));
        EXPECT_EQ(ReadFile(m_record + ".env"), Prefix());
    }
}

TEST_F(Launch, LongestStoredPathStartsAndOneLongerIsNeverRead) {
    // 999 characters: the most the stored choice holds.
    std::string program = m_dir.File("long");
    while (program.size() + 201 < 999)
        program += "/" + std::string(200, 'd');
    program += "/" + std::string(999 - program.size() - 1, 'p');
    ASSERT_EQ(program.size(), 999U);
    InstallRecorder(program);
    StoreAndRun(program);
    EXPECT_THAT(Recorded(), ElementsAreArray({program}));

    // 1000 characters read as no choice at all: nothing starts, not even a shortened path.
    const std::string longer = program + "x";
    InstallRecorder(longer);
    StoreAndRun(longer);
    EXPECT_THAT(Recorded(), ::testing::IsEmpty());
}

struct ParameterCase {
    const char* name;
    std::string parameters;
    std::vector<std::string> expected;
};

class LaunchParameters : public Launch, public ::testing::WithParamInterface<ParameterCase> {};

// A program found on PATH by its bare name gets the parameter string split by Windows' rules
// and nothing else: the shell characters stay text.
TEST_P(LaunchParameters, ProgramOnPathGetsExactlyTheseArguments) {
    InstallRecorder(m_bin + "/UpdateApp.exe");
    linux_impl::Shell shell{linux_impl::WinePaths(Prefix())};
    EXPECT_GT(shell.Execute("open", "UpdateApp.exe", GetParam().parameters, "", kSwShowNormal), 32);
    std::vector<std::string> expected{m_bin + "/UpdateApp.exe"};
    expected.insert(expected.end(), GetParam().expected.begin(), GetParam().expected.end());
    EXPECT_THAT(Recorded(), ElementsAreArray(expected));
    EXPECT_FALSE(fs::exists(m_dir.File("pwned")));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LaunchParameters,
    ::testing::Values(
        ParameterCase{"Updater",
                      "\"Flowbright\" \"6\" \"4.3.0\" \"flowbright.example\" \"false\" ",
                      {"Flowbright", "6", "4.3.0", "flowbright.example", "false"}},
        ParameterCase{"Semicolons", "a; touch pwned ;", {"a;", "touch", "pwned", ";"}},
        ParameterCase{"CommandSubstitution",
                      "$(touch pwned) \"$(touch pwned)\"",
                      {"$(touch", "pwned)", "$(touch pwned)"}},
        ParameterCase{"Backticks", "`touch pwned`", {"`touch", "pwned`"}},
        ParameterCase{"Newlines", "a\ntouch pwned", {"a\ntouch", "pwned"}},
        ParameterCase{"LeadingDashes", "-rf --version -", {"-rf", "--version", "-"}},
        ParameterCase{"Redirections", ">pwned <x 2>&1 |cat", {">pwned", "<x", "2>&1", "|cat"}},
        ParameterCase{"QuotesAndBackslashes",
                      "\"a \\\"b\\\" c\" d\\\\\"e f\" \"\"",
                      {"a \"b\" c", "d\\e f", ""}},
        ParameterCase{"Globs", "* ?? [a-z]* ~", {"*", "??", "[a-z]*", "~"}},
        ParameterCase{
            "VeryLong", std::string(100000, 'x') + " y", {std::string(100000, 'x'), "y"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The start-up entry, run as a desktop runs it -------------------------------------------

// Key-file string unescaping and Exec splitting as the Desktop Entry rules have them, written
// here from those rules so that the entry is checked against them and not against our own
// reader. Nothing when the line breaks the rules.
std::optional<std::vector<std::string>> DesktopExec(const std::string& value) {
    std::string exec;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            exec += value[i];
            continue;
        }
        const char next = value[++i];
        const std::string known = "sntr\\";
        if (known.find(next) == std::string::npos)
            return std::nullopt;
        exec += next == 's'   ? ' '
                : next == 'n' ? '\n'
                : next == 't' ? '\t'
                : next == 'r' ? '\r'
                              : '\\';
    }
    const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::vector<std::string> args;
    std::size_t pos = 0;
    while (pos < exec.size()) {
        if (exec[pos] == ' ') {
            ++pos;
            continue;
        }
        std::string arg;
        if (exec[pos] == '"') {
            ++pos;
            for (;;) {
                if (pos >= exec.size())
                    return std::nullopt;
                const char c = exec[pos++];
                if (c == '"')
                    break;
                if (c == '\\') {
                    if (pos >= exec.size() ||
                        std::string("\"`$\\").find(exec[pos]) == std::string::npos)
                        return std::nullopt;
                    arg += exec[pos++];
                } else if (c == '%') {
                    if (pos >= exec.size() || exec[pos] != '%')
                        return std::nullopt; // a field code would be expanded
                    arg += exec[pos++];
                } else {
                    arg += c;
                }
            }
            if (pos < exec.size() && exec[pos] != ' ')
                return std::nullopt;
        } else {
            while (pos < exec.size() && exec[pos] != ' ') {
                const char c = exec[pos++];
                if (reserved.find(c) != std::string::npos)
                    return std::nullopt;
                if (c == '%') {
                    if (pos >= exec.size() || exec[pos] != '%')
                        return std::nullopt;
                    ++pos;
                }
                arg += c;
            }
        }
        args.push_back(arg);
    }
    return args;
}

// Runs a tool and waits for it; its exit code, or -1 when it could not run.
int RunTool(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const auto& arg : argv)
        pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::string> ExecValue(const std::string& entry) {
    std::size_t pos = 0;
    while (pos < entry.size()) {
        std::size_t end = entry.find('\n', pos);
        if (end == std::string::npos)
            end = entry.size();
        const std::string line = entry.substr(pos, end - pos);
        if (line.rfind("Exec=", 0) == 0)
            return line.substr(5);
        pos = end + 1;
    }
    return std::nullopt;
}

TEST_F(Launch, StartupEntryRunsTheShortcutWithTrayAsItsOnlyArgument) {
    for (const auto& name : kHostileNames) {
        SCOPED_TRACE(Printable(name));
        const std::string current = m_dir.Path().string() + "/start/" + name;
        const std::string shortcut = current + "/Flowbright.lnk";
        InstallRecorder(shortcut);
        fakes::FakeProcessInfo process;
        process.currentDirectory = current;
        FileRegistry registry(m_paths);
        bool flag = false;
        ToggleRunAtStartup(registry, process, flag);
        ASSERT_TRUE(flag);
        const std::string entry = ReadFile(m_paths.autostartDir + "/Flowbright.desktop");
        const auto exec = ExecValue(entry);
        ASSERT_TRUE(exec.has_value()) << entry;
        const auto args = DesktopExec(*exec);
        ASSERT_TRUE(args.has_value()) << "Exec breaks the Desktop Entry rules: " << *exec;
        EXPECT_THAT(*args, ElementsAreArray({shortcut, std::string("-tray")}));

        // Run it as the desktop would: the program with its arguments, no shell.
        ASSERT_EQ(linux_impl::SpawnDetached({args->front(), *args, "", {}}), 0);
        EXPECT_THAT(Recorded(), ElementsAreArray({shortcut, std::string("-tray")}));

        // The desktop's own tools agree: the entry is valid, and launching it runs exactly
        // the shortcut with -tray.
        const std::string entryPath = m_paths.autostartDir + "/Flowbright.desktop";
        if (fs::exists("/usr/bin/desktop-file-validate")) {
            EXPECT_EQ(RunTool({"/usr/bin/desktop-file-validate", entryPath}), 0) << entry;
        }
        // GLib looks for the program before it expands "%%", so it cannot find one whose path
        // holds a percent sign although the entry is right by the rules.
        if (fs::exists("/usr/bin/gio") && name.find('%') == std::string::npos) {
            EXPECT_EQ(RunTool({"/usr/bin/gio", "launch", entryPath}), 0);
            EXPECT_THAT(Recorded(), ElementsAreArray({shortcut, std::string("-tray")}));
        }

        ToggleRunAtStartup(registry, process, flag);
        EXPECT_FALSE(flag);
        EXPECT_FALSE(fs::exists(m_paths.autostartDir + "/Flowbright.desktop"));
    }
    EXPECT_FALSE(fs::exists(m_dir.File("pwned")));
}

} // namespace
