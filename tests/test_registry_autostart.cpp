// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up entry: the "Run" value "Flowbright" kept as an XDG autostart entry.

#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryAutostart.h"

#include "support/RegistryPaths.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

using namespace fb;
using namespace fb::linux_impl;
using namespace fb::testing_support;

namespace {

const std::string kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
using Args = std::vector<std::string>;

// The value data the program forms: the quoted shortcut path, a blank and "-tray".
std::string RunData(const std::string& dir) {
    return "\"" + dir + "/Flowbright.lnk\" -tray";
}

class RegistryAutostartTest : public ::testing::Test {
protected:
    FileRegistry::Paths MakePaths() const { return RegistryPathsBelow(m_dir.Path()); }
    std::string EntryPath() const { return MakePaths().autostartDir + "/Flowbright.desktop"; }

    long SetRun(const std::string& data, std::uint32_t size) {
        auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true);
        if (!key)
            return -1;
        return key->SetValue("Flowbright", reg::kSz,
                             reinterpret_cast<const std::uint8_t*>(data.c_str()), size);
    }
    long SetRun(const std::string& data) {
        return SetRun(data, static_cast<std::uint32_t>(data.size() + 1));
    }
    // The value's bytes, or nothing when it is missing.
    std::optional<std::string> GetRun() {
        auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, false);
        if (!key)
            return std::nullopt;
        std::uint32_t size = 0;
        std::uint32_t type = 0;
        if (key->QueryValue("Flowbright", &type, nullptr, &size) != reg::kSuccess)
            return std::nullopt;
        EXPECT_EQ(type, reg::kSz);
        std::string data(size, '\0');
        EXPECT_EQ(key->QueryValue("Flowbright", nullptr,
                                  reinterpret_cast<std::uint8_t*>(data.data()), &size),
                  reg::kSuccess);
        return data;
    }
    // The Exec line of the entry, after key-file unescaping, as arguments.
    Args ExecArgs() {
        std::istringstream lines(ReadFile(EntryPath()));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Exec=", 0) == 0) {
                auto args = ParseDesktopExec(UnescapeKeyFileValue(line.substr(5)));
                return args ? *args : Args{"<broken>"};
            }
        }
        return {"<no Exec>"};
    }

    TempDir m_dir{"autostart"};
    FileRegistry m_registry{MakePaths()};
};

} // namespace

// ---- Command lines and Exec quoting ----------------------------------------------------------

TEST(RegistryCommandLine, SplitsWindowsCommandLines) {
    EXPECT_EQ(SplitRunCommandLine("\"C:\\Programs\\App\\Flowbright.lnk\" -tray"),
              (Args{"C:\\Programs\\App\\Flowbright.lnk", "-tray"}));
    EXPECT_EQ(SplitRunCommandLine("\"/a b/c\""), (Args{"/a b/c"}));
    EXPECT_EQ(SplitRunCommandLine("plain.exe  x\ty "), (Args{"plain.exe", "x", "y"}));
    EXPECT_EQ(SplitRunCommandLine("   "), Args{});
    EXPECT_EQ(SplitRunCommandLine("\"unterminated path"), (Args{"unterminated path"}));
    // A Linux path may hold quotation marks: the name ends at a quote before a blank.
    EXPECT_EQ(SplitRunCommandLine("\"/tmp/a \"b\"/Flowbright.lnk\" -tray"),
              (Args{"/tmp/a \"b\"/Flowbright.lnk", "-tray"}));
    // Arguments follow the C runtime's rules.
    EXPECT_EQ(SplitRunCommandLine("p \"a b\" c\\\\\"d e\" f\\\"g h\\\\i \"\" \"x\"\"y\""),
              (Args{"p", "a b", "c\\d e", "f\"g", "h\\\\i", "", "x\"y"}));
}

TEST(RegistryCommandLine, JoinIsTheInverseOfSplit) {
    const std::vector<Args> cases = {
        {"/usr/bin/app", "-tray"},
        {"/dir with blanks/app", "arg with blanks", "", "quote\"inside", "trailing\\",
         "back\\\\slashes\\\"", "tab\there"},
        {"/tmp/a \"b\"/Flowbright.lnk", "-tray"},
    };
    for (const auto& args : cases)
        EXPECT_EQ(SplitRunCommandLine(JoinWindowsCommandLine(args)), args)
            << JoinWindowsCommandLine(args);
    EXPECT_EQ(JoinWindowsCommandLine({"/p", "-tray"}), "\"/p\" -tray");
}

