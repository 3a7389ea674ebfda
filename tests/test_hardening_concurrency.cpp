// SPDX-License-Identifier: GPL-3.0-or-later
// Two copies of the program's storage at once: two processes, each with its own file-backed
// registry and INI reader, save the options, the adapter, the client choice and the settings
// in turn many times on the same files. No save is lost (every value ends as the last one some
// copy wrote, and never goes back to an older one while they run), nothing of anyone else's in
// the files is dropped, and the files parse at every moment.

#include "support/RegistryPaths.h"
#include "support/TestSupport.h"

#include "app/Options.h"
#include "p2p/FindP2PDlg.h"
#include "platform/linux/files/IniProfile.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryText.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace fb;
using namespace fb::testing_support;
namespace fs = std::filesystem;
using fb::linux_impl::FileRegistry;

namespace {

constexpr int kRounds = 150;
const std::string kOptionKey = "SOFTWARE\\Flowbright";

// Each copy writes numbers `copy * kSpan + round`, so that a value tells who wrote it and when.
constexpr int kSpan = 100000;

std::string ClientPath(int number) {
    return "C:\\Program Files\\Client " + std::to_string(number) + "\\client.exe";
}

int NumberInPath(const std::string& path) {
    const std::string prefix = "C:\\Program Files\\Client ";
    if (path.rfind(prefix, 0) != 0)
        return -1;
    return std::atoi(path.c_str() + prefix.size());
}

struct Snapshot {
    int checkPeriod = -1;
    int accelerate = -1;
    int network = -1;
    int appPath = -1;
    int srcaddr = -1;
    int logfile = -1;
    std::string appName;

    std::array<int, 6> Numbers() const {
        return {checkPeriod, accelerate, network, appPath, srcaddr, logfile};
    }
};

class Copy {
public:
    Copy(FileRegistry::Paths paths, std::string ini)
        : m_registry(std::move(paths))
        , m_ini(std::move(ini)) {}

    void Save(int copy, int number) {
        StoredOptions options;
        options.checkPeriod = std::to_string(number);
        options.accelerateN = std::to_string(number);
        SaveOptions(m_registry, options);
        SaveSelectedAdapter(m_registry, number);
        CFindP2PDlg find(m_registry);
        find.WriteChoice(copy == 0 ? "Emule" : "Shareaza", ClientPath(number));
        m_profile.WriteString("list", "srcaddr", std::to_string(number), m_ini);
        m_profile.WriteString("log", "logfile", ClientPath(number), m_ini);
    }

    Snapshot Load() {
        Snapshot snapshot;
        StoredOptions options;
        LoadOptions(m_registry, options);
        snapshot.checkPeriod = std::stoi(options.checkPeriod);
        snapshot.accelerate = std::stoi(options.accelerateN);
        snapshot.network = options.selectedAdapter;
        CFindP2PDlg find(m_registry);
        snapshot.appName = find.ReadAppName();
        snapshot.appPath = NumberInPath(find.ReadAppPath());
        snapshot.srcaddr = m_profile.GetInt("list", "srcaddr", -1, m_ini);
        snapshot.logfile = NumberInPath(m_profile.GetString("log", "logfile", "", 1000, m_ini));
        return snapshot;
    }

private:
    FileRegistry m_registry;
    linux_impl::IniProfile m_profile;
    std::string m_ini;
};

class TwoCopies : public ::testing::Test {
protected:
    TwoCopies() {
        m_paths = RegistryPathsBelow(m_dir.Path());
        m_ini = m_dir.File("bin/flowbright.ini");
        // Someone else's values in the same files, which both copies must leave alone.
        WriteFile(m_ini, "; kept by hand\r\n[other]\r\nmine=1\r\n");
        FileRegistry registry(m_paths);
        auto key = registry.CreateKey(RegRoot::CurrentUser, "Software\\Someone Else");
        const char data[] = "keep me";
        key->SetValue("Value", reg::kSz, reinterpret_cast<const std::uint8_t*>(data), sizeof data);
    }

