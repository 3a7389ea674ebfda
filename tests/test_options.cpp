// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Options.h"
#include "app/Skin.h"
#include "app/Updater.h"

#include "fakes/FakeProcessInfo.h"
#include "fakes/FakeRegistry.h"
#include "fakes/FakeShell.h"
#include "platform/Component.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fb;
using fb::RegRoot;
using fb::fakes::FakeRegistry;

namespace {

const char* const kKey = "SOFTWARE\\Flowbright";
const char* const kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::int32_t Dword(const FakeRegistry& registry, const char* name) {
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(registry.GetDword(RegRoot::CurrentUser, kKey, name, value)) << name;
    return static_cast<std::int32_t>(value);
}

} // namespace

TEST(Options, MissingKeyGivesTheDefaults) {
    FakeRegistry registry;
    StoredOptions options;
    options.selectedAdapter = 99;
    LoadOptions(registry, options);
    EXPECT_EQ(options.checkPeriod, "12");
    EXPECT_EQ(options.accelerateN, "7");
    EXPECT_EQ(options.selectedAdapter, 0);
}

TEST(Options, FirstHideCreatesTheKeyWithTheDefaults) {
    FakeRegistry registry;
    StoredOptions options;
    LoadOptions(registry, options);
    SaveOptions(registry, options);
    EXPECT_EQ(Dword(registry, "CheckPeriodNum"), 12);
    EXPECT_EQ(Dword(registry, "CheckPeriodCombo"), 0);
    EXPECT_EQ(Dword(registry, "AccelerateN"), 7);
    EXPECT_EQ(registry.Find(RegRoot::CurrentUser, kKey, "Network"), nullptr);
}

TEST(Options, StoredValuesAreWrittenBackAsTheyWereRead) {
    FakeRegistry registry;
    registry.SetDword(RegRoot::CurrentUser, kKey, "CheckPeriodNum", static_cast<std::uint32_t>(-5));
    registry.SetDword(RegRoot::CurrentUser, kKey, "CheckPeriodCombo", 3);
    registry.SetDword(RegRoot::CurrentUser, kKey, "AccelerateN", 2147483647);
    registry.SetDword(RegRoot::CurrentUser, kKey, "network", 4);
    StoredOptions options;
    LoadOptions(registry, options);
    EXPECT_EQ(options.checkPeriod, "-5");
    EXPECT_EQ(options.selectedAdapter, 4);
    SaveOptions(registry, options);
    EXPECT_EQ(Dword(registry, "CheckPeriodNum"), -5);
    EXPECT_EQ(Dword(registry, "CheckPeriodCombo"), 0);
    EXPECT_EQ(Dword(registry, "AccelerateN"), 2147483647);
}

TEST(Options, TypeIsNotLookedAtAndLongValuesKeepTheDefault) {
    FakeRegistry registry;
    // Four bytes of text read as a number; a longer value does not fit the 4-byte buffer.
    registry.SetString(RegRoot::CurrentUser, kKey, "CheckPeriodNum", "abc"); // 'a' 'b' 'c' 0
    registry.SetString(RegRoot::CurrentUser, kKey, "AccelerateN", "a longer text");
    StoredOptions options;
    LoadOptions(registry, options);
    std::int32_t expected = 0;
    std::memcpy(&expected, "abc", 4);
    EXPECT_EQ(options.checkPeriod, std::to_string(expected));
    EXPECT_EQ(options.accelerateN, "7");
}

TEST(Options, FailedCreateSavesNothing) {
    FakeRegistry registry;
    registry.failCreate = true;
    SaveOptions(registry, StoredOptions{"12", "7", 0});
    SaveSelectedAdapter(registry, 3);
    EXPECT_FALSE(registry.HasKey(RegRoot::CurrentUser, kKey));
}

TEST(StartupEntry, DataIsTheQuotedShortcutInTheCurrentDirectory) {
    EXPECT_EQ(StartupEntryData("/home/ann/apps", '/'), "\"/home/ann/apps/Flowbright.lnk\" -tray");
    EXPECT_EQ(StartupEntryData("/", '/'), "\"/Flowbright.lnk\" -tray");
    EXPECT_EQ(StartupEntryData("C:\\Programs\\App", '\\'),
              "\"C:\\Programs\\App\\Flowbright.lnk\" -tray");
}