TEST(RegistryCommandLine, QuotesExecArgumentsByTheDesktopEntryRules) {
    EXPECT_EQ(QuoteDesktopExec({"/usr/bin/app", "-tray"}), "/usr/bin/app -tray");
    EXPECT_EQ(QuoteDesktopExec({"/a b/app", "100%"}), "\"/a b/app\" 100%%");
    EXPECT_EQ(QuoteDesktopExec({"/x/\"q\" $HOME `id` \\"}),
              "\"/x/\\\"q\\\" \\$HOME \\`id\\` \\\\\"");
    EXPECT_EQ(QuoteDesktopExec({"/x", ""}), "/x \"\"");

    const std::vector<Args> cases = {
        {"/usr/bin/app", "-tray"},
        {"/dir with blanks/a\"b'c/$(x)`y`;&|<>~*?#()%%f/Flowbright.lnk", "-tray"},
        {"/new\nline/tab\tbed\\", "", "%u"},
    };
    for (const auto& args : cases) {
        const std::string exec = QuoteDesktopExec(args);
        // Written to and read from a key file, too.
        const auto back = ParseDesktopExec(UnescapeKeyFileValue(EscapeKeyFileValue(exec)));
        ASSERT_TRUE(back.has_value()) << exec;
        EXPECT_EQ(*back, args) << exec;
        EXPECT_EQ(EscapeKeyFileValue(exec).find('\n'), std::string::npos);
    }
}

TEST(RegistryCommandLine, ParsesExecLinesWrittenByOthers) {
    EXPECT_EQ(*ParseDesktopExec("app %U --flag %%x"), (Args{"app", "--flag", "%x"}));
    EXPECT_EQ(*ParseDesktopExec("  \"/a b/c\"   d  "), (Args{"/a b/c", "d"}));
    EXPECT_EQ(*ParseDesktopExec(""), Args{});
    EXPECT_FALSE(ParseDesktopExec("\"unterminated"));
    EXPECT_FALSE(ParseDesktopExec("\"a\"b"));
    EXPECT_EQ(UnescapeKeyFileValue("\\sa\\\\b\\n\\t\\r\\q"), " a\\b\n\t\r\\q");
    EXPECT_EQ(EscapeKeyFileValue(" a b\\"), "\\sa b\\\\");
}

// ---- The value and the entry -----------------------------------------------------------------

TEST_F(RegistryAutostartTest, RunKeyExistsOnAFreshSystem) {
    long error = -1;
    EXPECT_NE(m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true, &error), nullptr);
    EXPECT_EQ(error, reg::kSuccess);
    EXPECT_NE(m_registry.OpenKey(RegRoot::CurrentUser, "software\\microsoft", false), nullptr);
    EXPECT_EQ(m_registry.OpenKey(RegRoot::CurrentUser, kRunKey + "Once", false), nullptr);
    EXPECT_FALSE(GetRun().has_value());
    EXPECT_FALSE(std::filesystem::exists(MakePaths().store)); // opening wrote nothing
}

TEST_F(RegistryAutostartTest, ValueExistsExactlyWhenTheEntryDoes) {
    const std::string data = RunData("/home/user/Programs");
    ASSERT_EQ(SetRun(data), reg::kSuccess);
    ASSERT_TRUE(std::filesystem::exists(EntryPath()));
    const std::string text = ReadFile(EntryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0U) << text;
    for (const char* line : {"\nType=Application\n", "\nName=Flowbright\n",
                             "\nExec=/home/user/Programs/Flowbright.lnk -tray\n",
                             "\nX-GNOME-Autostart-enabled=true\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

    // Exactly the bytes written, terminating zero included.
    EXPECT_EQ(GetRun(), data + '\0');
    // Present for the check mark: a query without type, data or size.
    auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, false);
    EXPECT_EQ(key->QueryValue("FLOWBRIGHT", nullptr, nullptr, nullptr), reg::kSuccess);

    // Never in the store.
    EXPECT_EQ(ReadFile(MakePaths().store).find("Flowbright.lnk"), std::string::npos);

    auto writable = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true);
    EXPECT_EQ(writable->DeleteValue("Flowbright"), reg::kSuccess);
    EXPECT_FALSE(std::filesystem::exists(EntryPath()));
    EXPECT_FALSE(GetRun().has_value());
    EXPECT_EQ(writable->DeleteValue("Flowbright"), reg::kFileNotFound);

    // Made again from another directory: the entry follows.
    ASSERT_EQ(SetRun(RunData("/srv/other")), reg::kSuccess);
    EXPECT_EQ(ExecArgs(), (Args{"/srv/other/Flowbright.lnk", "-tray"}));
    EXPECT_EQ(GetRun(), RunData("/srv/other") + '\0');
}

