// SPDX-License-Identifier: GPL-3.0-or-later
#include "p2p/RunGroup.h"

#include "fakes/FakeFileSystem.h"
#include "fakes/FakeMessageBox.h"
#include "fakes/FakeRegistry.h"
#include "fakes/FakeShell.h"
#include "res/Product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fb;
using fb::RegRoot;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kOptionKey(product::kOptionKey);
const std::string kEmulePath = "C:\\Program Files\\eMule\\eMule.exe";
const std::string kKazaaPath = "C:\\Program Files\\Kazaa\\Kazaa.exe";
const std::string kAzureusPath = "C:\\Program Files\\Azureus\\Azureus.exe";
const std::string kWinMxPath = "C:\\Program Files\\WinMX\\WinMX.exe";

// The main window as far as the group sees it, logging every call in one shared journal.
class FakeView : public IRunGroupView {
public:
    explicit FakeView(std::vector<std::string>& log)
        : m_log(log) {}

    std::vector<std::string> rows;
    int current = -1;
    bool runEnabled = true; // both buttons start enabled, as the dialog template makes them
    bool accelerateEnabled = true;

    int AddRow(const std::string& text) override {
        m_log.push_back("add " + text);
        rows.push_back(text);
        return static_cast<int>(rows.size()) - 1;
    }
    void DeleteRow(int row) override {
        m_log.push_back("delete " + std::to_string(row));
        ASSERT_GE(row, 0);
        ASSERT_LT(row, RowCount());
        rows.erase(rows.begin() + row);
        if (current == row)
            current = -1;
        else if (current > row)
            --current;
    }
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string RowText(int row) const override { return rows.at(static_cast<std::size_t>(row)); }
    void SelectRow(int row) override {
        m_log.push_back("select " + std::to_string(row));
        current = row;
    }
    int CurrentRow() const override { return current; }
    void EnableRunButton(bool enable) override {
        m_log.push_back(std::string("run ") + (enable ? "on" : "off"));
        runEnabled = enable;
    }
    void EnableAccelerateButton(bool enable) override {
        m_log.push_back(std::string("accelerate ") + (enable ? "on" : "off"));
        accelerateEnabled = enable;
    }
    void EnableAcceleration(bool resume) override {
        m_log.push_back(std::string("timers ") + (resume ? "resume" : "suspend"));
    }
    void TransferTexts() override { m_log.push_back("transfer"); }

private:
    std::vector<std::string>& m_log;
};

// Writes to the registry land in the same journal, so their order against the view's calls
// can be checked.
class JournalRegistry : public fb::IRegistry {
public:
    JournalRegistry(fb::IRegistry& inner, std::vector<std::string>& log)
        : m_inner(inner)
        , m_log(log) {}
    std::unique_ptr<fb::IRegKey> OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                         long* error) override {
        auto key = m_inner.OpenKey(root, path, forWrite, error);
        return key ? std::make_unique<Key>(std::move(key), m_log) : nullptr;
    }
    std::unique_ptr<fb::IRegKey> CreateKey(RegRoot root, const std::string& path,
                                           long* error) override {
        auto key = m_inner.CreateKey(root, path, error);
        return key ? std::make_unique<Key>(std::move(key), m_log) : nullptr;
    }

private:
    class Key : public fb::IRegKey {
    public:
        Key(std::unique_ptr<fb::IRegKey> inner, std::vector<std::string>& log)
            : m_inner(std::move(inner))
            , m_log(log) {}
        long QueryValue(const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
            return m_inner->QueryValue(name, type, data, size);
        }
        long SetValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
            std::string text(reinterpret_cast<const char*>(data), size);
            m_log.push_back("write " + name + "=" + text.substr(0, text.find('\0')));
            return m_inner->SetValue(name, type, data, size);
        }
        // One entry for one write, however many values it carries.
        long SetValues(const std::vector<fb::RegValueWrite>& values) override {
            std::string entry = "write";
            for (const auto& value : values) {
                std::string text(value.data.begin(), value.data.end());
                entry += " " + value.name + "=" + text.substr(0, text.find('\0'));
            }
            m_log.push_back(entry);
            return m_inner->SetValues(values);
        }
        long DeleteValue(const std::string& name) override { return m_inner->DeleteValue(name); }

    private:
        std::unique_ptr<fb::IRegKey> m_inner;
        std::vector<std::string>& m_log;
    };
    fb::IRegistry& m_inner;
    std::vector<std::string>& m_log;
};

class RunGroupTest : public ::testing::Test {
protected:
    RunGroupTest() {
        messages.onShow = [this] { log.push_back("message"); };
    }

