// SPDX-License-Identifier: GPL-3.0-or-later
#include "p2p/FindP2PDlg.h"
#include "platform/linux/registry/Registry.h"

#include "fakes/FakeRegistry.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace fb;
using fb::RegRoot;
using fb::fakes::FakeRegistry;
using fb::testing_support::TempDir;
using ::testing::ElementsAre;

namespace {

constexpr RegRoot HKLM = RegRoot::LocalMachine;
constexpr RegRoot HKCU = RegRoot::CurrentUser;
const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kOptionKey = "SOFTWARE\\Flowbright";

using Found = std::vector<std::pair<std::string, std::string>>; // client, path

// Runs every probe, each on an object of its own, and lists the clients found with their paths.
// A probe fills its own path slot only.
Found FindAll(fb::IRegistry& registry) {
    Found found;
    for (const auto& client : CFindP2PDlg::Clients()) {
        CFindP2PDlg find(registry);
        if ((find.*client.probe)() == 1)
            found.emplace_back(client.displayName, find.*client.path);
        for (const auto& other : CFindP2PDlg::Clients()) {
            if (other.path != client.path) {
                EXPECT_EQ(find.*other.path, "")
                    << client.displayName << " set " << other.displayName;
            }
        }
    }
    return found;
}

// The path one client's probe finds; nothing when it reports the client absent.
std::optional<std::string> PathOf(fb::IRegistry& registry, const std::string& name) {
    for (const auto& client : CFindP2PDlg::Clients()) {
        if (name != client.displayName)
            continue;
        CFindP2PDlg find(registry);
        if ((find.*client.probe)() != 1)
            return std::nullopt;
        return find.*client.path;
    }
    ADD_FAILURE() << "no client " << name;
    return std::nullopt;
}

// The registry of a machine whose Wine prefix holds the hives of a data folder.
class PrefixMachine {
public:
    explicit PrefixMachine(const std::string& folder)
        : m_registry({(m_store.Path() / "registry.reg").string(),
                      (m_store.Path() / "registry.reg.lock").string(),
                      std::string(FB_P2P_DATA_DIR) + "/" + folder,
                      (m_store.Path() / "autostart").string()}) {}
    fb::IRegistry& Registry() { return m_registry; }

private:
    TempDir m_store{"p2p-catalogue"};
    fb::linux_impl::FileRegistry m_registry;
};

// ---------------------------------------------------------------------------------------------
// Whole machines

TEST(P2PCatalogue, EighteenClientsInListOrder) {
    std::vector<std::string> names;
    for (const auto& client : CFindP2PDlg::Clients())
        names.push_back(client.displayName);
    EXPECT_THAT(names,
                ElementsAre("AresGalaxy", "Azureus", "BearFlix", "BearShare", "BitComet",
                            "BitTorrent", "DC++", "Emule", "Edonkey", "FrostWire", "Imesh", "Kazaa",
                            "LimeWire", "Morpheus", "Shareaza", "uTorrent", "Warez", "WinMx"));
}

TEST(P2PCatalogue, EmptyMachineFindsNothing) {
    FakeRegistry registry;
    EXPECT_THAT(FindAll(registry), ::testing::IsEmpty());
}

TEST(P2PCatalogue, EveryClientInstalledUnderWineIsFoundWithItsProgram) {
    PrefixMachine machine("machine");
    using P = std::pair<std::string, std::string>;
    EXPECT_THAT(
        FindAll(machine.Registry()),
        ElementsAre(P{"AresGalaxy", "C:\\Program Files\\Ares\\Ares.exe"},
                    P{"Azureus", "C:\\Program Files\\Azureus\\Azureus.exe"},
                    P{"BearFlix", "C:\\Program Files\\BearFlix\\BearFlix.exe"},
                    P{"BearShare", "C:\\Program Files\\BearShare\\BearShare.exe"},
                    P{"BitComet", "C:\\Program Files\\BitComet\\BitComet.exe"},
                    P{"BitTorrent", "C:\\Program Files\\BitTorrent\\bittorrent.exe"},
                    P{"DC++", "C:\\Program Files\\DC++\\DCPlusPlus.exe"},
                    P{"Emule", "C:\\Program Files\\eMule\\eMule.exe"},
                    P{"Edonkey", "C:\\Program Files\\eDonkey2000\\eDonkey2000.exe"},
                    P{"FrostWire", "C:\\Program Files\\FrostWire\\FrostWire.exe"},
                    P{"Imesh", "C:\\Program Files\\iMesh Applications\\iMesh\\iMesh.exe"},
                    P{"Kazaa", "C:\\Program Files\\Kazaa\\Kazaa.exe"},
                    P{"LimeWire", "C:\\Program Files\\LimeWire\\LimeWire.exe"},
                    P{"Morpheus", "C:\\Program Files\\Morpheus\\morpheus.exe"},
                    P{"Shareaza", "C:\\Program Files\\Shareaza\\Shareaza.exe"},
                    P{"uTorrent", "C:\\Users\\user\\AppData\\Roaming\\uTorrent\\uTorrent.exe"},
                    P{"Warez", "C:\\Program Files\\Warez P2P Client\\warez.exe"},
                    P{"WinMx", "C:\\Program Files\\WinMX\\WinMX.exe"}));
}

TEST(P2PCatalogue, KeysUnderTheOtherRootFindNothing) {
    PrefixMachine machine("decoys");
    EXPECT_THAT(FindAll(machine.Registry()), ::testing::IsEmpty());
}

TEST(P2PCatalogue, RegistryThatCannotOpenKeysFindsNothing) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\eMule", "Install Path", "C:\\e");
    registry.failOpen = true;
    EXPECT_THAT(FindAll(registry), ::testing::IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// What one client's entries give: trimming, alternatives, limits

struct Entry {
    RegRoot root;
    std::string key;
    std::string name;
    std::string text;
};
struct Case {
    const char* what;
    const char* client;
    std::vector<Entry> entries;
    std::optional<std::string> path; // nothing: the client is not found
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.client << ": " << c.what;
}

class P2PCatalogueCase : public ::testing::TestWithParam<Case> {};

TEST_P(P2PCatalogueCase, GivesItsPath) {
    const Case& c = GetParam();
    FakeRegistry registry;
    for (const Entry& entry : c.entries)
        registry.SetString(entry.root, entry.key, entry.name, entry.text);
    EXPECT_EQ(PathOf(registry, c.client), c.path);
}

const std::string k255 = "C:\\" + std::string(252, 'x');

INSTANTIATE_TEST_SUITE_P(
    Entries, P2PCatalogueCase,
    ::testing::Values(
        Case{"quoted uninstaller: its folder without the quote",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "\"C:\\P\\Ares\\uninstall.exe\""}},
             "C:\\P\\Ares\\Ares.exe"},
        Case{"unquoted uninstaller keeps its drive letter",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "C:\\P\\Ares\\uninstall.exe"}},
             "C:\\P\\Ares\\Ares.exe"},
        Case{"quote right before the cut leaves an empty folder",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "\"\\u.exe\""}},
             "\\Ares.exe"},
        Case{"classic entry alone: its icon unchanged",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\AG\\Ares.exe,0"}},
             "C:\\AG\\Ares.exe,0"},
        Case{"first alternative wins",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "\"C:\\A\\u.exe\""},
              {HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\B\\b.exe"}},
             "C:\\A\\Ares.exe"},
        Case{"too long a first value falls back to the second",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "C:\\" + std::string(300, 'x')},
              {HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\B\\b.exe"}},
             "C:\\B\\b.exe"},
        Case{"uninstaller without a backslash gives no folder",
             "AresGalaxy",
             {{HKLM, kUninstall + "Ares", "UninstallString", "uninstall.exe"}},
             std::nullopt},
        Case{"value of 255 bytes fits",
             "Emule",
             {{HKCU, "Software\\eMule", "Install Path", k255}},
             k255 + "\\eMule.exe"},
        Case{"value of 256 bytes does not",
             "Emule",
             {{HKCU, "Software\\eMule", "Install Path", k255 + "y"}},
             std::nullopt},
        Case{"key without the value",
             "Emule",
             {{HKCU, "Software\\eMule", "Install Path (other)", "C:\\e"}},
             std::nullopt},
        Case{"default value of the key",
             "Azureus",
             {{HKCU, "Software\\Azureus", "", "C:\\Az"}},
             "C:\\Az\\Azureus.exe"},
        Case{"search folder inside the installation",
             "Kazaa",
             {{HKCU, "Software\\Kazaa\\Settings", "SearchDir", "C:\\P\\Kazaa\\My Shared Folder"}},
             "C:\\P\\Kazaa\\Kazaa.exe"},
        Case{"search folder without a backslash",
             "Kazaa",
             {{HKCU, "Software\\Kazaa\\Settings", "SearchDir", "Shared"}},
             std::nullopt},
        Case{"machine entry wins over the user's",
             "BearShare",
             {{HKLM, "Software\\BearShare", "InstallDir", "C:\\Machine"},
              {HKCU, "Software\\BearShare\\General", "Home", "C:\\User"}},
             "C:\\Machine\\BearShare.exe"},
        Case{"machine key without its value falls back to the user's",
             "BearShare",
             {{HKLM, "Software\\BearShare", "Other", "C:\\Machine"},
              {HKCU, "Software\\BearShare\\General", "Home", "C:\\User"}},
             "C:\\User\\BearShare.exe"},
        Case{"second key alone",
             "Warez",
             {{HKLM, kUninstall + "Warez", "DisplayIcon", "C:\\Warez\\warez.exe"}},
             "C:\\Warez\\warez.exe"},
        Case{"first key wins over the second",
             "Warez",
             {{HKLM, kUninstall + "Warez P2P Client", "DisplayIcon", "C:\\One\\w.exe"},
              {HKLM, kUninstall + "Warez", "DisplayIcon", "C:\\Two\\w.exe"}},
             "C:\\One\\w.exe"},
        Case{"MP3 entry cuts its trailing backslash",
             "WinMx",
             {{HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation", "C:\\P\\WinMX MP3\\"}},
             "C:\\P\\WinMX MP3\\WinMX MP3.exe"},
        Case{"entries without a backslash fall through to the music entry",
             "WinMx",
             {{HKLM, kUninstall + "WinMX", "UninstallString", "uninstall.exe"},
              {HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation", "WinMX MP3"},
              {HKLM, "SOFTWARE\\WinMX Music", "InstallApp", "Music"}},
             "Music\\WinMX Music.exe"}));

// The eDonkey icon is the program itself: it loses a quote at each end and nothing else, and an
// icon that is empty or no more than quotes still counts as found.
TEST(P2PCatalogue, EdonkeyIconLosesOnlyTheQuotesAtItsEnds) {
    struct Icon {
        const char* value;
        const char* path;
    };
    const Icon icons[] = {
        {"\"C:\\eD\\eDonkey2000.exe\"", "C:\\eD\\eDonkey2000.exe"},
        {"\"C:\\eD\\e.exe\",0", "C:\\eD\\e.exe\",0"},
        {"", ""},
        {"\"", ""},
        {"\"\"", ""},
        {"x", "x"},
    };
    for (const Icon& icon : icons) {
        FakeRegistry registry;
        registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon", icon.value);
        EXPECT_EQ(PathOf(registry, "Edonkey"), icon.path) << icon.value;
    }
}

// Stores raw bytes with a given type, as another program might have written them.
void SetRaw(FakeRegistry& registry, RegRoot root, const std::string& key, const std::string& name,
            std::uint32_t type, const std::string& bytes) {
    registry.CreateKey(root, key, nullptr)
        ->SetValue(name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                   static_cast<std::uint32_t>(bytes.size()));
}

TEST(P2PCatalogueRead, TypeOfTheValueIsNotLookedAt) {
    FakeRegistry registry;
    SetRaw(registry, HKCU, "Software\\eMule", "Install Path", fb::reg::kExpandSz,
           std::string("C:\\eMule\0", 9));
    EXPECT_EQ(PathOf(registry, "Emule"), "C:\\eMule\\eMule.exe");
}

TEST(P2PCatalogueRead, Value256BytesWithoutTerminatorIsReadWhole) {
    FakeRegistry registry;
    const std::string text = "C:\\" + std::string(253, 'z');
    SetRaw(registry, HKCU, "Software\\eMule", "Install Path", fb::reg::kBinary, text);
    EXPECT_EQ(PathOf(registry, "Emule"), text + "\\eMule.exe");
}

TEST(P2PCatalogueRead, ValueWithoutTerminatingZeroTakesOnlyItsOwnBytes) {
    // The earlier alternative fills the buffer with a long text and is then rejected (no
    // backslash); the later one must not pick up its tail.
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "WinMX", "UninstallString", std::string(200, 'y'));
    SetRaw(registry, HKLM, "SOFTWARE\\WinMX Music", "InstallApp", fb::reg::kBinary, "C:\\M");
    EXPECT_EQ(PathOf(registry, "WinMx"), "C:\\M\\WinMX Music.exe");
}

