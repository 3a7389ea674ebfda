// SPDX-License-Identifier: GPL-3.0-or-later
// The fuzz checks in the normal build: every seed of every fuzz target, and every input kept
// from a finding (tests/data/hardening/<target>/), goes through the target's property check.
// A kept input fails here until the fault it found is fixed.

#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"
#include "platform/linux/files/IniProfile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace fb::fuzz {
void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}
} // namespace fb::fuzz

namespace {

namespace fs = std::filesystem;

std::string SourceDir() {
    const char* dir = std::getenv("FB_SOURCE_DIR");
    return dir != nullptr ? dir : ".";
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Replay : public ::testing::TestWithParam<fb::fuzz::Target> {};

TEST_P(Replay, SeedsKeepEveryProperty) {
    const auto seeds = FilesIn(fs::path(SourceDir()) / "fuzz" / "corpus" / GetParam().name);
    ASSERT_FALSE(seeds.empty()) << "no seed corpus for " << GetParam().name;
    for (const auto& seed : seeds) {
        const std::string input = fb::fuzz::ReadWhole(seed.string());
        EXPECT_EQ(GetParam().check(input), "") << seed.filename();
    }
}

TEST_P(Replay, KeptFindingsStayFixed) {
    const auto kept =
        FilesIn(fs::path(SourceDir()) / "tests" / "data" / "hardening" / GetParam().name);
    if (kept.empty())
        GTEST_SKIP() << "no finding kept for " << GetParam().name;
    for (const auto& input : kept)
        EXPECT_EQ(GetParam().check(fb::fuzz::ReadWhole(input.string())), "") << input.filename();
}

INSTANTIATE_TEST_SUITE_P(EveryTarget, Replay, ::testing::ValuesIn(fb::fuzz::kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

// Plain, sound inputs pass every check: a check that fails on them tests itself, not the code.
TEST(ReplayChecks, SoundInputsPass) {
    EXPECT_EQ(fb::fuzz::CheckRegistryText("WINE REGISTRY Version 2\n\n[A] 1\n\"v\"=\"x\"\n"), "");
    EXPECT_EQ(fb::fuzz::CheckIniProfile(std::string("[s]\nk=1\n\x1es\x1ek\x1e") + "2"), "");
    EXPECT_EQ(fb::fuzz::CheckCommandLine("\"/opt/x y/prog\" -tray"), "");
    EXPECT_EQ(fb::fuzz::CheckWinePaths("C:\\Program Files\\eMule\\eMule.exe"), "");
    EXPECT_EQ(fb::fuzz::CheckP2PProbes("\x1e\x1e"), "");
}

// Found by fuzzing the INI writer: rewriting a key whose value starts with a blank added one
// more blank before the value each time, so that a file saved at every exit grew without end
// (and was rewritten although nothing had changed).
TEST(IniFindings, RewritingAValueWithLeadingBlanksLeavesTheFileAsItIs) {
    const fb::testing_support::TempDir dir;
    const std::string file = dir.File("flowbright.ini");
    fb::linux_impl::IniProfile profile;
    ASSERT_TRUE(profile.WriteString("log", "logfile", "  spaced", file));
    const std::string first = fb::fuzz::ReadWhole(file);
    ASSERT_TRUE(profile.WriteString("log", "logfile", "  spaced", file));
    ASSERT_TRUE(profile.WriteString("log", "logfile", "  spaced", file));
    EXPECT_EQ(fb::fuzz::ReadWhole(file), first);
    EXPECT_EQ(profile.GetString("log", "logfile", "", 100, file), "spaced");
}

} // namespace