    void InstallEmule() {
        registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                           "C:\\Program Files\\eMule");
    }
    void InstallKazaa() {
        registry.SetString(RegRoot::CurrentUser, "Software\\Kazaa\\Settings", "SearchDir",
                           "C:\\Program Files\\Kazaa\\My Shared Folder");
    }
    void InstallAzureus() {
        registry.SetString(RegRoot::CurrentUser, "Software\\Azureus", "",
                           "C:\\Program Files\\Azureus");
    }
    void InstallWinMx() {
        registry.SetString(RegRoot::LocalMachine,
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinMX",
                           "UninstallString", "C:\\Program Files\\WinMX\\uninstall.exe");
    }
    void StoreChoice(const std::string& name, const std::string& path) {
        registry.SetString(RegRoot::CurrentUser, kOptionKey, "APP_NAME", name);
        registry.SetString(RegRoot::CurrentUser, kOptionKey, "APP_PATH", path);
    }
    std::string Stored(const std::string& value) const {
        return registry.GetString(RegRoot::CurrentUser, kOptionKey, value);
    }
    // Fills the group and forgets what the fill logged.
    void FillQuietly() {
        group.FillClientCombo();
        log.clear();
    }
    void Pick(int row) {
        view.current = row;
        group.OnClientSelChange();
    }
    // A fill that finds what it expects tells the user nothing, writes nothing and looks for no
    // file on disk.
    void ExpectQuietFill() {
        EXPECT_THAT(messages.shown, IsEmpty());
        EXPECT_EQ(registry.writes, 0);
        EXPECT_THAT(files.asked, IsEmpty());
    }

    std::vector<std::string> log;
    fb::fakes::FakeRegistry registry;
    JournalRegistry journal{registry, log};
    fb::fakes::FakeFileSystem files;
    fb::fakes::FakeShell shell;
    fb::fakes::FakeMessageBox messages;
    FakeView view{log};
    CRunGroup group{journal, files, shell, messages, view};
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Start-up fill

TEST_F(RunGroupTest, NoClientAndNoChoiceShowsTheNoneDetectedPromptLocked) {
    group.FillClientCombo();
    EXPECT_THAT(log,
                ElementsAre("add Select application to run", "run off", "accelerate off",
                            "timers suspend", "delete 0",
                            "add No P2P Application has been detected", "select 0", "transfer"));
    EXPECT_THAT(view.rows, ElementsAre("No P2P Application has been detected"));
    EXPECT_THAT(group.m_clientPaths, IsEmpty());
    EXPECT_EQ(group.m_clientRow, 0);
    ExpectQuietFill();
}

TEST_F(RunGroupTest, ClientsWithoutChoiceAreListedInCatalogueOrderAndTheGroupLocks) {
    InstallKazaa();
    InstallEmule();
    InstallAzureus();
    group.FillClientCombo();
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Azureus", "Emule", "Kazaa"));
    EXPECT_THAT(group.m_clientPaths, ElementsAre(kAzureusPath, kEmulePath, kKazaaPath));
    EXPECT_EQ(view.current, 0);
    EXPECT_FALSE(view.runEnabled);
    EXPECT_FALSE(view.accelerateEnabled);
    EXPECT_THAT(log, ::testing::Contains("timers suspend"));
    ExpectQuietFill();
}

TEST_F(RunGroupTest, StoredClientStillDetectedIsSelectedWithoutAnyCheck) {
    InstallAzureus();
    InstallEmule();
    StoreChoice("Emule", "D:\\elsewhere\\eMule.exe");
    group.FillClientCombo();
    EXPECT_EQ(group.m_clientRow, 2);
    EXPECT_THAT(log, ElementsAre("add Select application to run", "add Azureus", "add Emule",
                                 "select 2", "transfer"));
    EXPECT_TRUE(view.runEnabled);
    EXPECT_TRUE(view.accelerateEnabled);
    ExpectQuietFill();
    EXPECT_EQ(Stored("APP_PATH"), "D:\\elsewhere\\eMule.exe");

    group.OnRunClient(); // the stored path, not the one just detected
    ASSERT_EQ(shell.calls.size(), 1U);
    EXPECT_EQ(shell.calls[0].file, "D:\\elsewhere\\eMule.exe");
}

TEST_F(RunGroupTest, StoredNameInOtherLetterCaseFindsItsRow) {
    InstallEmule();
    InstallKazaa();
    StoreChoice("kAZAA", kKazaaPath);
    group.FillClientCombo();
    EXPECT_EQ(group.m_clientRow, 2);
    EXPECT_EQ(view.current, 2);
    ExpectQuietFill();
}

