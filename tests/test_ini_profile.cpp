// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/files/IniProfile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using fb::linux_impl::IniProfile;
using namespace std::string_literals;
using namespace fb::testing_support;

// Sets the process umask for one test and restores it after.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask)
        : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t m_old;
};

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class IniProfileTest : public ::testing::Test {
protected:
    std::string Get(const std::string& section, const std::string& key,
                    const std::string& def = "<default>", std::size_t size = 1024) {
        return profile.GetString(section, key, def, size, file);
    }
    int GetInt(const std::string& section, const std::string& key, int def = -777) {
        return profile.GetInt(section, key, def, file);
    }
    bool Write(const std::string& section, const std::string& key, const std::string& value) {
        return profile.WriteString(section, key, value, file);
    }
    // The whole file after one write, so that a check sees every byte the write left.
    std::string WriteAndRead(const std::string& section, const std::string& key,
                             const std::string& value) {
        return Write(section, key, value) ? ReadFile(file) : "<write failed>";
    }

    TempDir dir{"ini"};
    std::string file = dir.File("flowbright.ini");
    IniProfile profile;
};

// --------------------------------------------------------------------------------------------
// Reading

TEST_F(IniProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Get("main", "key"), "<default>");
    WriteFile(file, "[main]\nkey=1\n[other]\nx=2\n");
    EXPECT_EQ(Get("missing", "key"), "<default>");
    EXPECT_EQ(Get("main", "x"), "<default>") << "a key of another section";
    EXPECT_EQ(Get("main", "ke"), "<default>") << "a prefix of a key";
    EXPECT_EQ(Get("mai", "key"), "<default>") << "a prefix of a section";
    EXPECT_EQ(GetInt("main", "nothere", 42), 42);
    EXPECT_EQ(GetInt("nosection", "key", -3), -3);
}

TEST_F(IniProfileTest, NamesMatchWithoutCaseAndBlanks) {
    WriteFile(file, "  [ MainWindow ]  \n\t AlwaysOnTop \t=\t  yes please  \t\nTOP=5\n");
    EXPECT_EQ(Get("mainwindow", "alwaysontop"), "yes please");
    EXPECT_EQ(Get("MAINWINDOW", "ALWAYSONTOP"), "yes please");
    EXPECT_EQ(Get(" mainwindow ", " top "), "5");
    EXPECT_EQ(GetInt("mainwindow", "Top"), 5);
}

TEST_F(IniProfileTest, KeysBeforeAnySectionOrAfterBrokenLinesAreHandled) {
    WriteFile(file, "orphan=1\n[a]\n[broken header\nk=2\n; k=3\nnot a key line\n=nameless\n");
    EXPECT_EQ(Get("", "orphan"), "<default>");
    EXPECT_EQ(Get("a", "orphan"), "<default>");
    EXPECT_EQ(Get("a", "k"), "2") << "a line with '[' but no ']' starts no section";
    EXPECT_EQ(Get("a", "; k"), "<default>") << "a comment is no key";
    EXPECT_EQ(Get("a", "not a key line"), "<default>");
}

TEST_F(IniProfileTest, OnePairOfEnclosingQuotesIsRemoved) {
    WriteFile(file, "[q]\nd=\"C:\\Program Files\\x\"\ns='single'\nmixed=\"a'\nempty=\"\"\n"
                    "one=\"\ninner=a\"b\"c\ntwice=\"\"x\"\"\n");
    EXPECT_EQ(Get("q", "d"), "C:\\Program Files\\x");
    EXPECT_EQ(Get("q", "s"), "single");
    EXPECT_EQ(Get("q", "mixed"), "\"a'");
    EXPECT_EQ(Get("q", "empty"), "");
    EXPECT_EQ(Get("q", "one"), "\"");
    EXPECT_EQ(Get("q", "inner"), "a\"b\"c");
    EXPECT_EQ(Get("q", "twice"), "\"x\"");
}

TEST_F(IniProfileTest, ThePresentEmptyValueIsNotTheDefaultTextButIsTheDefaultNumber) {
    WriteFile(file, "[log]\nlogfile=\nblank=   \nquoted=\"\"\n");
    EXPECT_EQ(Get("log", "logfile"), "");
    EXPECT_EQ(Get("log", "blank"), "");
    EXPECT_EQ(GetInt("log", "logfile", 9), 9);
    EXPECT_EQ(GetInt("log", "blank", -1), -1);
    EXPECT_EQ(GetInt("log", "quoted", 120), 120);
}

