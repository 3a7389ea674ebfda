// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/IniFile.h"
#include "settings/Settings.h"

#include "fakes/FakeProcessInfo.h"
#include "fakes/FakeProfile.h"
#include "platform/linux/files/IniProfile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace fb;

namespace {

namespace fs = std::filesystem;
using fb::fakes::FakeProcessInfo;
using fb::fakes::FakeProfile;
using namespace fb::testing_support;

constexpr const char* kProgram = "/opt/flowbright/flowbright";
constexpr const char* kIni = "/opt/flowbright/flowbright.ini";

// The file a first run leaves behind: every key with its default, in save order.
constexpr const char* kFreshFile = "[main]\n"
                                   "alwaysontop=0\n"
                                   "nsresolve=0\n"
                                   "portresolve=0\n"
                                   "idleseconds=10\n"
                                   "[filters]\n"
                                   "filtertcp=0\n"
                                   "filterudp=0\n"
                                   "filtericmp=0\n"
                                   "[mainwindow]\n"
                                   "status=-1\n"
                                   "top=-1\n"
                                   "bottom=-1\n"
                                   "left=-1\n"
                                   "right=-1\n"
                                   "[list]\n"
                                   "srcaddr=120\n"
                                   "destaddr=120\n"
                                   "srcport=80\n"
                                   "destport=80\n"
                                   "proto=50\n"
                                   "traffic=100\n"
                                   "bs=80\n"
                                   "abs=80\n"
                                   "[log]\n"
                                   "uselogfile=0\n"
                                   "autodelete=0\n"
                                   "mbdelete=1\n"
                                   "logtype=0\n"
                                   "logfile=\n";

// --------------------------------------------------------------------------------------------
// The path of the settings file

struct PathCase {
    std::string module;
    std::string expected;
};

class IniPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(IniPathTest, ReplacesTheExtensionOfTheFileName) {
    EXPECT_EQ(CIniFile::PathFor(GetParam().module, '/'), GetParam().expected)
        << "program: " << GetParam().module;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, IniPathTest,
    ::testing::Values(PathCase{"build/flowbright", "build/flowbright.ini"},
                      PathCase{"/opt/flowbright/flowbright", "/opt/flowbright/flowbright.ini"},
                      PathCase{"/opt/fb/Flowbright.exe", "/opt/fb/Flowbright.ini"},
                      PathCase{"/opt/flow.bright/flowbright", "/opt/flow.bright/flowbright.ini"},
                      PathCase{"/opt/a.b/c.d.e", "/opt/a.b/c.d.ini"},
                      PathCase{"flowbright.bin", "flowbright.ini"},
                      PathCase{"flowbright", "flowbright.ini"},
                      PathCase{"/opt/fb/flowbright.", "/opt/fb/flowbright.ini"},
                      PathCase{"/opt/fb/.flowbright", "/opt/fb/.flowbright.ini"},
                      PathCase{"/opt/fb/.flow.bright", "/opt/fb/.flow.ini"},
                      PathCase{"/opt/\xe6\x97\xa5.\xe6\x9c\xac/\xe3\x83\x97",
                               "/opt/\xe6\x97\xa5.\xe6\x9c\xac/\xe3\x83\x97.ini"},
                      PathCase{"", ""}));

TEST(IniPath, UsesThePlatformSeparator) {
    EXPECT_EQ(CIniFile::PathFor("C:\\a.b\\prog", '\\'), "C:\\a.b\\prog.ini");
    EXPECT_EQ(CIniFile::PathFor("C:\\dir\\prog.exe", '\\'), "C:\\dir\\prog.ini");
    EXPECT_EQ(CIniFile::PathFor("/a.b/prog", '\\'), "/a.ini") << "'/' is no separator here";

    struct BackslashProcess : FakeProcessInfo {
        char PathSeparator() const override { return '\\'; }
    } process;
    process.moduleFileName = "C:\\x.y\\flowbright";
    FakeProfile profile;
    EXPECT_EQ(CIniFile(profile, process).Path(), "C:\\x.y\\flowbright.ini");
}

TEST(IniPath, MustFitTheBuffer) {
    const std::string dir = "/opt/";
    auto program = [&](std::size_t length, const std::string& extension) {
        return dir + std::string(length - dir.size() - extension.size(), 'p') + extension;
    };
    // 499 characters is the longest path the 500-character buffer holds.
    EXPECT_EQ(CIniFile::PathFor(program(495, ""), '/').size(), 499u);
    EXPECT_EQ(CIniFile::PathFor(program(496, ""), '/'), "");
    EXPECT_EQ(CIniFile::PathFor(program(499, ".exe"), '/').size(), 499u);
    EXPECT_EQ(CIniFile::PathFor(program(497, ".x"), '/').size(), 499u);
    EXPECT_EQ(CIniFile::PathFor(program(498, ".x"), '/'), "");
    EXPECT_EQ(CIniFile::PathFor(program(500, ".exe"), '/'), "")
        << "a program path the buffer cannot hold is not used shortened";
    EXPECT_EQ(CIniFile::PathFor(std::string("/opt/a\0b", 8), '/'), "");
}

// --------------------------------------------------------------------------------------------
// CIniFile on the profile port

class IniFileTest : public ::testing::Test {
protected:
    FakeProcessInfo process;
    FakeProfile profile;
    void SetUp() override { process.moduleFileName = kProgram; }
};

TEST_F(IniFileTest, ReadsAndWritesTheFileBesideTheProgram) {
    CIniFile ini(profile, process);
    EXPECT_EQ(ini.Path(), kIni);
    EXPECT_TRUE(ini.WriteInt("s", "neg", -5));
    EXPECT_TRUE(ini.WriteUnsigned("s", "big", 4294967295u));
    EXPECT_TRUE(ini.WriteText("s", "text", "hello"));
    EXPECT_EQ(profile.Get(kIni, "s", "neg"), "-5");
    EXPECT_EQ(profile.Get(kIni, "s", "big"), "4294967295");
    EXPECT_EQ(ini.ReadInt("s", "neg", 0), -5);
    EXPECT_EQ(ini.ReadUnsigned("s", "big", 0), 4294967295u);
    EXPECT_EQ(ini.ReadText("s", "text", "", 100), "hello");
}

TEST_F(IniFileTest, ReadTextFillsAZeroTerminatedBuffer) {
    profile.Set(kIni, "s", "k", "abcdef");
    CIniFile ini(profile, process);
    char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), 'X');
    EXPECT_EQ(ini.ReadText("s", "k", "", buffer, 4), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], 'X') << "nothing written past the buffer's size";
    EXPECT_EQ(ini.ReadText("s", "k", "", buffer, 1), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ini.ReadText("s", "missing", "dflt", buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(ini.ReadText("s", "k", "", nullptr, 10), 0u);
}

struct UnsignedCase {
    std::optional<std::string> text; // nullopt: the key is missing
    unsigned expected;
};

class ReadUnsignedTest : public IniFileTest, public ::testing::WithParamInterface<UnsignedCase> {};

TEST_P(ReadUnsignedTest, ConvertsLikeStrtoul) {
    if (GetParam().text)
        profile.Set(kIni, "main", "n", *GetParam().text);
    CIniFile ini(profile, process);
    EXPECT_EQ(ini.ReadUnsigned("main", "n", 10), GetParam().expected)
        << "text: " << GetParam().text.value_or("<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadUnsignedTest,
    ::testing::Values(
        UnsignedCase{std::nullopt, 10}, UnsignedCase{"15", 15}, UnsignedCase{"15s", 15},
        UnsignedCase{"abc", 0}, UnsignedCase{"", 0}, UnsignedCase{" \t7", 7}, UnsignedCase{"+8", 8},
        UnsignedCase{"-1", 4294967295u}, UnsignedCase{"-4294967295", 1},
        UnsignedCase{"4294967295", 4294967295u}, UnsignedCase{"4294967296", 4294967295u},
        UnsignedCase{"-4294967296", 4294967295u},
        UnsignedCase{"123456789012345678901234567890", 4294967295u}, UnsignedCase{"0x1f", 0}));

TEST_F(IniFileTest, ReadUnsignedSeesAtMost499Characters) {
    profile.Set(kIni, "main", "n", std::string(497, '0') + "123");
    CIniFile ini(profile, process);
    EXPECT_EQ(ini.ReadUnsigned("main", "n", 10), 12u);
}

TEST_F(IniFileTest, WithoutAPathReadsGiveDefaultsAndWritesFail) {
    process.moduleFileName = "";
    CIniFile ini(profile, process);
    EXPECT_EQ(ini.Path(), "");
    EXPECT_EQ(ini.ReadInt("s", "k", 7), 7);
    EXPECT_EQ(ini.ReadUnsigned("s", "k", 8), 8u);
    EXPECT_EQ(ini.ReadText("s", "k", "dflt", 3), "df");
    EXPECT_FALSE(ini.WriteInt("s", "k", 1));
    EXPECT_FALSE(ini.WriteText("s", "k", "v"));
    EXPECT_EQ(profile.reads + profile.writes, 0) << "no file named \".ini\" is touched";
}

// --------------------------------------------------------------------------------------------
// CSettings on the profile port

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { process.moduleFileName = kProgram; }

    // One run of the program: load, then save.
    CSettings::Values Run() {
        CSettings settings(profile, process);
        return settings.Loaded();
    }
    std::string Stored(const std::string& section, const std::string& key) const {
        return profile.Get(kIni, section, key).value_or("<missing>");
    }

    FakeProcessInfo process;
    FakeProfile profile;
};

TEST_F(SettingsTest, AFreshRunLoadsTheDefaultsAndWritesAllKeysInOrder) {
    const CSettings::Values values = Run();
    EXPECT_EQ(values.alwaysOnTop, 0);
    EXPECT_EQ(values.idleTime, 10000u);
    EXPECT_EQ(values.filterUdp, 0);
    EXPECT_EQ(values.windowStatus, -1);
    EXPECT_EQ(values.windowRight, -1);
    EXPECT_EQ(values.srcAddrWidth, 120);
    EXPECT_EQ(values.destPortWidth, 80);
    EXPECT_EQ(values.protoWidth, 50);
    EXPECT_EQ(values.trafficWidth, 100);
    EXPECT_EQ(values.absWidth, 80);
    EXPECT_EQ(values.mbDelete, 1);
    EXPECT_EQ(values.logType, 0);
    EXPECT_EQ(values.logFile, "");
    EXPECT_EQ(profile.writes, 1) << "all keys in one write";
    EXPECT_EQ(profile.Text(kIni), kFreshFile);
}

TEST_F(SettingsTest, EveryValueLandsInItsOwnFieldAndIsWrittenBackAsRead) {
    const std::pair<const char*, const char*> keys[] = {
        {"main", "alwaysontop"},  {"main", "nsresolve"},    {"main", "portresolve"},
        {"filters", "filterudp"}, {"filters", "filtertcp"}, {"filters", "filtericmp"},
        {"mainwindow", "status"}, {"mainwindow", "top"},    {"mainwindow", "bottom"},
        {"mainwindow", "left"},   {"mainwindow", "right"},  {"list", "srcaddr"},
        {"list", "destaddr"},     {"list", "srcport"},      {"list", "destport"},
        {"list", "proto"},        {"list", "traffic"},      {"list", "bs"},
        {"list", "abs"},          {"log", "uselogfile"},    {"log", "autodelete"},
        {"log", "mbdelete"},      {"log", "logtype"}};
    // Distinct numbers, in field order, valid for the clamped ones.
    int number = 2;
    for (const auto& [section, key] : keys) {
        profile.Set(kIni, section, key, std::to_string(number % 3 == 0 ? -number : number));
        ++number;
    }
    profile.Set(kIni, "main", "idleseconds", "77");
    profile.Set(kIni, "log", "logfile", "/var/log/flow.log");
    profile.Set(kIni, "log", "logtype", "6");
    profile.Set(kIni, "log", "mbdelete", "999");
    FakeProfile before = profile;

    const CSettings::Values v = Run();
    const int fields[] = {v.alwaysOnTop,   v.nsResolve,    v.portResolve,   v.filterUdp,
                          v.filterTcp,     v.filterIcmp,   v.windowStatus,  v.windowTop,
                          v.windowBottom,  v.windowLeft,   v.windowRight,   v.srcAddrWidth,
                          v.destAddrWidth, v.srcPortWidth, v.destPortWidth, v.protoWidth,
                          v.trafficWidth,  v.bsWidth,      v.absWidth,      v.useLogFile,
                          v.autoDelete};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        EXPECT_EQ(std::to_string(fields[i]), *before.Get(kIni, keys[i].first, keys[i].second))
            << keys[i].second;
    }
    EXPECT_EQ(v.idleTime, 77000u);
    EXPECT_EQ(v.mbDelete, 999);
    EXPECT_EQ(v.logType, 6);
    EXPECT_EQ(v.logFile, "/var/log/flow.log");
    EXPECT_EQ(profile.Text(kIni), before.Text(kIni)) << "a run writes back what it loaded";
}