TEST_F(RegistryAutostartTest, LinkedEntryStaysALinkDanglingOrNot) {
    // An entry kept with the user's other dotfiles and linked in, before it was ever written.
    std::filesystem::create_directories(m_dir.File("dotfiles"));
    std::filesystem::create_directories(MakePaths().autostartDir);
    const std::string kept = m_dir.File("dotfiles/Flowbright.desktop");
    std::filesystem::create_symlink(kept, EntryPath());
    ASSERT_EQ(SetRun(RunData("/opt/a")), reg::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(EntryPath()));
    EXPECT_NE(ReadFile(kept).find("Exec=/opt/a/Flowbright.lnk -tray"), std::string::npos);
    EXPECT_EQ(GetRun(), RunData("/opt/a") + '\0');

    ASSERT_EQ(SetRun(RunData("/opt/b")), reg::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(EntryPath()));
    EXPECT_NE(ReadFile(kept).find("Exec=/opt/b/Flowbright.lnk -tray"), std::string::npos);
}

TEST_F(RegistryAutostartTest, PathsWithBlanksAndQuotesRunThatPath) {
    const std::vector<std::string> dirs = {
        "/home/user/My Programs",           "/tmp/a \"b\" c",
        "/tmp/$(touch pwned)/`id`/x;y|z&w", "/tmp/back\\slash/100% sure",
        "/home/\xC3\xBCser/\xE2\x82\xAC",
    };
    for (const auto& dir : dirs) {
        ASSERT_EQ(SetRun(RunData(dir)), reg::kSuccess) << dir;
        EXPECT_EQ(ExecArgs(), (Args{dir + "/Flowbright.lnk", "-tray"})) << dir;
        EXPECT_EQ(GetRun(), RunData(dir) + '\0') << dir;
        // One line per key: nothing in the path can add a line of its own.
        std::istringstream lines(ReadFile(EntryPath()));
        int count = 0;
        for (std::string line; std::getline(lines, line);)
            ++count;
        EXPECT_EQ(count, 6) << dir;
    }
}

TEST_F(RegistryAutostartTest, OtherRunValuesStayInTheStore) {
    auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true);
    ASSERT_NE(key, nullptr);
    const std::string other = "/usr/bin/other --background";
    ASSERT_EQ(key->SetValue("Other", reg::kSz, reinterpret_cast<const std::uint8_t*>(other.c_str()),
                            static_cast<std::uint32_t>(other.size() + 1)),
              reg::kSuccess);
    EXPECT_FALSE(std::filesystem::exists(EntryPath()));
    EXPECT_NE(ReadFile(MakePaths().store).find("\"Other\"=\"/usr/bin/other --background\""),
              std::string::npos);
    EXPECT_EQ(key->DeleteValue("Other"), reg::kSuccess);
}

TEST_F(RegistryAutostartTest, WinesOwnRunValueDoesNotCount) {
    WriteFile(
        MakePaths().winePrefix + "/user.reg",
        "WINE REGISTRY Version 2\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] "
        "1\n\"Flowbright\"=\"\\\"C:\\\\old\\\\Flowbright.lnk\\\" -tray\"\n\"Other\"=\"x\"\n");
    EXPECT_FALSE(GetRun().has_value());
    auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true);
    EXPECT_EQ(key->QueryValue("Other", nullptr, nullptr, nullptr), reg::kSuccess);
    EXPECT_EQ(key->DeleteValue("Flowbright"), reg::kFileNotFound);
}