TEST(StartupEntry, ToggleWritesFromTheCurrentDirectoryOfThatMomentAndDeletes) {
    FakeRegistry registry;
    fb::fakes::FakeProcessInfo process;
    process.currentDirectory = "/srv/one";
    bool flag = false;
    EXPECT_FALSE(QueryRunAtStartup(registry));

    ToggleRunAtStartup(registry, process, flag);
    EXPECT_TRUE(flag);
    EXPECT_TRUE(QueryRunAtStartup(registry));
    const auto* value = registry.Find(RegRoot::CurrentUser, kRun, "Flowbright");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, fb::reg::kSz);
    const std::string expected = "\"/srv/one/Flowbright.lnk\" -tray";
    ASSERT_EQ(value->data.size(), expected.size() + 1); // with its terminating zero
    EXPECT_EQ(std::string(value->data.begin(), value->data.end() - 1), expected);

    ToggleRunAtStartup(registry, process, flag);
    EXPECT_FALSE(flag);
    EXPECT_FALSE(QueryRunAtStartup(registry));

    process.currentDirectory = "/srv/two";
    ToggleRunAtStartup(registry, process, flag);
    EXPECT_EQ(registry.GetString(RegRoot::CurrentUser, kRun, "Flowbright"),
              "\"/srv/two/Flowbright.lnk\" -tray");
}

TEST(Updater, FiveQuotedArgumentsEachFollowedByABlank) {
    fb::fakes::FakeShell shell;
    LaunchUpdater(shell);
    ASSERT_EQ(shell.calls.size(), 1U);
    EXPECT_EQ(shell.calls[0].verb, "open");
    EXPECT_EQ(shell.calls[0].file, "UpdateApp.exe");
    EXPECT_EQ(shell.calls[0].parameters,
              "\"Flowbright\" \"6\" \"4.3.0\" \"flowbright.org\" \"false\" ");
    EXPECT_EQ(shell.calls[0].directory, "");
    EXPECT_EQ(shell.calls[0].show, fb::kSwShowNormal);
}

namespace {

struct RecordingSkin : fb::IDispatchObject {
    std::vector<std::pair<int, std::vector<fb::DispArg>>>* calls;
    long InvokeMethod(int id, const std::vector<fb::DispArg>& args) override {
        calls->emplace_back(id, args);
        return 0;
    }
};

struct Components : fb::IComponentFactory {
    bool installed = false;
    std::string askedFor;
    std::vector<std::pair<int, std::vector<fb::DispArg>>> calls;
    std::unique_ptr<fb::IDispatchObject> CreateByProgId(const std::string& progId) override {
        askedFor = progId;
        if (!installed)
            return nullptr;
        auto skin = std::make_unique<RecordingSkin>();
        skin->calls = &calls;
        return skin;
    }
};

} // namespace

TEST(Skin, FourCallsInOrder) {
    Components components;
    components.installed = true;
    SetupSkin(components);
    EXPECT_EQ(components.askedFor, "SkinCrafter.SCSkin3");
    ASSERT_EQ(components.calls.size(), 4U);
    EXPECT_EQ(components.calls[0].first, 17);
    EXPECT_EQ(std::get<std::int32_t>(components.calls[0].second.at(0)), 0);
    EXPECT_EQ(components.calls[1].first, 1);
    EXPECT_EQ(std::get<std::int32_t>(components.calls[1].second.at(0)), 1);
    EXPECT_EQ(components.calls[2].first, 2);
    EXPECT_EQ(std::get<std::string>(components.calls[2].second.at(0)), "Skin.skf");
    EXPECT_EQ(components.calls[3].first, 18);
    EXPECT_TRUE(components.calls[3].second.empty());
}

TEST(Skin, NoComponentMeansNoCalls) {
    Components components;
    SetupSkin(components);
    EXPECT_TRUE(components.calls.empty());
}