struct ClampCase {
    const char* key;
    const char* stored;
    const char* written;
};

class SettingsClampTest : public SettingsTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(SettingsClampTest, WritesBackTheClampedValue) {
    const char* section = std::string(GetParam().key) == "idleseconds" ? "main" : "log";
    profile.Set(kIni, section, GetParam().key, GetParam().stored);
    Run();
    EXPECT_EQ(Stored(section, GetParam().key), GetParam().written)
        << GetParam().key << "=" << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsClampTest,
    ::testing::Values(ClampCase{"mbdelete", "0", "1"}, ClampCase{"mbdelete", "-5", "1"},
                      ClampCase{"mbdelete", "1000", "1"}, ClampCase{"mbdelete", "999", "999"},
                      ClampCase{"mbdelete", "1", "1"}, ClampCase{"mbdelete", "2", "2"},
                      ClampCase{"mbdelete", "abc", "1"}, ClampCase{"mbdelete", "", "1"},
                      ClampCase{"logtype", "7", "0"}, ClampCase{"logtype", "-1", "0"},
                      ClampCase{"logtype", "6", "6"}, ClampCase{"logtype", "0", "0"},
                      ClampCase{"logtype", "3x", "3"}, ClampCase{"idleseconds", "0", "0"},
                      ClampCase{"idleseconds", "15s", "15"}, ClampCase{"idleseconds", "abc", "0"},
                      ClampCase{"idleseconds", "4294967", "4294967"},
                      ClampCase{"idleseconds", "4294968", "4294967"},
                      ClampCase{"idleseconds", "-1", "4294967"}));

