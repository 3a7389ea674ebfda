// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/WineFileSystem.h"
#include "platform/linux/shell/WinePaths.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

using fb::linux_impl::FileSystem;
using fb::linux_impl::WinePaths;
using namespace fb::testing_support;
namespace fs = std::filesystem;

namespace {

// A throwaway Wine prefix: drive C: as Wine lays it out, with eMule installed.
class WinePrefixTest : public ::testing::Test {
protected:
    WinePrefixTest() {
        fs::create_directories(prefix() / "dosdevices");
        fs::create_directories(prefix() / "drive_c");
        fs::create_directory_symlink("../drive_c", prefix() / "dosdevices" / "c:");
        WriteFile(prefix() / "drive_c" / "Program Files" / "eMule" / "eMule.exe", "x");
    }
    fs::path prefix() const { return m_dir.Path() / "prefix"; }
    fs::path driveC() const { return prefix() / "drive_c"; }
    std::optional<std::string> ToUnix(const std::string& windowsPath) const {
        return WinePaths(prefix().string()).ToUnix(windowsPath);
    }
    bool Exists(const std::string& path) const {
        FileSystem files{WinePaths(prefix().string())};
        return files.Exists(path);
    }

    TempDir m_dir{"wine"};
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Windows paths through the prefix

TEST_F(WinePrefixTest, ExactPathMapsThroughTheDriveLink) {
    const auto path = ToUnix("C:\\Program Files\\eMule\\eMule.exe");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path,
              (prefix() / "dosdevices" / "c:" / "Program Files" / "eMule" / "eMule.exe").string());
    EXPECT_TRUE(fs::exists(*path));
}

TEST_F(WinePrefixTest, EveryComponentAndTheDriveLetterIgnoreLetterCase) {
    EXPECT_TRUE(Exists("c:\\PROGRAM FILES\\emule\\EMULE.EXE"));
    const auto path = ToUnix("c:\\program files\\EMULE\\emule.exe");
    ASSERT_TRUE(path);
    EXPECT_EQ(fs::path(*path).filename(), "eMule.exe");
    EXPECT_EQ(fs::path(*path).parent_path().filename(), "eMule");
}

TEST_F(WinePrefixTest, NonAsciiNamesIgnoreLetterCase) {
    WriteFile(driveC() /
                  "\xC3\x9C"
                  "bung" /
                  "\xC3\xA9t\xC3\xA9.exe",
              "x"); // Übung/été.exe
    EXPECT_TRUE(Exists("C:\\\xC3\xBC"
                       "BUNG\\\xC3\x89T\xC3\x89.EXE")); // üBUNG\ÉTÉ.EXE
}

TEST_F(WinePrefixTest, ExactSpellingWinsOverOtherCasesAndTheChoiceIsStable) {
    fs::create_directories(driveC() / "foo");
    fs::create_directories(driveC() / "Foo");
    EXPECT_EQ(fs::path(*ToUnix("C:\\foo")).filename(), "foo");
    EXPECT_EQ(fs::path(*ToUnix("C:\\Foo")).filename(), "Foo");
    EXPECT_EQ(fs::path(*ToUnix("C:\\FOO")).filename(), "Foo"); // byte-wise smallest
}

TEST_F(WinePrefixTest, MissingFileOrFolderIsNotFound) {
    EXPECT_FALSE(Exists("C:\\Program Files\\eMule\\emule2.exe"));
    EXPECT_FALSE(Exists("C:\\Program Files\\Kazaa\\Kazaa.exe"));
}

TEST_F(WinePrefixTest, FoldersAreFoundToo) {
    EXPECT_TRUE(Exists("C:\\Program Files\\eMule"));
    EXPECT_TRUE(Exists("C:\\Program Files\\eMule\\"));
    EXPECT_TRUE(Exists("C:\\"));
    EXPECT_TRUE(Exists("C:"));
}

TEST_F(WinePrefixTest, MissingDriveIsNotFound) {
    EXPECT_FALSE(Exists("D:\\Program Files\\eMule\\eMule.exe"));
    fs::create_directories(prefix() / "dosdevices" / "e:");
    WriteFile(prefix() / "dosdevices" / "f:", "not a folder");
    EXPECT_TRUE(Exists("E:\\"));
    EXPECT_FALSE(Exists("F:\\x"));
}

TEST_F(WinePrefixTest, MissingPrefixFindsNothing) {
    FileSystem files{WinePaths((m_dir.Path() / "no-such-prefix").string())};
    EXPECT_FALSE(files.Exists("C:\\Program Files\\eMule\\eMule.exe"));
}

TEST_F(WinePrefixTest, SlashesAndRepeatedSeparatorsAreAccepted) {
    EXPECT_TRUE(Exists("C:/Program Files/eMule/eMule.exe"));
    EXPECT_TRUE(Exists("C:\\\\Program Files\\/eMule\\.\\eMule.exe"));
}

TEST_F(WinePrefixTest, DotDotNeverClimbsAboveTheDrive) {
    WriteFile(prefix() / "secret.txt", "x");
    WriteFile(m_dir.Path() / "outside.txt", "x");
    EXPECT_TRUE(Exists("C:\\Program Files\\..\\Program Files\\eMule\\eMule.exe"));
    EXPECT_TRUE(Exists("C:\\..\\..\\Program Files\\eMule\\eMule.exe"));
    EXPECT_FALSE(Exists("C:\\..\\secret.txt"));
    EXPECT_FALSE(Exists("C:\\..\\..\\outside.txt"));
    EXPECT_EQ(*ToUnix("C:\\..\\.."), (prefix() / "dosdevices" / "c:").string());
}

TEST_F(WinePrefixTest, FileInTheMiddleOfAPathIsNotAFolder) {
    EXPECT_FALSE(Exists("C:\\Program Files\\eMule\\eMule.exe\\x"));
}

TEST_F(WinePrefixTest, WildcardsAndOtherForbiddenCharactersNeverMatch) {
    // Even a Unix file literally named so is not reached through a Windows path.
    WriteFile(driveC() / "Program Files" / "eMule" / "*.exe", "x");
    WriteFile(driveC() / "Program Files" / "eMule" / "a?b", "x");
    for (const char* path :
         {"C:\\Program Files\\eMule\\*.exe", "C:\\Program Files\\eMule\\eMule.ex?",
          "C:\\Program Files\\eMule\\a?b", "C:\\Program Files\\e*\\eMule.exe",
          "C:\\Program Files\\eMule\\\"eMule.exe\"", "C:\\Program Files\\eMule\\<x>",
          "C:\\Program Files\\eMule\\x|y", "C:\\Program Files\\eMule\\eMule.exe:stream"}) {
        EXPECT_FALSE(Exists(path)) << path;
    }
}

TEST_F(WinePrefixTest, UncRootedAndDriveRelativePathsAreNotFound) {
    for (const char* path :
         {"\\\\server\\share\\eMule.exe", "\\\\?\\C:\\Program Files\\eMule\\eMule.exe",
          "\\Program Files\\eMule\\eMule.exe", "C:Program Files\\eMule\\eMule.exe"}) {
        EXPECT_FALSE(Exists(path)) << path;
    }
}

TEST_F(WinePrefixTest, DanglingLinkAtTheEndIsAnEntry) {
    fs::create_symlink("/nonexistent/target", driveC() / "dangling.lnk");
    EXPECT_TRUE(Exists("C:\\dangling.lnk"));
}

TEST_F(WinePrefixTest, PathOf259CharactersCanExistAnd260CannotEvenWhenTheFileDoes) {
    const std::string folder(200, 'f');
    const std::string name259(259 - 3 - folder.size() - 1, 'n');
    const std::string name260(260 - 3 - folder.size() - 1, 'n');
    WriteFile(driveC() / folder / name259, "x");
    WriteFile(driveC() / folder / name260, "x");
    const std::string path259 = "C:\\" + folder + "\\" + name259;
    const std::string path260 = "C:\\" + folder + "\\" + name260;
    ASSERT_EQ(path259.size(), 259U);
    ASSERT_EQ(path260.size(), 260U);
    EXPECT_TRUE(ToUnix(path260).has_value());
    EXPECT_TRUE(Exists(path259));
    EXPECT_FALSE(Exists(path260));
}

TEST_F(WinePrefixTest, LengthCountsCharactersNotBytes) {
    // 100 two-byte characters and a 4-byte one (two UTF-16 units): 259 units, 360 bytes.
    std::string folder;
    for (int i = 0; i < 100; ++i)
        folder += "\xC3\xA9";                    // é
    const std::string wide = "\xF0\x9F\x8E\xB5"; // one character beyond the BMP
    const std::string name(259 - 3 - 100 - 1 - 2, 'n');
    WriteFile(driveC() / folder / (wide + name), "x");
    const std::string path = "C:\\" + folder + "\\" + wide + name;
    EXPECT_EQ(FileSystem::Utf16Length(path), 259U);
    EXPECT_TRUE(Exists(path));
    WriteFile(driveC() / folder / (wide + name + "x"), "x");
    EXPECT_FALSE(Exists(path + "x"));
}

// ---------------------------------------------------------------------------------------------
// Unix paths and odd input

TEST_F(WinePrefixTest, UnixPathsAreCheckedAsTheyAre) {
    const fs::path file = m_dir.Path() / "a*b";
    WriteFile(file, "x");
    EXPECT_TRUE(Exists(file.string()));
    EXPECT_FALSE(Exists((m_dir.Path() / "a*").string())); // never globbed
    EXPECT_TRUE(Exists(m_dir.Path().string()));
    fs::create_symlink("/nonexistent/target", m_dir.Path() / "dangling");
    EXPECT_TRUE(Exists((m_dir.Path() / "dangling").string()));
    EXPECT_FALSE(Exists((m_dir.Path() / "missing").string()));
    EXPECT_FALSE(Exists("/" + std::string(300, 'x')));
}

TEST_F(WinePrefixTest, EmptyAndZeroBytePathsAreNotFound) {
    EXPECT_FALSE(Exists(""));
    const fs::path file = m_dir.Path() / "real";
    WriteFile(file, "x");
    EXPECT_FALSE(Exists(file.string() + std::string("\0tail", 5)));
    EXPECT_FALSE(Exists(std::string("C:\\Program Files\0x", 18)));
}

TEST(WinePathsText, DriveLettersAndRootedPaths) {
    EXPECT_TRUE(WinePaths::HasDriveLetter("C:\\x"));
    EXPECT_TRUE(WinePaths::HasDriveLetter("z:"));
    EXPECT_FALSE(WinePaths::HasDriveLetter("1:\\x"));
    EXPECT_FALSE(WinePaths::HasDriveLetter("C"));
    EXPECT_FALSE(WinePaths::HasDriveLetter("/C:/x"));
    EXPECT_TRUE(WinePaths::IsRootedWithoutDrive("\\x"));
    EXPECT_FALSE(WinePaths::IsRootedWithoutDrive("/x"));
}

TEST(WinePathsText, Utf16LengthOfMalformedTextCountsEachByte) {
    EXPECT_EQ(FileSystem::Utf16Length(""), 0U);
    EXPECT_EQ(FileSystem::Utf16Length("abc"), 3U);
    EXPECT_EQ(FileSystem::Utf16Length("\xC3\xA9"), 1U);
    EXPECT_EQ(FileSystem::Utf16Length("\xF0\x9F\x8E\xB5"), 2U);
    EXPECT_EQ(FileSystem::Utf16Length("\xC3"), 1U);
    EXPECT_EQ(FileSystem::Utf16Length("\xE2\x80x"), 3U);
    EXPECT_EQ(FileSystem::Utf16Length("\x80\x80"), 2U);
}

TEST(WinePathsPrefix, DefaultPrefixFollowsWinePrefixThenHome) {
    {
        EnvGuard prefix("WINEPREFIX", "/tmp/some prefix");
        EXPECT_EQ(WinePaths::DefaultPrefix(), "/tmp/some prefix");
    }
    {
        EnvGuard prefix("WINEPREFIX", "");
        EnvGuard home("HOME", "/home/tester");
        EXPECT_EQ(WinePaths::DefaultPrefix(), "/home/tester/.wine");
    }
    {
        EnvGuard prefix("WINEPREFIX", nullptr);
        EnvGuard home("HOME", nullptr);
        EXPECT_TRUE(WinePaths::DefaultPrefix().ends_with("/.wine"));
    }
}