TEST_F(IniProfileTest, AByteOrderMarkDoesNotHideTheFirstSection) {
    WriteFile(file, "\xef\xbb\xbf[s]\nk=1\n");
    EXPECT_EQ(Get("s", "k"), "1");
    EXPECT_EQ(WriteAndRead("s", "k", "2"), "\xef\xbb\xbf[s]\nk=2\n");
}

TEST_F(IniProfileTest, FirstDuplicateWins) {
    WriteFile(file, "[s]\nk=first\nK=second\n[other]\nk=x\n[S]\nk=third\nonlyhere=4\n");
    EXPECT_EQ(Get("s", "k"), "first");
    EXPECT_EQ(Get("s", "onlyhere"), "<default>") << "only the first section of a name is read";
}

TEST_F(IniProfileTest, GetStringKeepsAtMostSizeMinusOneCharacters) {
    WriteFile(file, "[s]\nk=abcdef\n");
    EXPECT_EQ(Get("s", "k", "dflt", 0), "");
    EXPECT_EQ(Get("s", "k", "dflt", 1), "");
    EXPECT_EQ(Get("s", "k", "dflt", 4), "abc");
    EXPECT_EQ(Get("s", "k", "dflt", 6), "abcde");
    EXPECT_EQ(Get("s", "k", "dflt", 7), "abcdef");
    EXPECT_EQ(Get("s", "missing", "dflt", 3), "df") << "the default is cut too";
    EXPECT_EQ(Get("s", "missing", "dflt", 0), "");
}

TEST_F(IniProfileTest, TheDefaultLosesTrailingBlanksOnly) {
    EXPECT_EQ(Get("s", "k", "  text \t "), "  text");
    EXPECT_EQ(Get("s", "k", ""), "");
}

TEST_F(IniProfileTest, CrLfLineEndsDoNotReachValues) {
    WriteFile(file, "[s]\r\nk=value\r\nn=12\r\n[t]\r\nlast=x");
    EXPECT_EQ(Get("s", "k"), "value");
    EXPECT_EQ(GetInt("s", "n"), 12);
    EXPECT_EQ(Get("t", "last"), "x") << "a last line without a newline is read";
}

TEST_F(IniProfileTest, NulBytesEndValuesAndNames) {
    WriteFile(file, "[s]\nk=ab\0cd\nna\0me=1\n[t\0u]\nz=2\n"s);
    EXPECT_EQ(Get("s", "k"), "ab");
    EXPECT_EQ(Get("s", "na"), "<default>");
    EXPECT_EQ(Get("s", "na\0me"s), "<default>");
    EXPECT_EQ(Get("t", "z"), "<default>");
    EXPECT_EQ(Get("s", "k\0junk"s), "ab") << "a name is read up to its NUL";
}

TEST_F(IniProfileTest, AVeryLongLineDoesNotHideTheKeysAfterIt) {
    WriteFile(file, "[s]\njunk=" + std::string(1 << 20, 'x') + "\nk=after\n");
    EXPECT_EQ(Get("s", "k"), "after");
    EXPECT_EQ(Get("s", "junk", "", 11), std::string(10, 'x'));
    EXPECT_EQ(Get("s", "junk", "", std::string::npos).size(), std::size_t{1} << 20);
}