TEST_F(SettingsTest, IdleSecondsAreHeldInMilliseconds) {
    profile.Set(kIni, "main", "idleseconds", "15s");
    EXPECT_EQ(Run().idleTime, 15000u);
    profile.Set(kIni, "main", "idleseconds", "4294968");
    EXPECT_EQ(Run().idleTime, 4294967000u) << "saturated, not wrapped around";
}

TEST_F(SettingsTest, AnEmptyLogFileStaysAPresentEmptyKey) {
    profile.Set(kIni, "log", "logfile", "");
    EXPECT_EQ(Run().logFile, "");
    EXPECT_EQ(profile.Get(kIni, "log", "logfile"), std::optional<std::string>(""));
}

TEST_F(SettingsTest, TheLogFileFieldHolds259CharactersButTheStoredNameIsKept) {
    const std::string fits(259, 'f');
    profile.Set(kIni, "log", "logfile", fits);
    EXPECT_EQ(Run().logFile, fits);
    EXPECT_EQ(Stored("log", "logfile"), fits);

    const std::string longer = "/" + std::string(299, 'l');
    profile.Set(kIni, "log", "logfile", longer);
    EXPECT_EQ(Run().logFile, longer.substr(0, 259));
    EXPECT_EQ(Stored("log", "logfile"), longer) << "a run never cuts the stored name";
}

