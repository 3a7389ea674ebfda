// SPDX-License-Identifier: GPL-3.0-or-later
// The Run P2P group against the real file system and the real launcher: a throwaway Wine
// prefix, and a `wine` on a temporary PATH that only records how it was called.
#include "p2p/RunGroup.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/shell/Shell.h"
#include "platform/linux/shell/WineFileSystem.h"
#include "platform/linux/shell/WinePaths.h"

#include "fakes/FakeMessageBox.h"
#include "fakes/FakeRegistry.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace fb;
using fb::RegRoot;
using ::testing::ElementsAre;
namespace fs = std::filesystem;
namespace li = fb::linux_impl;
using namespace fb::testing_support;

namespace {

class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const fs::path& to)
        : m_old(fs::current_path()) {
        fs::current_path(to);
    }
    ~CurrentDirGuard() {
        std::error_code ignored;
        fs::current_path(m_old, ignored);
    }

private:
    fs::path m_old;
};

class View : public IRunGroupView {
public:
    std::vector<std::string> rows;
    int current = -1;
    bool runEnabled = true;
    bool accelerateEnabled = true;
    int AddRow(const std::string& text) override {
        rows.push_back(text);
        return static_cast<int>(rows.size()) - 1;
    }
    void DeleteRow(int row) override { rows.erase(rows.begin() + row); }
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string RowText(int row) const override { return rows.at(static_cast<std::size_t>(row)); }
    void SelectRow(int row) override { current = row; }
    int CurrentRow() const override { return current; }
    void EnableRunButton(bool enable) override { runEnabled = enable; }
    void EnableAccelerateButton(bool enable) override { accelerateEnabled = enable; }
    void EnableAcceleration(bool) override {}
    void TransferTexts() override {}
};

class P2PLaunch : public ::testing::Test {
protected:
    P2PLaunch()
        : m_path("PATH", (m_dir.Path() / "bin").string()) {}

    static fs::path MakeDirs(const fs::path& path) {
        fs::create_directories(path);
        return path;
    }

    void SetUp() override {
        fs::create_directories(Prefix() / "dosdevices");
        fs::create_directory_symlink("../drive_c", Prefix() / "dosdevices" / "c:");
        Install("Program Files/eMule/eMule.exe");
        // Records its arguments, then its WINEPREFIX, each call into a file of its own.
        WriteScript("wine");
        WriteScript("UpdateApp.exe");
    }

    fs::path Prefix() const { return m_dir.Path() / "prefix"; }
    fs::path Records() const { return m_dir.Path() / "records"; }

    void Install(const std::string& relative) { WriteFile(Prefix() / "drive_c" / relative, "MZ"); }

    void WriteScript(const std::string& name) {
        const fs::path script = m_dir.Path() / "bin" / name;
        const std::string out = (Records() / name).string();
        fs::create_directories(Records());
        WriteFile(script,
                  "#!/bin/sh\n"
                  "PATH=/usr/bin:/bin\n"
                  "printf '%s\\0' \"$@\" > '" +
                      out + ".args'\n" + "printf '%s' \"${WINEPREFIX-unset}\" > '" + out +
                      ".env'\n" + "mv '" + out + ".args' '" + out + ".done'\n",
                  fs::perms::owner_all);
    }

    // Waits (bounded) for the recording of one call of `name`.
    std::optional<std::vector<std::string>> Recorded(const std::string& name) {
        const fs::path done = Records() / (name + ".done");
        for (int i = 0; i < 1000 && !fs::exists(done); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fs::exists(done))
            return std::nullopt;
        auto args = ReadNulSeparated(done);
        fs::remove(done);
        return args;
    }

    // Everything a stray command could have created.
    std::vector<std::string> StrayFiles() const {
        std::vector<std::string> stray;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path())) {
            const auto name = entry.path().filename().string();
            if (name == "x" || name == "y" || name == "pwned")
                stray.push_back(entry.path().string());
        }
        return stray;
    }

    TempDir m_dir{"p2p"};
    EnvGuard m_path;
    CurrentDirGuard m_cwd{MakeDirs(m_dir.Path() / "cwd")};
    fb::fakes::FakeRegistry registry;
    fb::fakes::FakeMessageBox messages;
    li::FileSystem files{li::WinePaths(Prefix().string())};
    li::Shell shell{li::WinePaths(Prefix().string())};
    View view;
    CRunGroup group{registry, files, shell, messages, view};
};

} // namespace

TEST_F(P2PLaunch, StoredClientFoundInThePrefixIsStartedWithWine) {
    registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                       "C:\\Program Files\\eMule");
    group.FillClientCombo();
    ASSERT_THAT(view.rows, ElementsAre("Select application to run", "Emule"));
    view.current = 1;
    group.OnClientSelChange();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(view.runEnabled);
    EXPECT_EQ(registry.GetString(RegRoot::CurrentUser, "SOFTWARE\\Flowbright", "APP_PATH"),
              "C:\\Program Files\\eMule\\eMule.exe");

    group.OnRunClient();
    const auto args = Recorded("wine");
    ASSERT_TRUE(args);
    EXPECT_THAT(*args, ElementsAre("C:\\Program Files\\eMule\\eMule.exe"));
    EXPECT_EQ(ReadFile(Records() / "wine.env"), Prefix().string());
}