TEST(P2PCatalogueRead, NotFoundLeavesTheSlotAndFoundReplacesItWhole) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.m_emulePath = std::string(500, 'q');
    EXPECT_EQ(find.FindEmule(), 0);
    EXPECT_EQ(find.m_emulePath, std::string(500, 'q'));
    registry.SetString(HKCU, "Software\\eMule", "Install Path", "C:\\e");
    EXPECT_EQ(find.FindEmule(), 1);
    EXPECT_EQ(find.m_emulePath, "C:\\e\\eMule.exe");
}

// ---------------------------------------------------------------------------------------------
// The stored choice

TEST(P2PStoredChoice, MissingKeyReadsEmptyAndAChoiceIsStoredAsTwoStrings) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    EXPECT_EQ(find.ReadAppName(), "");
    EXPECT_EQ(find.ReadAppPath(), "");
    EXPECT_FALSE(registry.HasKey(HKCU, kOptionKey));
    find.WriteChoice("Emule", "C:\\e\\eMule.exe");
    EXPECT_EQ(find.ReadAppName(), "Emule");
    EXPECT_EQ(find.ReadAppPath(), "C:\\e\\eMule.exe");
    const auto* name = registry.Find(HKCU, kOptionKey, "APP_NAME");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->type, fb::reg::kSz);
    EXPECT_EQ(std::string(name->data.begin(), name->data.end()), std::string("Emule\0", 6));
}