TEST_F(SettingsTest, KeysOfOtherProgramsStay) {
    profile.Set(kIni, "capture", "device", "eth0");
    profile.Set(kIni, "main", "extra", "x");
    Run();
    EXPECT_EQ(Stored("capture", "device"), "eth0");
    EXPECT_EQ(Stored("main", "extra"), "x");
}

TEST_F(SettingsTest, FailedWritesAreSilent) {
    profile.failWrites = true;
    const CSettings::Values values = Run();
    EXPECT_EQ(values.srcAddrWidth, 120);
    EXPECT_EQ(profile.writes, 1) << "the save is tried once, not again";
    EXPECT_FALSE(profile.HasFile(kIni));
}

// --------------------------------------------------------------------------------------------
// A program in a folder its user cannot write

TEST(SettingsLocation, BesideTheProgramWhenItsFolderIsWritable) {
    const auto location = CIniFile::LocationFor(kIni, true, "/home/u/.config/flowbright", '/');
    EXPECT_EQ(location.file, kIni);
    EXPECT_EQ(location.shipped, "");
}

TEST(SettingsLocation, InTheUsersFolderWhenTheProgramsIsNot) {
    const auto location = CIniFile::LocationFor(kIni, false, "/home/u/.config/flowbright", '/');
    EXPECT_EQ(location.file, "/home/u/.config/flowbright/flowbright.ini");
    EXPECT_EQ(location.shipped, kIni);
    EXPECT_EQ(CIniFile::LocationFor(kIni, false, "/cfg/", '/').file, "/cfg/flowbright.ini");
    const auto nowhere = CIniFile::LocationFor(kIni, false, "", '/');
    EXPECT_EQ(nowhere.file, kIni) << "without a folder of the user's the saves fail as before";
    EXPECT_EQ(nowhere.shipped, "");
}

class InstalledSettingsTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        profile.readOnlyFolders.insert("/opt/flowbright");
        profile.userFolder = "/home/u/.config/flowbright";
    }
    const std::string userIni = "/home/u/.config/flowbright/flowbright.ini";
};