TEST_F(IniProfileTest, SomethingOtherThanARegularFileReadsAsMissing) {
    ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
    EXPECT_EQ(Get("s", "k"), "<default>");
    const std::string fifo = dir.File("pipe.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Must return at once: nobody ever writes into the pipe.
    EXPECT_EQ(profile.GetString("s", "k", "d", 10, fifo), "d");
    EXPECT_EQ(profile.GetInt("s", "k", 5, fifo), 5);
    EXPECT_FALSE(profile.WriteString("s", "k", "v", fifo));
    EXPECT_EQ(profile.GetString("s", "k", "d", 10, ""), "d");
    EXPECT_FALSE(profile.WriteString("s", "k", "v", ""));
}

// --------------------------------------------------------------------------------------------
// GetInt: leading decimal digits with an optional sign, wrapping at 32 bits.

struct IntCase {
    std::string text;
    int expected;
};

class IniProfileIntTest : public IniProfileTest, public ::testing::WithParamInterface<IntCase> {};

TEST_P(IniProfileIntTest, ReadsLeadingDigits) {
    WriteFile(file, "[n]\nv=" + GetParam().text + "\n");
    EXPECT_EQ(GetInt("n", "v", -777), GetParam().expected) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniProfileIntTest,
    ::testing::Values(IntCase{"15", 15}, IntCase{"15s", 15}, IntCase{"abc", 0}, IntCase{"", -777},
                      IntCase{"-7", -7}, IntCase{"+3", 3}, IntCase{"  42  ", 42},
                      IntCase{"\"12\"", 12}, IntCase{"0x10", 0}, IntCase{"--5", 0},
                      IntCase{"- 5", 0}, IntCase{"1 000", 1}, IntCase{"007", 7},
                      IntCase{"2147483647", INT_MAX}, IntCase{"2147483648", INT_MIN},
                      IntCase{"-2147483648", INT_MIN}, IntCase{"4294967295", -1},
                      IntCase{"4294967297", 1}, IntCase{"99999999999999999999", 1661992959}));

// --------------------------------------------------------------------------------------------
// Writing

TEST_F(IniProfileTest, ANewFileHoldsTheSectionAndKey) {
    UmaskGuard mask(022);
    EXPECT_EQ(WriteAndRead("main", "alwaysontop", "0"), "[main]\nalwaysontop=0\n");
    EXPECT_EQ(Mode(file), 0644u) << "a new file gets 0666 less the umask";
    ASSERT_TRUE(Write("main", "nsresolve", "1"));
    ASSERT_TRUE(Write("filters", "filtertcp", "0"));
    EXPECT_EQ(WriteAndRead("main", "portresolve", "2"),
              "[main]\nalwaysontop=0\nnsresolve=1\nportresolve=2\n"
              "[filters]\nfiltertcp=0\n");
    EXPECT_EQ(Get("main", "nsresolve"), "1");
}

TEST_F(IniProfileTest, ANewKeyGoesAfterTheLastLineOfItsSection) {
    WriteFile(file, "; settings\n[a]\nx=1\n; about y\n\n\n[b]\nz=3\n");
    EXPECT_EQ(WriteAndRead("A", "y", "2"), "; settings\n[a]\nx=1\n; about y\ny=2\n\n\n[b]\nz=3\n");
    EXPECT_EQ(WriteAndRead("b", "w", "4"),
              "; settings\n[a]\nx=1\n; about y\ny=2\n\n\n[b]\nz=3\nw=4\n");
}

TEST_F(IniProfileTest, AKeyOfAnEmptySectionFollowsItsHeader) {
    WriteFile(file, "[empty]\n\n[next]\n");
    EXPECT_EQ(WriteAndRead("empty", "k", "v"), "[empty]\nk=v\n\n[next]\n");
}

TEST_F(IniProfileTest, ARewriteChangesOnlyTheValue) {
    WriteFile(file, "[S]\n  Key = old value ; not a comment\nother=1\n");
    EXPECT_EQ(WriteAndRead("s", "KEY", "new"), "[S]\n  Key = new\nother=1\n")
        << "the stored spelling stays";
    EXPECT_EQ(WriteAndRead("s", "key", ""), "[S]\n  Key = \nother=1\n");
    EXPECT_EQ(Get("s", "key"), "");
}

TEST_F(IniProfileTest, OnlyTheFirstDuplicateIsRewritten) {
    WriteFile(file, "[s]\nk=1\nk=2\n[s]\nk=3\n");
    EXPECT_EQ(WriteAndRead("s", "k", "9"), "[s]\nk=9\nk=2\n[s]\nk=3\n");
    EXPECT_EQ(WriteAndRead("s", "n", "5"), "[s]\nk=9\nk=2\nn=5\n[s]\nk=3\n");
}

TEST_F(IniProfileTest, NewLinesTakeTheFileLineEnd) {
    WriteFile(file, "[s]\r\nk=1\r\n");
    ASSERT_TRUE(Write("s", "n", "2"));
    EXPECT_EQ(WriteAndRead("t", "m", "3"), "[s]\r\nk=1\r\nn=2\r\n[t]\r\nm=3\r\n");
}

TEST_F(IniProfileTest, AFileWithoutFinalNewlineGetsOneBeforeNewLines) {
    WriteFile(file, "[s]\r\nk=1");
    EXPECT_EQ(WriteAndRead("s", "k", "2"), "[s]\r\nk=2") << "a rewrite in place adds nothing";
    EXPECT_EQ(WriteAndRead("t", "m", "3"), "[s]\r\nk=2\r\n[t]\r\nm=3\r\n");

    WriteFile(file, "[s]");
    EXPECT_EQ(WriteAndRead("s", "k", "v"), "[s]\nk=v\n");
}

TEST_F(IniProfileTest, ReplacesTheFileAtomicallyAndOnlyWhenItChanges) {
    ASSERT_TRUE(Write("s", "k", "1"));
    const ino_t first = Inode(file);
    ASSERT_TRUE(Write("s", "k", "1"));
    EXPECT_EQ(Inode(file), first) << "an unchanged file is not rewritten";
    ASSERT_TRUE(Write("s", "k", "2"));
    EXPECT_NE(Inode(file), first) << "a change replaces the file by rename";
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"flowbright.ini", "flowbright.ini.lock"}))
        << "no temporary left";
}