TEST_F(RunGroupTest, FirstClientRowIsFoundAfterTheSearchWraps) {
    InstallEmule();
    InstallKazaa();
    StoreChoice("Emule", kEmulePath);
    group.FillClientCombo();
    EXPECT_EQ(view.current, 1);
}

TEST_F(RunGroupTest, OnlyTheWholeRowTextMatches) {
    InstallEmule();
    StoreChoice("Emul", kEmulePath);
    group.FillClientCombo();
    EXPECT_EQ(view.current, 0);
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(messages.shown[0].text, "Emul NOT FOUND. Emul will be removed from list.");
}

TEST_F(RunGroupTest, UninstalledStoredClientIsReportedOnceAfterLockingAndCleared) {
    InstallEmule();
    StoreChoice("Kazaa", kKazaaPath);
    group.FillClientCombo();
    EXPECT_THAT(log, ElementsAre("add Select application to run", "add Emule", "run off",
                                 "accelerate off", "timers suspend", "message",
                                 "write APP_NAME= APP_PATH=", "select 0", "transfer"));
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(messages.shown[0].text, "Kazaa NOT FOUND. Kazaa will be removed from list.");
    EXPECT_EQ(messages.shown[0].caption, "Flowbright");
    EXPECT_EQ(messages.shown[0].type, fb::kMbIconError | fb::kMbOk);
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Emule"));
    // Cleared to empty strings, not deleted.
    ASSERT_NE(registry.Find(RegRoot::CurrentUser, kOptionKey, "APP_NAME"), nullptr);
    EXPECT_EQ(Stored("APP_NAME"), "");
    EXPECT_EQ(Stored("APP_PATH"), "");
}

TEST_F(RunGroupTest, UninstalledStoredClientWithNothingLeftShowsTheNoneDetectedPrompt) {
    StoreChoice("Emule", kEmulePath);
    group.FillClientCombo();
    EXPECT_THAT(view.rows, ElementsAre("No P2P Application has been detected"));
    EXPECT_EQ(view.current, 0);
    EXPECT_EQ(messages.shown.size(), 1U);
}