TEST(P2PStoredChoice, EmptyChoiceIsOneZeroByteEach) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteChoice("Emule", "C:\\e\\eMule.exe");
    find.WriteChoice("", "");
    for (const char* value : {"APP_NAME", "APP_PATH"}) {
        const auto* stored = registry.Find(HKCU, kOptionKey, value);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->data, std::vector<std::uint8_t>{0});
    }
    EXPECT_EQ(find.ReadAppName(), "");
    EXPECT_EQ(find.ReadAppPath(), "");
}

TEST(P2PStoredChoice, NameOf49CharactersReadsBackAnd50ReadsEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteChoice(std::string(49, 'n'), "");
    EXPECT_EQ(find.ReadAppName(), std::string(49, 'n'));
    find.WriteChoice(std::string(50, 'n'), "");
    EXPECT_EQ(find.ReadAppName(), "");
    // The value itself is kept whole; only this read cannot take it.
    EXPECT_EQ(registry.GetString(HKCU, kOptionKey, "APP_NAME"), std::string(50, 'n'));
}

TEST(P2PStoredChoice, PathOf999CharactersReadsBackAnd1000ReadsEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteChoice("", std::string(999, 'p'));
    EXPECT_EQ(find.ReadAppPath(), std::string(999, 'p'));
    find.WriteChoice("", std::string(1000, 'p'));
    EXPECT_EQ(find.ReadAppPath(), "");
}

TEST(P2PStoredChoice, NumberValueReadsAsItsBytesUpToTheFirstZero) {
    FakeRegistry registry;
    registry.SetDword(HKCU, kOptionKey, "APP_NAME", 0x00434241); // "ABC\0"
    EXPECT_EQ(CFindP2PDlg(registry).ReadAppName(), "ABC");
}

TEST(P2PStoredChoice, FailuresKeepTheOldChoiceAndReportNothing) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteChoice("Emule", "C:\\e\\eMule.exe");
    registry.failSet = true;
    find.WriteChoice("Kazaa", "C:\\k\\Kazaa.exe");
    registry.failSet = false;
    registry.failCreate = true;
    find.WriteChoice("Kazaa", "C:\\k\\Kazaa.exe");
    EXPECT_EQ(find.ReadAppName(), "Emule");
    registry.failOpen = true;
    EXPECT_EQ(find.ReadAppName(), "");
}

} // namespace