TEST_F(IniProfileTest, KeepsThePermissionBits) {
    WriteFile(file, "[s]\nk=1\n");
    for (mode_t mode : {0600u, 0640u, 0604u}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(Write("s", "k", std::to_string(mode)));
        EXPECT_EQ(Mode(file), mode);
    }
}

TEST_F(IniProfileTest, WritesThroughASymbolicLink) {
    const std::string target = dir.File("real.ini");
    WriteFile(target, "[s]\nk=1\n");
    ASSERT_EQ(::symlink("real.ini", file.c_str()), 0);
    ASSERT_TRUE(Write("s", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(file)) << "the link stays a link";
    EXPECT_EQ(ReadFile(target), "[s]\nk=2\n");
}

TEST_F(IniProfileTest, ADanglingLinkIsLeftAlone) {
    ASSERT_EQ(::symlink("nowhere/real.ini", file.c_str()), 0);
    EXPECT_FALSE(Write("s", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(IniProfileTest, RefusesWritesThatWouldNotReadBack) {
    const std::string before = "[s]\nk=1\n";
    WriteFile(file, before);
    EXPECT_FALSE(Write("s", "k", "two\nlines"));
    EXPECT_FALSE(Write("s", "k", "cr\rhere"));
    EXPECT_FALSE(Write("s", "a=b", "1"));
    EXPECT_FALSE(Write("s", "", "1"));
    EXPECT_FALSE(Write("s", "   ", "1"));
    EXPECT_FALSE(Write("s", ";k", "1"));
    EXPECT_FALSE(Write("s", "[k", "1"));
    EXPECT_FALSE(Write("a]b", "k", "1"));
    EXPECT_FALSE(Write("", "k", "1"));
    EXPECT_FALSE(Write("s\n[t", "k", "1"));
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(IniProfileTest, ValuesAreWrittenUpToANul) {
    EXPECT_EQ(WriteAndRead("s", "k", "abc\0def"s), "[s]\nk=abc\n");
}

TEST_F(IniProfileTest, AMissingDirectoryFailsSilently) {
    const std::string inMissing = dir.File("missing/flowbright.ini");
    EXPECT_FALSE(profile.WriteString("s", "k", "v", inMissing));
    EXPECT_FALSE(fs::exists(dir.Path() / "missing"));
    EXPECT_EQ(profile.GetString("s", "k", "d", 10, inMissing), "d");
}

TEST_F(IniProfileTest, ADirectoryThatIsAFileFailsSilently) {
    const std::string notADir = dir.File("plain");
    WriteFile(notADir, "data");
    EXPECT_FALSE(profile.WriteString("s", "k", "v", notADir + "/flowbright.ini"));
    EXPECT_EQ(ReadFile(notADir), "data");
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"plain"});
}

TEST_F(IniProfileTest, ATargetThatIsADirectoryFailsWithoutLeftovers) {
    ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
    EXPECT_FALSE(Write("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"flowbright.ini"});
}

TEST_F(IniProfileTest, AReadOnlyDirectoryLeavesTheFileUnchanged) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories; the missing-directory and "
                        "file-as-directory cases cover failing writes";
    const std::string before = "[s]\nk=1\n";
    WriteFile(file, before);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(Write("s", "k", "2"));
    EXPECT_FALSE(Write("t", "n", "3"));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"flowbright.ini"});
}

TEST_F(IniProfileTest, AReadOnlyFileStaysUnchanged) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    const std::string before = "[s]\nk=1\n";
    WriteFile(file, before);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(Write("s", "k", "2"));
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(Mode(file), 0444u);
}

TEST_F(IniProfileTest, AHostileFileKeepsEveryForeignByte) {
    const std::string longLine = "garbage " + std::string(1 << 20, '#') + " end";
    const std::string binary = "\x01\x02\xff\xfe binary \0 with NUL \0"s;
    const std::string head = "\xef\xbb\xbf; leading comment\r\n" + longLine + "\n" + binary +
                             "\n[main]\r\n" + "junk without equals\n";
    const std::string dupKeyLater = "ALWAYSONTOP=second\r\n";
    const std::string middle =
        "[ main ]\nalwaysontop=dup section\n   \n" + binary + "\n" + "[log]\nlogfile=C:\\x\0y\n"s;
    const std::string tail = "[zzz]\nno trailing newline=\xc3\xa9\x00"s;
    WriteFile(file, head + "alwaysontop=first\r\n" + dupKeyLater + middle + tail);

    EXPECT_EQ(Get("main", "alwaysontop"), "first");
    EXPECT_EQ(Get("log", "logfile"), "C:\\x");
    ASSERT_TRUE(Write("main", "alwaysontop", "1"));
    ASSERT_TRUE(Write("main", "nsresolve", "0"));
    ASSERT_TRUE(Write("list", "srcaddr", "120"));

    const std::string expected = head + "alwaysontop=1\r\n" + dupKeyLater + "nsresolve=0\r\n" +
                                 middle + tail + "\r\n[list]\r\nsrcaddr=120\r\n";
    const std::string actual = ReadFile(file);
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << "the rewritten file differs from the expected bytes";
    EXPECT_EQ(Get("main", "alwaysontop"), "1");
    EXPECT_EQ(Get("zzz", "no trailing newline"), "\xc3\xa9");
}

TEST_F(IniProfileTest, TwoWritersLoseNoKey) {
    constexpr int kKeysEach = 20;
    auto writer = [this](const std::string& prefix) {
        IniProfile own;
        for (int i = 0; i < kKeysEach; ++i)
            EXPECT_TRUE(own.WriteString("s", prefix + std::to_string(i), "v", file));
    };
    std::thread a(writer, "a");
    std::thread b(writer, "b");
    a.join();
    b.join();
    for (int i = 0; i < kKeysEach; ++i) {
        EXPECT_EQ(Get("s", "a" + std::to_string(i)), "v");
        EXPECT_EQ(Get("s", "b" + std::to_string(i)), "v");
    }
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"flowbright.ini", "flowbright.ini.lock"}));
}