TEST_F(RunGroupTest, StoredNameEqualToAPromptIsNoClient) {
    for (const std::string prompt : {"select application to run", "Select application to run"}) {
        log.clear();
        fb::fakes::FakeRegistry fresh;
        fresh.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path", "C:\\e");
        fresh.SetString(RegRoot::CurrentUser, kOptionKey, "APP_NAME", prompt);
        FakeView freshView(log);
        CRunGroup freshGroup(fresh, files, shell, messages, freshView);
        messages.shown.clear();
        freshGroup.FillClientCombo();
        EXPECT_EQ(freshView.current, 0) << prompt;
        EXPECT_FALSE(freshView.runEnabled) << prompt;
        EXPECT_FALSE(freshView.accelerateEnabled) << prompt;
        EXPECT_EQ(messages.shown.size(), 1U) << prompt;
        EXPECT_EQ(fresh.GetString(RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "") << prompt;
    }
}

// ---------------------------------------------------------------------------------------------
// Picking a row

TEST_F(RunGroupTest, PickingAnExistingClientStoresItAndUnlocksInOrder) {
    InstallEmule();
    InstallKazaa();
    FillQuietly();
    files.existing.insert(kKazaaPath);
    Pick(2);
    EXPECT_THAT(files.asked, ElementsAre(kKazaaPath));
    EXPECT_THAT(log, ElementsAre("write APP_NAME=Kazaa APP_PATH=" + kKazaaPath, "run on",
                                 "accelerate on", "timers resume"));
    EXPECT_EQ(Stored("APP_NAME"), "Kazaa");
    EXPECT_EQ(Stored("APP_PATH"), kKazaaPath);
    EXPECT_THAT(messages.shown, IsEmpty());
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Emule", "Kazaa"));
}

TEST_F(RunGroupTest, PickingADeletedClientReportsThenLocksAndRemovesItsRowAndPath) {
    InstallAzureus();
    InstallEmule();
    InstallKazaa();
    InstallWinMx();
    FillQuietly();
    files.existing = {kAzureusPath, kKazaaPath, kWinMxPath};
    Pick(2); // Emule
    EXPECT_THAT(log, ElementsAre("message", "run off", "accelerate off", "timers suspend",
                                 "write APP_NAME= APP_PATH=", "delete 2", "select 0"));
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_EQ(messages.shown[0].text, "Emule NOT FOUND. Emule will be removed from list.");
    EXPECT_EQ(messages.shown[0].type, fb::kMbIconError | fb::kMbOk);
    EXPECT_EQ(messages.shown[0].caption, "Flowbright");
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Azureus", "Kazaa", "WinMx"));
    EXPECT_THAT(group.m_clientPaths, ElementsAre(kAzureusPath, kKazaaPath, kWinMxPath));

    // The rows that moved up still go with their own paths.
    log.clear();
    Pick(3);
    EXPECT_THAT(log, ::testing::Contains("write APP_NAME=WinMx APP_PATH=" + kWinMxPath));
    EXPECT_EQ(Stored("APP_NAME"), "WinMx");
}

TEST_F(RunGroupTest, RemovingTheLastClientLeavesTheNoneDetectedPrompt) {
    InstallEmule();
    FillQuietly();
    Pick(1);
    EXPECT_THAT(log, ElementsAre("message", "run off", "accelerate off", "timers suspend",
                                 "write APP_NAME= APP_PATH=", "delete 1", "delete 0",
                                 "add No P2P Application has been detected", "select 0"));
    EXPECT_THAT(view.rows, ElementsAre("No P2P Application has been detected"));
    EXPECT_THAT(group.m_clientPaths, IsEmpty());
}

TEST_F(RunGroupTest, PickingThePromptAfterAValidChoiceLocksThenClears) {
    InstallEmule();
    FillQuietly();
    files.existing.insert(kEmulePath);
    Pick(1);
    log.clear();
    Pick(0);
    EXPECT_THAT(log, ElementsAre("run off", "accelerate off", "timers suspend",
                                 "write APP_NAME= APP_PATH="));
    EXPECT_EQ(Stored("APP_NAME"), "");
    EXPECT_EQ(Stored("APP_PATH"), "");
    ASSERT_NE(registry.Find(RegRoot::CurrentUser, kOptionKey, "APP_PATH"), nullptr);
    EXPECT_THAT(view.rows, ElementsAre("Select application to run", "Emule"));
}

TEST_F(RunGroupTest, NoRowPickedChangesNothing) {
    InstallEmule();
    StoreChoice("Emule", kEmulePath);
    FillQuietly();
    const int writes = registry.writes;
    Pick(-1);
    Pick(5);
    EXPECT_THAT(log, IsEmpty());
    EXPECT_EQ(registry.writes, writes);
    EXPECT_THAT(files.asked, IsEmpty());
}

TEST_F(RunGroupTest, FailedWritesOnPickAreSilent) {
    InstallEmule();
    FillQuietly();
    files.existing.insert(kEmulePath);
    registry.failCreate = true;
    Pick(1);
    EXPECT_THAT(messages.shown, IsEmpty());
    EXPECT_TRUE(view.runEnabled);
    EXPECT_EQ(Stored("APP_NAME"), "");
}

// ---------------------------------------------------------------------------------------------
// Run

TEST_F(RunGroupTest, RunStartsTheStoredPathAtTheMomentOfTheClick) {
    InstallEmule();
    InstallKazaa();
    FillQuietly();
    files.existing = {kEmulePath, kKazaaPath};
    Pick(1);
    registry.SetString(RegRoot::CurrentUser, kOptionKey, "APP_PATH", "C:\\changed\\x.exe");
    group.OnRunClient();
    ASSERT_EQ(shell.calls.size(), 1U);
    EXPECT_EQ(shell.calls[0].verb, "");
    EXPECT_EQ(shell.calls[0].file, "C:\\changed\\x.exe");
    EXPECT_EQ(shell.calls[0].parameters, "");
    EXPECT_EQ(shell.calls[0].directory, "");
    EXPECT_EQ(shell.calls[0].show, fb::kSwShow);
}

TEST_F(RunGroupTest, RunWithoutStoredPathDoesNothing) {
    group.OnRunClient();
    StoreChoice("Emule", "");
    group.OnRunClient();
    EXPECT_THAT(shell.calls, IsEmpty());
}

TEST_F(RunGroupTest, FailedStartIsSilentAndChangesNothing) {
    StoreChoice("Emule", kEmulePath);
    shell.result = 2;
    group.OnRunClient();
    EXPECT_EQ(shell.calls.size(), 1U);
    EXPECT_THAT(messages.shown, IsEmpty());
    EXPECT_THAT(log, IsEmpty());
    EXPECT_EQ(Stored("APP_PATH"), kEmulePath);
}

TEST(RunGroupText, NotFoundTextTakesTheNameLiterally) {
    EXPECT_EQ(CRunGroup::NotFoundText("%s%n"), "%s%n NOT FOUND. %s%n will be removed from list.");
}