TEST_F(InstalledSettingsTest, TheShippedFileIsHonouredUntilTheUsersCopyExists) {
    profile.Set(kIni, "log", "mbdelete", "5");
    profile.Set(kIni, "capture", "device", "eth0");
    const FakeProfile shipped = profile;
    EXPECT_EQ(Run().mbDelete, 5);
    EXPECT_EQ(profile.Text(kIni), shipped.Text(kIni)) << "the shipped file is only read";
    EXPECT_EQ(profile.Get(userIni, "capture", "device"), "eth0");
    EXPECT_EQ(profile.Get(userIni, "log", "mbdelete"), "5");
    EXPECT_EQ(profile.Get(userIni, "list", "srcaddr"), "120");

    profile.Set(userIni, "log", "mbdelete", "7");
    profile.Set(kIni, "log", "mbdelete", "9");
    EXPECT_EQ(Run().mbDelete, 7) << "the user's copy wins once it exists";
    EXPECT_EQ(profile.Get(kIni, "log", "mbdelete"), "9");
}

TEST_F(InstalledSettingsTest, WithoutAShippedFileTheUsersCopyHoldsTheDefaults) {
    Run();
    EXPECT_FALSE(profile.HasFile(kIni));
    EXPECT_EQ(profile.Text(userIni), kFreshFile);
}

// --------------------------------------------------------------------------------------------
// CSettings on real files

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { process.moduleFileName = dir.File("flowbright"); }
    CSettings::Values Run() {
        CSettings settings(profile, process);
        return settings.Loaded();
    }

    TempDir dir{"settings"};
    std::string ini = dir.File("flowbright.ini");
    FakeProcessInfo process;
    fb::linux_impl::IniProfile profile;
};

TEST_F(SettingsFileTest, AFreshRunCreatesTheWholeFile) {
    Run();
    EXPECT_EQ(ReadFile(ini), kFreshFile);
    Run();
    EXPECT_EQ(ReadFile(ini), kFreshFile) << "a second run changes nothing";
}

TEST_F(SettingsFileTest, AnEditedFileKeepsItsLayoutAndGetsTheMissingKeys) {
    {
        std::ofstream out(ini, std::ios::binary);
        out << "; written by hand\r\n[LOG]\r\nMBDelete = 1000\r\nlogfile=\"/tmp/a b.log\"\r\n"
               "[Main]\r\nIdleSeconds=15s\r\nunknown=keep me\r\n";
    }
    const CSettings::Values values = Run();
    EXPECT_EQ(values.mbDelete, 1);
    EXPECT_EQ(values.idleTime, 15000u);
    EXPECT_EQ(values.logFile, "/tmp/a b.log");
    EXPECT_EQ(ReadFile(ini),
              "; written by hand\r\n[LOG]\r\nMBDelete = 1\r\nlogfile=/tmp/a b.log\r\n"
              "uselogfile=0\r\nautodelete=0\r\nlogtype=0\r\n"
              "[Main]\r\nIdleSeconds=15\r\nunknown=keep me\r\n"
              "alwaysontop=0\r\nnsresolve=0\r\nportresolve=0\r\n"
              "[filters]\r\nfiltertcp=0\r\nfilterudp=0\r\nfiltericmp=0\r\n"
              "[mainwindow]\r\nstatus=-1\r\ntop=-1\r\nbottom=-1\r\nleft=-1\r\n"
              "right=-1\r\n"
              "[list]\r\nsrcaddr=120\r\ndestaddr=120\r\nsrcport=80\r\ndestport=80\r\n"
              "proto=50\r\ntraffic=100\r\nbs=80\r\nabs=80\r\n");
}

TEST_F(SettingsFileTest, AnEmptyNumberReadsAndStaysItsDefault) {
    fb::testing_support::WriteFile(ini, "[mainwindow]\nleft=\n[list]\nsrcaddr=\n[log]\nlogtype=\n");
    const CSettings::Values values = Run();
    EXPECT_EQ(values.windowLeft, -1);
    EXPECT_EQ(values.srcAddrWidth, 120);
    CSettings::Values again = Run();
    EXPECT_EQ(again.windowLeft, -1);
    EXPECT_EQ(again.srcAddrWidth, 120);
    const std::string saved = ReadFile(ini);
    EXPECT_NE(saved.find("left=-1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("srcaddr=120\n"), std::string::npos) << saved;
}

TEST_F(SettingsFileTest, AProgramInAMissingDirectoryRunsOnDefaults) {
    process.moduleFileName = dir.File("gone/flowbright");
    const CSettings::Values values = Run();
    EXPECT_EQ(values.windowTop, -1);
    EXPECT_EQ(values.mbDelete, 1);
    EXPECT_FALSE(fs::exists(dir.File("gone")));
}

} // namespace