TEST_F(P2PLaunch, PathWithShellCharactersIsOneArgumentAndNothingElseRuns) {
    const std::string folder = "P2P's; $(touch x) `touch y` & touch pwned";
    Install("Program Files/" + folder + "/eMule.exe");
    const std::string path = "C:\\Program Files\\" + folder + "\\eMule.exe";
    registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                       "C:\\Program Files\\" + folder);
    group.FillClientCombo();
    view.current = 1;
    group.OnClientSelChange();
    ASSERT_TRUE(messages.shown.empty());

    group.OnRunClient();
    const auto args = Recorded("wine");
    ASSERT_TRUE(args);
    EXPECT_THAT(*args, ElementsAre(path));
    EXPECT_THAT(StrayFiles(), ::testing::IsEmpty());
}

TEST_F(P2PLaunch, ClientWhoseExecutableIsGoneIsRemovedAndNothingStarts) {
    registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                       "C:\\Program Files\\eMule");
    registry.SetString(RegRoot::CurrentUser, "Software\\Kazaa\\Settings", "SearchDir",
                       "C:\\Program Files\\Kazaa\\My Shared Folder");
    group.FillClientCombo();
    ASSERT_THAT(view.rows, ElementsAre("Select application to run", "Emule", "Kazaa"));
    view.current = 2;
    group.OnClientSelChange();
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(messages.shown[0].text, "Kazaa NOT FOUND. Kazaa will be removed from list.");
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Emule"));
    EXPECT_FALSE(view.runEnabled);

    group.OnRunClient(); // the choice was cleared
    EXPECT_FALSE(fs::exists(Records() / "wine.done"));
}

TEST_F(P2PLaunch, BareNameIsCheckedWhereItIsStartedFrom) {
    const char* const key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\eDonkey2000";
    registry.SetString(RegRoot::LocalMachine, key, "DisplayIcon", "\"fbclient\"");
    // A file of that name in the current directory is not what Run would start.
    WriteFile(m_dir.Path() / "cwd" / "fbclient", "#!/bin/sh\ntouch pwned\n", fs::perms::owner_all);
    group.FillClientCombo();
    ASSERT_THAT(view.rows, ElementsAre("Select application to run", "Edonkey"));
    view.current = 1;
    group.OnClientSelChange();
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(registry.GetString(RegRoot::CurrentUser, "SOFTWARE\\Flowbright", "APP_PATH"), "");

    // The same name on PATH is found there, and that is the file that runs.
    WriteScript("fbclient");
    View secondView;
    CRunGroup second{registry, files, shell, messages, secondView};
    second.FillClientCombo();
    secondView.current = 1;
    second.OnClientSelChange();
    EXPECT_EQ(messages.shown.size(), 1U);
    second.OnRunClient();
    EXPECT_TRUE(Recorded("fbclient"));
    EXPECT_THAT(StrayFiles(), ::testing::IsEmpty());
}

// Any Windows program under Wine can write the prefix's hives: what they name is a Windows
// program, found through the prefix's drives and started with Wine, or nothing at all.
TEST_F(P2PLaunch, HiveValuesThatAreNoWindowsPathsStartNothing) {
    WriteScript("native-client");
    const std::string native = (m_dir.Path() / "bin" / "native-client").string();
    const auto hive = [&](const char* name, const std::string& body) {
        WriteFile(Prefix() / name, "WINE REGISTRY Version 2\n\n#arch=win32\n\n" + body);
    };
    hive("system.reg",
         "[SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Warez] 1700000000\n"
         "\"DisplayIcon\"=\"" +
             native +
             "\"\n\n"
             "[SOFTWARE\\\\DC++] 1700000000\n\"Install_Dir\"=\"C:\\\\Program Files\\\\eMule\"\n");
    hive("user.reg", "[Software\\\\Flowbright] 1700000000\n\"APP_NAME\"=\"DC++\"\n"
                     "\"APP_PATH\"=\"" +
                         native + "\"\n");
    li::FileRegistry wine({(m_dir.Path() / "config" / "registry.reg").string(),
                           (m_dir.Path() / "config" / "registry.reg.lock").string(),
                           Prefix().string(), (m_dir.Path() / "config" / "autostart").string()});
    CRunGroup fromPrefix{wine, files, shell, messages, view};
    fromPrefix.FillClientCombo();
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "DC++"));
    EXPECT_EQ(view.current, 1);
    EXPECT_EQ(messages.shown.size(), 0U) << (messages.shown.empty() ? "" : messages.shown[0].text);
    fromPrefix.OnRunClient();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_FALSE(fs::exists(Records() / "native-client.done"));
    EXPECT_FALSE(fs::exists(Records() / "wine.done"));
}

TEST_F(P2PLaunch, StoredPathWhoseFileHasGoneFailsSilently) {
    registry.SetString(RegRoot::CurrentUser, "SOFTWARE\\Flowbright", "APP_PATH",
                       "C:\\Program Files\\Gone\\gone.exe");
    group.OnRunClient();
    EXPECT_EQ(shell.Execute("", "C:\\Program Files\\Gone\\gone.exe", "", "", fb::kSwShow),
              li::Shell::kFileNotFound);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_FALSE(fs::exists(Records() / "wine.done"));
}

TEST_F(P2PLaunch, UpdaterIsFoundOnPathUnderItsOwnName) {
    EXPECT_GT(shell.Execute("open", "UpdateApp.exe",
                            "\"Flowbright\" \"6\" \"4.3.0\" \"flowbright.example\" \"false\" ", "",
                            fb::kSwShowNormal),
              32);
    const auto args = Recorded("UpdateApp.exe");
    ASSERT_TRUE(args);
    EXPECT_THAT(*args, ElementsAre("Flowbright", "6", "4.3.0", "flowbright.example", "false"));
}