TEST_F(RegistryAutostartTest, EntriesChangedByTheDesktopAreReadAsTheyAre) {
    ASSERT_EQ(SetRun(RunData("/opt/fb")), reg::kSuccess);
    std::string text = ReadFile(EntryPath());

    // Edited to run something else: the value tells what runs now.
    std::string edited = text;
    edited.replace(edited.find("Exec=/opt/fb/Flowbright.lnk -tray"), 33,
                   "Exec=\"/usr/local/bin/flow bright\" --hidden %U");
    WriteFile(EntryPath(), edited);
    EXPECT_EQ(GetRun(), std::string("\"/usr/local/bin/flow bright\" --hidden") + '\0');

    // Switched off in the desktop's settings: no start-up entry.
    WriteFile(EntryPath(), text + "X-GNOME-Autostart-enabled=false\n"); // the last one counts
    EXPECT_FALSE(GetRun().has_value());
    std::string disabled = text;
    disabled.replace(disabled.find("enabled=true"), 12, "enabled=false");
    WriteFile(EntryPath(), disabled + "[Other Group]\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_FALSE(GetRun().has_value());
    WriteFile(EntryPath(), text + "Hidden=true\n");
    EXPECT_FALSE(GetRun().has_value());
    // Switching it on again through the registry.
    ASSERT_EQ(SetRun(RunData("/opt/fb")), reg::kSuccess);
    EXPECT_EQ(GetRun(), RunData("/opt/fb") + '\0');

    // Broken entries count as none.
    for (const std::string& broken :
         {std::string("[Desktop Entry]\nExec=\"unterminated\n"), std::string("[Other]\nExec=x\n"),
          std::string("\0\1\2garbage", 10), std::string()}) {
        WriteFile(EntryPath(), broken);
        EXPECT_FALSE(GetRun().has_value());
    }
}

TEST_F(RegistryAutostartTest, DataThatCannotBeAnEntryIsRefused) {
    EXPECT_EQ(SetRun(""), reg::kWriteFault);
    EXPECT_EQ(SetRun("\"\" -tray"), reg::kWriteFault);
    EXPECT_EQ(SetRun("\"/bad/\xFF\xFE/Flowbright.lnk\" -tray"), reg::kWriteFault);
    EXPECT_EQ(SetRun(std::string("\"/a\"\0 -tray", 11), 12), reg::kWriteFault);
    auto key = m_registry.OpenKey(RegRoot::CurrentUser, kRunKey, true);
    const std::uint32_t number = 1;
    EXPECT_EQ(
        key->SetValue("Flowbright", reg::kDword, reinterpret_cast<const std::uint8_t*>(&number), 4),
        reg::kWriteFault);
    EXPECT_FALSE(std::filesystem::exists(EntryPath()));
    // Without its terminating zero the data is taken as it is.
    const std::string data = RunData("/opt");
    EXPECT_EQ(SetRun(data, static_cast<std::uint32_t>(data.size())), reg::kSuccess);
    EXPECT_EQ(GetRun(), data + '\0');
}

TEST_F(RegistryAutostartTest, DesktopLaunchRunsThePathWithItsArgument) {
    // GLib's launcher reads the entry as a desktop would at log-in.
    if (::access("/usr/bin/gio", X_OK) != 0)
        GTEST_SKIP() << "gio is not installed";
    const std::string dir = m_dir.File("My \"Odd\" $Dir `x`");
    const std::string output = m_dir.File("launched.txt");
    const std::string program = dir + "/Flowbright.lnk";
    WriteFile(program, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                           output + ".part\"\nmv \"" + output + ".part\" \"" + output + "\"\n");
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    ASSERT_EQ(SetRun(RunData(dir)), reg::kSuccess);

    std::string entry = EntryPath();
    const int launched = RunProgram({"/usr/bin/gio", "launch", entry}, ProgramOutput::kInherit);
    ASSERT_GE(launched, 0) << "gio did not start or did not exit normally";
    if (launched != 0)
        GTEST_SKIP() << "gio cannot launch here";
    for (int i = 0; i < 200 && !std::filesystem::exists(output); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(output), program + "\n-tray\n");
}