TEST_F(IniProfileTest, AFileTooLargeToReadIsNeitherReadNorReplaced) {
    {
        std::ofstream out(file, std::ios::binary);
        out << "[s]\nk=1\n";
    }
    fs::resize_file(file, IniProfile::kMaxFileSize + 1); // sparse: cheap to make
    EXPECT_EQ(Get("s", "k"), "<default>");
    EXPECT_FALSE(Write("s", "k", "2"));
    EXPECT_EQ(fs::file_size(file), IniProfile::kMaxFileSize + 1);
}

TEST_F(IniProfileTest, ReadsSeeAFileChangedInPlaceWithItsTimeSetBack) {
    WriteFile(file, "[s]\nk=1\n");
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // long settled: worth keeping
    EXPECT_EQ(Get("s", "k"), "1");
    WriteFile(file, "[s]\nk=2\n"); // same inode, same size
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(Get("s", "k"), "2");
    EXPECT_EQ(GetInt("s", "k"), 2);
}

TEST_F(IniProfileTest, ABatchWriteAppliesEveryKeyInOrderInOneReplacement) {
    WriteFile(file, "; mine\n[b]\nz=0\n");
    const std::vector<fb::ProfileWrite> writes = {
        {"a", "x", "1"}, {"b", "z", "2"}, {"a", "bad=key", "3"}, {"a", "y", "4"}, {"c", "w", ""}};
    EXPECT_FALSE(profile.WriteStrings(file, writes, {})) << "one key was refused";
    EXPECT_EQ(ReadFile(file), "; mine\n[b]\nz=2\n[a]\nx=1\ny=4\n[c]\nw=\n");
    EXPECT_TRUE(profile.WriteStrings(file, {{"a", "x", "5"}, {"A", "X", "6"}}, {}));
    EXPECT_EQ(Get("a", "x"), "6") << "the later write of a key wins";
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"flowbright.ini", "flowbright.ini.lock"}));
}