    TempDir m_dir;
    FileRegistry::Paths m_paths;
    std::string m_ini;
};

TEST_F(TwoCopies, SavingInTurnLosesNothingAndCorruptsNothing) {
    // Both copies start at once, released by a pipe, so that their saves interleave.
    int gate[2];
    ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
    const auto copy = [&](int index) {
        return [&, index](Findings& findings, int) {
            ::close(gate[1]);
            char go = 0;
            if (::read(gate[0], &go, 1) < 0)
                return 1;
            Copy program(m_paths, m_ini);
            std::array<int, 6> otherSeen{};
            otherSeen.fill(-1);
            for (int round = 0; round < kRounds; ++round) {
                const int number = index * kSpan + round;
                program.Save(index, number);
                const Snapshot now = program.Load();
                const auto numbers = now.Numbers();
                for (std::size_t i = 0; i < numbers.size(); ++i) {
                    const int value = numbers[i];
                    const int writer = value / kSpan;
                    if (value < 0 || writer > 1) {
                        findings.Check(false, "value " + std::to_string(i) +
                                                  " unreadable: " + std::to_string(value));
                    } else if (writer == index) {
                        // Our own value can only be the one just written: an older one would
                        // mean the other copy wrote back a stale file.
                        findings.Check(value == number, "value " + std::to_string(i) +
                                                            " went back to our older " +
                                                            std::to_string(value));
                    } else {
                        findings.Check(value >= otherSeen[i],
                                       "value " + std::to_string(i) +
                                           " went back to the other's older " +
                                           std::to_string(value));
                        otherSeen[i] = value;
                    }
                }
                findings.Check(now.appName == "Emule" || now.appName == "Shareaza",
                               "client name unreadable: " + now.appName);
            }
            return 0;
        };
    };
    RunningChild children[2] = {StartChild(copy(0)), StartChild(copy(1))};
    ::close(gate[0]);
    ::close(gate[1]); // end of file at the gate releases both at once
    const ChildResult results[2] = {FinishChild(children[0]), FinishChild(children[1])};
    for (const auto& result : results) {
        EXPECT_TRUE(result.exited && result.exitCode == 0)
            << "exit " << result.exitCode << " signal " << result.signal;
        EXPECT_EQ(result.findings, "");
    }

    // Each value ends as the last one of one copy.
    Copy reader(m_paths, m_ini);
    const Snapshot last = reader.Load();
    for (int value : last.Numbers())
        EXPECT_TRUE(value == kRounds - 1 || value == kSpan + kRounds - 1) << value;

    // The files are whole, and what belongs to others is still there.
    linux_impl::RegHive hive;
    EXPECT_FALSE(linux_impl::ParseRegistryText(ReadFile(m_paths.store), hive,
                                               linux_impl::RegParseMode::Strict));
    FileRegistry registry(m_paths);
    auto key = registry.OpenKey(RegRoot::CurrentUser, "Software\\Someone Else", false);
    ASSERT_NE(key, nullptr);
    char buffer[32] = {};
    std::uint32_t size = sizeof buffer;
    ASSERT_EQ(key->QueryValue("Value", nullptr, reinterpret_cast<std::uint8_t*>(buffer), &size),
              reg::kSuccess);
    EXPECT_STREQ(buffer, "keep me");
    const std::string ini = ReadFile(m_ini);
    EXPECT_EQ(ini.rfind("; kept by hand\r\n[other]\r\nmine=1\r\n", 0), 0U) << ini;
    // One section each, one line each: no duplicate written by a stale copy.
    for (const char* line : {"[list]", "[log]", "srcaddr=", "logfile="}) {
        const auto first = ini.find(line);
        EXPECT_NE(first, std::string::npos) << line;
        EXPECT_EQ(ini.find(line, first + 1), std::string::npos) << line;
    }
    // Nothing left beside the files but their locks.
    EXPECT_EQ(Entries(m_dir.File("config/flowbright")),
              (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_EQ(Entries(m_dir.File("bin")),
              (std::set<std::string>{"flowbright.ini", "flowbright.ini.lock"}));
}

} // namespace
