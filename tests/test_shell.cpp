// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/Shell.h"
#include "platform/linux/shell/ShellCommandLine.h"
#include "platform/linux/shell/ShellSpawn.h"

#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace fb::linux_impl;
using namespace fb::testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

namespace {

// The modes the tests give to the files they make: a program and a plain document.
constexpr fs::perms kProgram = fs::perms::owner_all;
constexpr fs::perms kPlain = fs::perms::owner_read | fs::perms::owner_write;

// A script that writes its arguments (NUL-separated), its working directory and its
// WINEPREFIX to `<out>.args`, `<out>.cwd` and `<out>.env`, then renames a marker into place.
std::string RecorderScript(const fs::path& out) {
    const std::string o = out.string();
    return "#!/bin/sh\n"
           "printf '%s\\0' \"$@\" > '" +
           o +
           ".args'\n"
           "pwd > '" +
           o +
           ".cwd'\n"
           "printf '%s' \"${WINEPREFIX-unset}\" > '" +
           o +
           ".env'\n"
           "ls /proc/$$/fd > '" +
           o +
           ".fds'\n"
           "read -r line; printf '%s' \"$?\" > '" +
           o +
           ".stdin'\n"
           "echo done > '" +
           o + ".tmp' && mv '" + o + ".tmp' '" + o + ".done'\n";
}

// Waits (bounded) for the recorder to finish; the started program runs detached.
bool WaitFor(const fs::path& marker) {
    for (int i = 0; i < 1000; ++i) {
        if (fs::exists(marker))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A shell whose program lookup and spawning are recorded instead of done.
struct Recorder {
    std::vector<std::string> lookedUp;
    std::vector<SpawnRequest> spawned;
    std::map<std::string, std::string> programs{{"xdg-open", "/usr/bin/xdg-open"},
                                                {"wine", "/usr/bin/wine"},
                                                {"UpdateApp.exe", "/opt/bin/UpdateApp.exe"}};
    int spawnResult = 0;

    Shell MakeShell(const std::string& prefix) {
        return Shell(
            WinePaths(prefix),
            [this](const std::string& name) {
                lookedUp.push_back(name);
                auto found = programs.find(name);
                return found == programs.end() ? std::string() : found->second;
            },
            [this](const SpawnRequest& request) {
                spawned.push_back(request);
                return spawnResult;
            });
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Splitting the parameter string

struct SplitCase {
    const char* name;
    std::string parameters;
    std::vector<std::string> expected;
};

class ShellSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ShellSplit, GivesExactlyTheIntendedArguments) {
    EXPECT_EQ(SplitWindowsCommandLine(GetParam().parameters), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellSplit,
    ::testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"OnlyBlanks", " \t  ", {}},
        SplitCase{"BlanksSeparate", "a b\tc", {"a", "b", "c"}},
        SplitCase{"RunsOfBlanksAreOne", "  a  \t b  ", {"a", "b"}},
        SplitCase{"QuotesGroup", "\"a b\" c", {"a b", "c"}},
        SplitCase{"QuotesInsideAWord", "a\"b c\"d", {"ab cd"}},
        SplitCase{"EmptyQuotesAreAnArgument", "\"\" x \"\"", {"", "x", ""}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", "\"a b", {"a b"}},
        SplitCase{"UpdaterLine",
                  "\"Flowbright\" \"6\" \"4.3.0\" \"flowbright.example\" \"false\" ",
                  {"Flowbright", "6", "4.3.0", "flowbright.example", "false"}},
        SplitCase{"BackslashesAloneAreLiteral", "C:\\dir\\ a\\\\b", {"C:\\dir\\", "a\\\\b"}},
        SplitCase{"EvenBackslashesBeforeQuoteHalveAndToggle", "a\\\\\"b c\"", {"a\\b c"}},
        SplitCase{"OddBackslashesBeforeQuoteGiveALiteralQuote", "a\\\"b c", {"a\"b", "c"}},
        SplitCase{"ThreeBackslashesAndQuote", "a\\\\\\\"b", {"a\\\"b"}},
        SplitCase{"FourBackslashesAndQuote", "\"a\\\\\\\\\" b", {"a\\\\", "b"}},
        SplitCase{"TrailingBackslashInQuotes", "\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
        SplitCase{"SemicolonsAreText", "a;b ; rm -rf /", {"a;b", ";", "rm", "-rf", "/"}},
        SplitCase{"CommandSubstitutionIsText", "$(touch x) \"$(id)\"", {"$(touch", "x)", "$(id)"}},
        SplitCase{"BackticksAreText", "`id` a`b`", {"`id`", "a`b`"}},
        SplitCase{"NewlinesStayInsideArguments", "a\nb \"c\nd\"", {"a\nb", "c\nd"}},
        SplitCase{"LeadingDashesAreArguments", "--help -x", {"--help", "-x"}},
        SplitCase{"ShellCharactersAreText",
                  "a|b >c <d &e *f ?g 'h i'",
                  {"a|b", ">c", "<d", "&e", "*f", "?g", "'h", "i'"}},
        SplitCase{"NonAscii",
                  "\xC3\xA9t\xC3\xA9 \"\xE2\x82\xAC x\"",
                  {"\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC x"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// What gets started, with lookup and spawning recorded

class ShellDispatch : public ::testing::Test {
protected:
    ShellDispatch() {
        fs::create_directories(m_dir.Path() / "prefix" / "dosdevices");
        fs::create_directory_symlink("../drive_c", m_dir.Path() / "prefix" / "dosdevices" / "c:");
        WriteFile(m_dir.Path() / "prefix" / "drive_c" / "Program Files" / "eMule" / "eMule.exe",
                  "MZ", kPlain);
    }
    std::string Prefix() const { return (m_dir.Path() / "prefix").string(); }
    std::intptr_t Execute(const std::string& verb, const std::string& file,
                          const std::string& parameters = "", const std::string& directory = "") {
        Shell shell = recorder.MakeShell(Prefix());
        return shell.Execute(verb, file, parameters, directory, fb::kSwShow);
    }

    TempDir m_dir{"shell"};
    Recorder recorder;
};

TEST_F(ShellDispatch, UrlsGoToXdgOpenAlone) {
    for (const std::string url :
         {"http://flowbright.example/", "HTTPS://flowbright.example/a?b=c&d",
          "mailto:someone@example.org", "file:///tmp/x y"}) {
        recorder.spawned.clear();
        EXPECT_EQ(Execute("open", url, "--extra"), Shell::kStarted) << url;
        ASSERT_EQ(recorder.spawned.size(), 1U) << url;
        EXPECT_EQ(recorder.spawned[0],
                  (SpawnRequest{"/usr/bin/xdg-open", {"xdg-open", url}, "", {}}));
    }
}

TEST_F(ShellDispatch, UrlWithoutXdgOpenFails) {
    recorder.programs.erase("xdg-open");
    EXPECT_LE(Execute("", "http://flowbright.example/"), 32);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, BareNameIsSearchedInPathUnderExactlyThatName) {
    EXPECT_EQ(Execute("open", "UpdateApp.exe",
                      "\"Flowbright\" \"6\" \"4.3.0\" \"flowbright.example\" \"false\" "),
              Shell::kStarted);
    EXPECT_THAT(recorder.lookedUp, ElementsAre("UpdateApp.exe"));
    ASSERT_EQ(recorder.spawned.size(), 1U);
    EXPECT_EQ(recorder.spawned[0], (SpawnRequest{"/opt/bin/UpdateApp.exe",
                                                 {"UpdateApp.exe", "Flowbright", "6", "4.3.0",
                                                  "flowbright.example", "false"},
                                                 "",
                                                 {}}));
}

TEST_F(ShellDispatch, BareNameNotInPathIsNotStartedAnyOtherWay) {
    recorder.programs.erase("UpdateApp.exe");
    EXPECT_EQ(Execute("open", "UpdateApp.exe"), Shell::kFileNotFound);
    EXPECT_THAT(recorder.lookedUp, ElementsAre("UpdateApp.exe"));
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, WindowsPathInThePrefixStartsWithWine) {
    const std::string path = "C:\\Program Files\\eMule\\eMule.exe";
    EXPECT_EQ(Execute("", path, "-a \"b c\""), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 1U);
    EXPECT_EQ(recorder.spawned[0],
              (SpawnRequest{
                  "/usr/bin/wine", {"wine", path, "-a", "b c"}, "", {{"WINEPREFIX", Prefix()}}}));
}

TEST_F(ShellDispatch, WindowsPathIsFoundWhateverItsLetterCase) {
    EXPECT_EQ(Execute("", "c:\\program files\\EMULE\\emule.EXE"), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 1U);
    EXPECT_EQ(recorder.spawned[0].argv.at(1), "c:\\program files\\EMULE\\emule.EXE");
}

TEST_F(ShellDispatch, MissingWindowsPathIsNotStarted) {
    EXPECT_EQ(Execute("", "C:\\Program Files\\Kazaa\\Kazaa.exe"), Shell::kFileNotFound);
    EXPECT_EQ(Execute("", "\\\\server\\share\\x.exe"), Shell::kFileNotFound);
    EXPECT_EQ(Execute("", "\\Azureus.exe"), Shell::kFileNotFound);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, WindowsPathWithoutWineFails) {
    recorder.programs.erase("wine");
    EXPECT_EQ(Execute("", "C:\\Program Files\\eMule\\eMule.exe"), Shell::kNoAssociation);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, UnixExecutableStartsDirectlyAndRelativePathsBecomeAbsolute) {
    const fs::path program = m_dir.Path() / "bin" / "-tool";
    WriteFile(program, "#!/bin/sh\n", kProgram);
    EXPECT_EQ(Execute("", program.string(), "x"), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 1U);
    EXPECT_EQ(recorder.spawned[0],
              (SpawnRequest{program.string(), {program.string(), "x"}, "", {}}));

    const fs::path here = fs::current_path();
    fs::current_path(m_dir.Path());
    const auto result = Execute("", "bin/-tool");
    fs::current_path(here);
    EXPECT_EQ(result, Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 2U);
    EXPECT_EQ(fs::path(recorder.spawned[1].program), fs::path(m_dir.Path() / "bin/-tool"));
    EXPECT_EQ(recorder.spawned[1].argv.at(0).front(), '/');
}

TEST_F(ShellDispatch, UnixExePathStartsWithWine) {
    const fs::path program = m_dir.Path() / "apps" / "Tool.EXE";
    WriteFile(program, "MZ", kPlain);
    EXPECT_EQ(Execute("", program.string(), "a"), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 1U);
    EXPECT_THAT(recorder.spawned[0].argv, ElementsAre("wine", program.string(), "a"));
}

TEST_F(ShellDispatch, DocumentsAndFoldersOpenWithTheDesktop) {
    const fs::path document = m_dir.Path() / "readme.txt";
    WriteFile(document, "hello", kPlain);
    EXPECT_EQ(Execute("", document.string(), "ignored"), Shell::kStarted);
    EXPECT_EQ(Execute("", m_dir.Path().string()), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 2U);
    EXPECT_THAT(recorder.spawned[0].argv, ElementsAre("xdg-open", document.string()));
    EXPECT_THAT(recorder.spawned[1].argv, ElementsAre("xdg-open", m_dir.Path().string()));
}

TEST_F(ShellDispatch, MissingUnixPathIsFileNotFound) {
    EXPECT_EQ(Execute("", (m_dir.Path() / "missing").string()), Shell::kFileNotFound);
    EXPECT_EQ(Execute("", "./missing/tool"), Shell::kFileNotFound);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, OpenVerbInAnyCaseEqualsTheDefaultAndOtherVerbsFail) {
    EXPECT_EQ(Execute("open", "UpdateApp.exe"), Shell::kStarted);
    EXPECT_EQ(Execute("OPEN", "UpdateApp.exe"), Shell::kStarted);
    EXPECT_EQ(Execute("", "UpdateApp.exe"), Shell::kStarted);
    EXPECT_EQ(Execute("print", "UpdateApp.exe"), Shell::kNoAssociation);
    EXPECT_EQ(Execute("opened", "UpdateApp.exe"), Shell::kNoAssociation);
    EXPECT_EQ(recorder.spawned.size(), 3U);
}

TEST_F(ShellDispatch, WorkingDirectoryIsPassedAndWindowsFoldersAreMapped) {
    EXPECT_EQ(Execute("", "UpdateApp.exe", "", m_dir.Path().string()), Shell::kStarted);
    EXPECT_EQ(Execute("", "UpdateApp.exe", "", "C:\\Program Files\\EMULE"), Shell::kStarted);
    ASSERT_EQ(recorder.spawned.size(), 2U);
    EXPECT_EQ(recorder.spawned[0].directory, m_dir.Path().string());
    EXPECT_EQ(fs::path(recorder.spawned[1].directory).filename(), "eMule");
    EXPECT_TRUE(fs::is_directory(recorder.spawned[1].directory));
}

TEST_F(ShellDispatch, MissingWorkingDirectoryFailsBeforeAnythingStarts) {
    EXPECT_EQ(Execute("", "UpdateApp.exe", "", (m_dir.Path() / "missing").string()),
              Shell::kPathNotFound);
    EXPECT_EQ(Execute("", "UpdateApp.exe", "", "C:\\Missing"), Shell::kPathNotFound);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, EmptyFileAndZeroBytesAreRefused) {
    EXPECT_EQ(Execute("", ""), Shell::kFileNotFound);
    EXPECT_EQ(Execute("", std::string("UpdateApp.exe\0; rm x", 20)), Shell::kFileNotFound);
    EXPECT_EQ(Execute("", "UpdateApp.exe", std::string("a\0b", 3)), Shell::kFileNotFound);
    EXPECT_THAT(recorder.spawned, IsEmpty());
}

TEST_F(ShellDispatch, SpawnErrorsBecomeWindowsCodes) {
    const std::pair<int, std::intptr_t> cases[] = {
        {ENOENT, Shell::kFileNotFound}, {ENOTDIR, Shell::kPathNotFound},
        {EACCES, Shell::kAccessDenied}, {ENOMEM, Shell::kOutOfMemory},
        {ENOEXEC, Shell::kBadFormat},   {EIO, Shell::kNoAssociation}};
    for (const auto& [error, code] : cases) {
        recorder.spawnResult = error;
        EXPECT_EQ(Execute("", "UpdateApp.exe"), code) << error;
        EXPECT_LE(code, 32);
    }
}

// ---------------------------------------------------------------------------------------------
// PATH lookup

TEST(ShellPathLookup, FindsExecutableRegularFilesInOrderAndSkipsTheRest) {
    TempDir dir("shell");
    WriteFile(dir.Path() / "one" / "tool", "", kPlain);  // not executable
    fs::create_directories(dir.Path() / "two" / "tool"); // a folder
    WriteFile(dir.Path() / "three" / "tool", "#!/bin/sh\n", kProgram);
    WriteFile(dir.Path() / "four" / "tool", "#!/bin/sh\n", kProgram);
    const std::string list = (dir.Path() / "one").string() + ":" + (dir.Path() / "two").string() +
                             "::relative:" + (dir.Path() / "three").string() +
                             "/:" + (dir.Path() / "four").string();
    EXPECT_EQ(fs::path(FindInSearchPath("tool", list)), dir.Path() / "three" / "tool");
    EXPECT_EQ(FindInSearchPath("missing", list), "");
    EXPECT_EQ(FindInSearchPath("", list), "");
    EXPECT_EQ(FindInSearchPath("three/tool", dir.Path().string()), "");
}

TEST(ShellPathLookup, EmptyAndRelativeEntriesNeverSearchTheCurrentDirectory) {
    TempDir dir("shell");
    WriteFile(dir.Path() / "tool", "#!/bin/sh\n", kProgram);
    const fs::path here = fs::current_path();
    fs::current_path(dir.Path());
    const std::string found = FindInSearchPath("tool", ":.:./");
    fs::current_path(here);
    EXPECT_EQ(found, "");
}

// ---------------------------------------------------------------------------------------------
// Real spawning

TEST(ShellSpawn, StartsTheProgramDetachedWithExactArgumentsAndNothingOfOurs) {
    TempDir dir("shell");
    const fs::path script = dir.Path() / "record.sh";
    const fs::path out = dir.Path() / "out";
    WriteFile(script, RecorderScript(out), kProgram);
    fs::create_directories(dir.Path() / "work dir");
    // A descriptor without close-on-exec must not reach the program.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 77), 77);
    ::close(leaked);

    const SpawnRequest request{
        script.string(),
        {"record", "a b", "$(touch pwned)", "`touch pwned`", "; x", "", "--", "line\nbreak"},
        (dir.Path() / "work dir").string(),
        {{"WINEPREFIX", "/the prefix"}}};
    const int error = SpawnDetached(request);
    ::close(77);
    ASSERT_EQ(error, 0);
    ASSERT_TRUE(WaitFor(fs::path(out.string() + ".done")));
    EXPECT_THAT(
        ReadNulSeparated(out.string() + ".args"),
        ElementsAre("a b", "$(touch pwned)", "`touch pwned`", "; x", "", "--", "line\nbreak"));
    EXPECT_EQ(ReadFile(out.string() + ".cwd"), (dir.Path() / "work dir").string() + "\n");
    EXPECT_EQ(ReadFile(out.string() + ".env"), "/the prefix");
    EXPECT_EQ(ReadFile(out.string() + ".stdin"), "1"); // end of input at once: /dev/null
    const std::string fds = ReadFile(out.string() + ".fds");
    EXPECT_THAT(fds, ::testing::Not(::testing::HasSubstr("77")));
    EXPECT_FALSE(fs::exists(dir.Path() / "work dir" / "pwned"));
    EXPECT_FALSE(fs::exists(dir.Path() / "pwned"));
    // Nothing is left for us to reap.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ShellSpawn, ReportsWhyAProgramCouldNotStart) {
    TempDir dir("shell");
    WriteFile(dir.Path() / "plain", "not a program", kPlain);
    WriteFile(dir.Path() / "garbage",
              std::string("\x7f"
                          "ELF\x01\x02",
                          6),
              kProgram);
    EXPECT_EQ(SpawnDetached({(dir.Path() / "missing").string(), {"x"}, "", {}}), ENOENT);
    EXPECT_EQ(SpawnDetached({(dir.Path() / "plain").string(), {"x"}, "", {}}), EACCES);
    EXPECT_EQ(SpawnDetached({"/bin/true", {"true"}, (dir.Path() / "missing").string(), {}}),
              ENOENT);
    EXPECT_NE(SpawnDetached({(dir.Path() / "garbage").string(), {"x"}, "", {}}), 0);
    EXPECT_EQ(SpawnDetached({"", {}, "", {}}), ENOENT);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}