TEST_F(IniProfileTest, ANewFileStartsFromTheShippedOne) {
    const std::string shipped = dir.File("shipped.ini");
    const std::string shippedText = "; shipped with the program\r\n[main]\r\nvendor=1\r\n";
    WriteFile(shipped, shippedText);
    ASSERT_TRUE(profile.WriteStrings(file, {{"main", "k", "2"}}, shipped));
    EXPECT_EQ(ReadFile(file), shippedText + "k=2\r\n");
    EXPECT_EQ(ReadFile(shipped), shippedText);
    WriteFile(shipped, "[main]\r\nnewer=3\r\n");
    ASSERT_TRUE(profile.WriteStrings(file, {{"main", "k", "4"}}, shipped));
    EXPECT_EQ(ReadFile(file), shippedText + "k=4\r\n") << "an existing file is not replaced";
}

TEST(IniProfileUserFolder, IsCreatedPrivateOnTheFirstWriteIntoIt) {
    TempDir dir{"ini-user"};
    const std::string folder = dir.File("config/flowbright");
    IniProfile profile(folder);
    EXPECT_EQ(profile.UserFolder(), folder);
    EXPECT_FALSE(profile.WriteString("s", "k", "v", dir.File("elsewhere/flowbright.ini")))
        << "only the user's folder is made";
    ASSERT_TRUE(profile.WriteString("s", "k", "v", folder + "/flowbright.ini"));
    EXPECT_EQ(ReadFile(folder + "/flowbright.ini"), "[s]\nk=v\n");
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(dir.File("config")), 0700u);
}

TEST(IniProfileUserFolder, ComesFromTheXdgConfigFolderOrHome) {
    struct Case {
        const char* config; // XDG_CONFIG_HOME, null when unset
        const char* home;   // HOME, null when unset
        const char* folder;
    };
    // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
    for (const Case& c : {Case{"/x/config", "/x/home", "/x/config/flowbright"},
                          Case{"relative/config", "/x/home", "/x/home/.config/flowbright"},
                          Case{nullptr, nullptr, ""}}) {
        EnvGuard config("XDG_CONFIG_HOME", c.config);
        EnvGuard home("HOME", c.home);
        EXPECT_EQ(IniProfile::DefaultUserFolder(), c.folder) << (c.config ? c.config : "unset");
    }
}

TEST(IniProfileFolders, AFolderIsWritableWhenFilesCanBeMadeInIt) {
    TempDir dir{"ini-folders"};
    IniProfile profile;
    EXPECT_TRUE(profile.CanWriteFolder(dir.Path().string()));
    EXPECT_FALSE(profile.CanWriteFolder(dir.File("missing")));
    EXPECT_FALSE(profile.Exists(dir.File("missing.ini")));
    WriteFile(dir.File("there.ini"), "");
    EXPECT_TRUE(profile.Exists(dir.File("there.ini")));
    if (::geteuid() == 0)
        return; // root writes into read-only folders
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(profile.CanWriteFolder(dir.Path().string()));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
}

// Another program holding the file's lock does not hold up a write for long: it is given up,
// with one line on standard error, and the file stays as it was.
TEST_F(IniProfileTest, AWriteGivesUpOnAFileLockedByAnotherProgram) {
    WriteFile(file, "[s]\nk=1\n");
    const int lockFd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    ::testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    auto write = std::async(std::launch::async, [&] { return Write("s", "k", "2"); });
    const bool finished = write.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const auto waited = std::chrono::steady_clock::now() - started;
    ::close(lockFd); // lets a write that still waits go on
    const bool written = write.get();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(finished) << "the write waited for the lock without end";
    EXPECT_FALSE(written);
    EXPECT_GE(waited, IniProfile::kLockWait - std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(file), "[s]\nk=1\n");
    EXPECT_NE(said.find(file), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(Write("s", "k", "3")) << "once the lock is free, writes work again";
}

} // namespace
